#include "app/app_delegate.h"

#include <QIcon>
#include <QSystemTrayIcon>

#include "app/panel_window.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "ui/content_view.h"

namespace {

constexpr int trayWatchIntervalMs = 2000;

QIcon folderIcon() {
    return QIcon::fromTheme(QStringLiteral("folder"),
                            QIcon(QStringLiteral(":/zorvant/folder.png")));
}

} // namespace

AppDelegate::AppDelegate(Environment environment) : m_environment(std::move(environment)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::applicationDidFinishLaunching() {
    auto* content = new ContentView(m_environment.services, m_environment.opener);
    m_popover = std::make_unique<PanelWindow>(content);

    m_statusItem = std::make_unique<QSystemTrayIcon>();
    m_statusItem->setIcon(folderIcon());
    m_statusItem->setToolTip(QStringLiteral("Dockets"));
    connect(m_statusItem.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // On X11 the second of two quick clicks arrives as a double click, and
                // not as a second trigger: it is a click on the icon all the same.
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    togglePopover();
            });

    if (hasButton()) {
        m_statusItem->show();
        return;
    }
    diagnostic("Zorvant: no system tray was found; launch Zorvant again to show the panel.");
    m_trayWatch.setInterval(trayWatchIntervalMs);
    connect(&m_trayWatch, &QTimer::timeout, this, [this] {
        if (!hasButton())
            return;
        m_trayWatch.stop();
        m_statusItem->show();
    });
    m_trayWatch.start();
}

bool AppDelegate::hasButton() const {
    return m_statusItem && m_environment.trayAvailable();
}

void AppDelegate::togglePopover() {
    if (m_popover->isShown()) {
        m_popover->performClose();
        return;
    }
    if (m_popover->justClosedOnDeactivation())
        return;
    if (!hasButton())
        return;
    showInTray();
    activateAndRequestFocus({});
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
    m_popover->showRelativeTo(m_statusItem->geometry());
}

void AppDelegate::activateAndRequestFocus(const QByteArray& activationToken) {
    m_popover->activate(activationToken);
    NotificationCenter::defaultCenter().post(focusRequestNotification());
}
