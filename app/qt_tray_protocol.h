#pragma once

// Which protocol Qt's own QSystemTrayIcon settled on in this process. Qt decides once, when
// the first icon is made: StatusNotifierItem when a StatusNotifierWatcher with a registered
// host is on the session bus then, XEmbed otherwise, and for good. No public API says which;
// this asks a Qt internal, in this one place, and tests/app/qt_tray_protocol_test.cpp fails
// should a Qt release stop answering it.
//
// True once Qt has made a StatusNotifierItem icon of its own; false while it has made none, or
// only XEmbed ones.
bool qtMadeAStatusNotifierIcon();
