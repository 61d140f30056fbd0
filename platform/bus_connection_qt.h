#pragma once

// Qt's side of the platform's D-Bus clients, for platform's .cpp files alone: it brings in Qt,
// and the headers that other folders include speak standard C++ only.

#include <string>

#include <QDBusConnection>
#include <QString>

#include "platform/bus_connection.h"

// The clients keep names and paths as std::string, as their headers speak; Qt's calls take
// QString.
inline QString qString(const std::string& text) {
    return QString::fromStdString(text);
}

// The connection as Qt knows it, by the name BusConnection gave it.
inline QDBusConnection qtConnection(const BusConnection& bus) {
    return QDBusConnection(qString(bus.name()));
}
