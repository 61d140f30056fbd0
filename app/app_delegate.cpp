#include "app/app_delegate.h"

#include "app/panel_window.h"
#include "app/status_item.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "ui/content_view.h"

AppDelegate::AppDelegate(Environment environment) : m_environment(std::move(environment)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    auto* content = new ContentView(m_environment.services, m_environment.opener);
    m_popover = std::make_unique<PanelWindow>(content);

    m_statusItem = std::make_unique<StatusItem>(m_environment.statusNotifierBus);
    connect(m_statusItem.get(), &StatusItem::clicked, this, &AppDelegate::togglePopover);
    // The menu's entry shows the panel, or brings it forward, as a second launch does.
    connect(m_statusItem.get(), &StatusItem::showRequested, this,
            [this] { applicationShouldHandleReopen(m_popover->isShown()); });
    // Said once the desktop has answered where the icon is, which a hung panel may put off.
    connect(m_statusItem.get(), &StatusItem::settled, this, [this] {
        if (!hasButton())
            diagnostic(
                "Zorvant: no system tray was found; launch Zorvant again to show the panel.");
    });
    m_statusItem->show();
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
    if (!m_popover->isShown()) {
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
    m_popover->showRelativeTo(m_statusItem->anchor());
}

void AppDelegate::activateAndRequestFocus(const QByteArray& activationToken) {
    m_popover->activate(activationToken);
    NotificationCenter::defaultCenter().post(focusRequestNotification());
}
