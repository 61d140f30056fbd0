#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/bus_connection.h"
#include "platform/dbus_menu.h"
#include "platform/signal.h"

// One size of an icon, for hosts that cannot find the icon by its theme name: width × height
// pixels of four bytes each, alpha, red, green, blue.
struct IconImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> argb;
};

class QDBusMessage;
class StatusNotifierItemAdaptor;
class StatusNotifierWatcherLink;

// The program's icon in a StatusNotifierItem tray (Plasma, XFCE's status tray, GNOME with the
// AppIndicator extension), spoken over D-Bus by the program itself: Qt's own tray decides once
// per process whether such a tray is there, never notices one that comes later and drops the
// position a host passes with a click.
//
// The item lives at /StatusNotifierItem, its menu at /MenuBar. It registers with
// org.kde.StatusNotifierWatcher when started if a watcher is there, and again each time a
// watcher comes (a panel starting late or restarting). The watcher lives in the panel, and a
// hung panel must not hang the program: every question on the bus is asked without waiting, and
// the answers change the state when they come.
class StatusNotifierItem {
public:
    struct Appearance {
        // Stable for the application: hosts keep per-item settings under it.
        std::string id;
        // The item's name, for its tooltip and for screen readers.
        std::string title;
        // A theme icon name the host looks up itself, so the icon follows the panel's theme.
        std::string iconName;
        // The same icon for hosts whose theme lacks the name.
        std::vector<IconImage> iconImages;
    };

    // busAddress: the D-Bus address to appear on; empty for the session bus.
    StatusNotifierItem(Appearance appearance, std::vector<MenuEntry> menu,
                       const std::string& busAddress = {});
    ~StatusNotifierItem();
    StatusNotifierItem(const StatusNotifierItem&) = delete;
    StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

    // Puts the item and its menu on the bus and registers it with the watcher if there is one.
    // Returns at once; the answers come in the event loop.
    void start();

    // Whether a tray shows the item: the watcher took its registration and has a host.
    bool isInTray() const;

    // Whether the watcher said a StatusNotifierItem host is there, when last asked.
    bool hostIsRegistered() const;

    // Whether the bus has answered since start(): that there is no watcher, or that the watcher
    // took the item or refused it. Until then isInTray() is false for want of an answer.
    bool isSettled() const;

    // The host's Activate(x, y), the primary click. The activation token is the one the host
    // provided just before (GNOME does), or empty.
    [[nodiscard]] Connection observeActivation(
        std::function<void(int x, int y, const std::string& activationToken)> observer);
    // The host's ContextMenu(x, y): it wants the program to show its own menu there.
    [[nodiscard]] Connection observeContextMenuRequests(std::function<void(int x, int y)> observer);
    // isInTray() changed.
    [[nodiscard]] Connection observeTrayChanges(std::function<void()> observer);
    // isSettled() became true; once.
    [[nodiscard]] Connection observeSettling(std::function<void()> observer);

private:
    // Sends the call without waiting. Its answer goes to onAnswer when it comes, unless a watcher
    // came or went meanwhile: then it is about a watcher that is not the present one.
    void ask(const QDBusMessage& call,
             void (StatusNotifierItem::*onAnswer)(const QDBusMessage& reply));
    void tookName(const QDBusMessage& reply);
    void heardWhetherWatcherIsThere(const QDBusMessage& reply);
    void registerWithWatcher();
    void registrationAnswered(const QDBusMessage& reply);
    void registeredItemsAnswered(const QDBusMessage& reply);
    void askForHost();
    void hostAnswered(const QDBusMessage& reply);
    void lostWatcher();
    void setState(bool registered, bool hostRegistered);
    void settle();

    // First: the connection goes after everything that speaks on it.
    BusConnection m_bus;
    std::string m_serviceName;
    bool m_ownsServiceName = false;
    std::unique_ptr<StatusNotifierItemAdaptor> m_adaptor;
    std::unique_ptr<StatusNotifierWatcherLink> m_watcherLink;
    DBusMenu m_menu;
    bool m_registered = false;
    bool m_hostRegistered = false;
    bool m_settled = false;
    // Counts the watchers come and gone, so that an answer from one that has gone since is
    // not taken for the present one's.
    int m_watcherGeneration = 0;
    int m_retriesLeft = 0;
    // The last registration went unanswered: before registering again, ask whether it took.
    bool m_askBeforeRegistering = false;
    Signal<int, int, std::string> m_activated;
    Signal<int, int> m_contextMenuRequested;
    Signal<> m_trayChanged;
    Signal<> m_settling;
};
