#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

// One entry of a tray menu: its label, shown exactly as written (no mnemonic markers), and
// what choosing it does.
struct MenuEntry {
    std::string label;
    std::function<void()> chosen;
};

class DBusMenuAdaptor;

// A flat menu of plain entries over com.canonical.dbusmenu: the menu that StatusNotifierItem
// hosts draw themselves for an item (Plasma and XFCE on a right click, GNOME's AppIndicator
// extension on a single click). Entries are numbered from 1 in order; 0 is the root.
class DBusMenu {
public:
    explicit DBusMenu(std::vector<MenuEntry> entries);
    ~DBusMenu();
    DBusMenu(const DBusMenu&) = delete;
    DBusMenu& operator=(const DBusMenu&) = delete;

    // Exports the menu at an object path on the Qt D-Bus connection of that name. False when
    // the path is taken or the connection is down.
    bool exportOn(const std::string& connectionName, const std::string& objectPath);

private:
    std::unique_ptr<DBusMenuAdaptor> m_adaptor;
};
