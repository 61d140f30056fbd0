#include "app/qt_tray_protocol.h"

#include <QMetaType>

// Qt registers this type the first time it makes its own StatusNotifierItem icon, which it does
// only when it settled on that protocol. A private type, asked for by name: no public API tells
// which protocol QSystemTrayIcon speaks. Checked against Qt 6.4.2.
bool qtMadeAStatusNotifierIcon() {
    return QMetaType::fromName("QXdgDBusToolTipStruct").isValid();
}
