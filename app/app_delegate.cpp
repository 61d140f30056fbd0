#include "app/app_delegate.h"

#include <utility>

#include <QTimer>

#include "app/panel_placement.h"
#include "app/panel_window.h"
#include "app/status_item.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/x11_window_hints.h"
#include "ui/content_view.h"
#include "ui/shortcut_instructions.h"

AppDelegate::AppDelegate(Environment environment) : m_environment(std::move(environment)) {
    m_iconPlacePatience.setSingleShot(true);
    m_iconPlacePatience.setInterval(ActivationPolicy::iconPlacePatience);
    connect(&m_iconPlacePatience, &QTimer::timeout, this, [this] {
        m_iconPlaceWaitOver = true;
        showAtLaunchNow();
    });
}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    auto* content = new ContentView(m_environment.services, m_environment.opener);
    // One policy times both: the icon's clicks and the panel's activation belong together.
    auto policy = std::make_shared<ActivationPolicy>(m_environment.clock);
    m_popover = std::make_unique<PanelWindow>(content, policy);

    m_statusItem = std::make_unique<StatusItem>(m_environment.statusNotifierBus, policy);
    connect(m_statusItem.get(), &StatusItem::clicked, this, &AppDelegate::togglePopover);
    // The menu's entry shows the panel, or brings it forward, as a second launch does.
    connect(m_statusItem.get(), &StatusItem::showRequested, this,
            [this] { applicationShouldHandleReopen(m_popover->isShown()); });
    // Said once the desktop has answered where the icon is, which a hung panel may put off.
    connect(m_statusItem.get(), &StatusItem::settled, this, [this] {
        if (!hasButton())
            diagnostic(
                "Zorvant: no system tray was found; launch Zorvant again to show the panel.");
        if (std::exchange(m_showWhenSettled, false))
            showAtLaunchNow();
    });
    m_statusItem->show();

    m_shortcuts = std::make_unique<ShortcutSetup>(m_environment.shortcuts);
    connect(m_statusItem.get(), &StatusItem::shortcutRequested, this, &AppDelegate::setUpShortcut);
    connect(content, &ContentView::keyboardShortcutRequested, this, &AppDelegate::setUpShortcut);
    connect(m_shortcuts.get(), &ShortcutSetup::answered, this,
            [this](const QString& line, bool failed, bool settingsOpened) {
                m_popover->contentView()->setShortcutNote(line, failed);
                // The desktop's settings, when they opened, show the shortcut themselves; the
                // note waits in the panel for its next showing.
                if (!settingsOpened)
                    applicationShouldHandleReopen(m_popover->isShown());
            });
    connect(m_shortcuts.get(), &ShortcutSetup::answerWithdrawn, this,
            [this] { m_popover->contentView()->setShortcutNote(QString(), false); });
    connect(m_shortcuts.get(), &ShortcutSetup::instructionsNeeded, this,
            &AppDelegate::showShortcutInstructions);
    connect(m_shortcuts.get(), &ShortcutSetup::activated, this, &AppDelegate::shortcutPressed);
    // A shortcut bound in an earlier run works from the start: once the tray has answered, so
    // that the portal, which the bus may have to start first, never holds up the icon.
    if (m_statusItem->isSettled())
        m_shortcuts->start();
    else
        connect(m_statusItem.get(), &StatusItem::settled, m_shortcuts.get(), &ShortcutSetup::start,
                Qt::SingleShotConnection);
}

void AppDelegate::setUpShortcut() {
    m_shortcuts->setUp();
}

void AppDelegate::showShortcutInstructions() {
    // A window of its own: the panel closes as soon as something else has the keyboard.
    if (!m_instructions)
        m_instructions = std::make_unique<ShortcutInstructions>(
            m_environment.shortcuts.currentDesktop, m_environment.shortcuts.command);
    m_instructions->show();
    m_instructions->raise();
    m_instructions->activateWindow();
}

void AppDelegate::showPanelAtLaunch(const QByteArray& activationToken) {
    m_launchToken = activationToken;
    // Before the desktop has answered, nobody knows whether there is an icon to put it by.
    if (!m_statusItem->isSettled()) {
        m_showWhenSettled = true;
        return;
    }
    m_iconPlaceWaitOver = false;
    showAtLaunchNow();
}

void AppDelegate::showAtLaunchNow() {
    // Shown meanwhile, or to wait for the desktop's answer after all.
    if (m_popover->isShown() || m_showWhenSettled) {
        stopWaitingForIconPlace();
        return;
    }
    // A StatusNotifierItem tray says where its icon is only with a click, and the cursor is
    // wherever the menu or the launcher left it: the middle of the screen is the place then.
    const auto anchor = hasButton() ? m_statusItem->anchor() : std::nullopt;
    // An XEmbed icon made a moment ago sits at the screen's origin until the tray has taken
    // it in: wait for its place rather than open the panel in the corner.
    if (anchor && anchor->topLeft() == QPoint(0, 0) && waitForIconPlace())
        return;
    stopWaitingForIconPlace();
    noteTray();
    if (isUsableAnchor(anchor))
        m_popover->showRelativeTo(anchor);
    else
        m_popover->showCentred();
    if (isUsableAnchor(anchor))
        followIcon(*anchor);
    activateAndRequestFocus(std::exchange(m_launchToken, {}));
}

bool AppDelegate::waitForIconPlace() {
    if (m_iconPlaceWaitOver)
        return false;
    if (!m_waitingForIconPlace) {
        m_waitingForIconPlace = true;
        // The tray reparents the icon, moves it and maps it: the X server says when, and each
        // time the icon is asked where it is now. The patience covers a tray that never does.
        m_iconChanges = observeX11WindowChanges([this] { showAtLaunchNow(); });
        m_iconPlacePatience.start();
    }
    return true;
}

void AppDelegate::stopWaitingForIconPlace() {
    m_waitingForIconPlace = false;
    m_iconChanges.disconnect();
    m_iconPlacePatience.stop();
}

void AppDelegate::followIcon(const QRect& placedBy) {
    m_followedIcon = placedBy;
    m_iconFollowing = observeX11WindowChanges([this] {
        if (!m_popover->isShown()) {
            m_iconFollowing.disconnect();
            return;
        }
        const auto anchor = hasButton() ? m_statusItem->anchor() : std::nullopt;
        if (!isUsableAnchor(anchor) || *anchor == m_followedIcon)
            return;
        m_followedIcon = *anchor;
        m_popover->moveRelativeTo(anchor);
    });
}

void AppDelegate::noteTray() {
    m_popover->contentView()->setTrayMissing(m_statusItem->isSettled() && !hasButton());
}

bool AppDelegate::hasButton() const {
    return m_statusItem && m_statusItem->isInTray();
}

void AppDelegate::togglePopover(const QByteArray& activationToken) {
    if (m_popover->isShown()) {
        m_popover->performClose();
        return;
    }
    if (m_popover->justClosedOnDeactivation())
        return;
    if (!hasButton())
        return;
    showInTray();
    activateAndRequestFocus(activationToken);
}

bool AppDelegate::applicationShouldHandleReopen(bool, const QByteArray& activationToken) {
    if (m_waitingForIconPlace && !m_popover->isShown()) {
        // The panel is about to come up by the icon: this reopen is that showing.
        m_launchToken = activationToken;
        return true;
    }
    if (!m_popover->isShown() && m_statusItem->isSettled()) {
        // By the icon, once a new XEmbed icon is in its place (a reopen right after the start,
        // two launches at once, a hotkey at login).
        m_showWhenSettled = false;
        showPanelAtLaunch(activationToken);
        return true;
    }
    // Asked for before the desktop answered (a hotkey at login): this showing is that one.
    m_showWhenSettled = false;
    if (!m_popover->isShown()) {
        noteTray();
        if (hasButton())
            showInTray();
        else
            // Without a tray, a second launch is the only way in: show the panel anyway.
            m_popover->showCentred();
    }
    activateAndRequestFocus(activationToken);
    return true;
}

void AppDelegate::showInTray() {
    noteTray();
    m_popover->showRelativeTo(m_statusItem->anchor());
}

void AppDelegate::activateAndRequestFocus(const QByteArray& activationToken) {
    m_popover->activate(activationToken);
    NotificationCenter::defaultCenter().post(focusRequestNotification());
}
