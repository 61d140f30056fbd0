#pragma once

#include <QAccessible>

class QWidget;

// Gives a widget an accessible role that its class does not have, such as the panel's window
// (a dialog rather than a filler). Set it before the widget is first shown: assistive
// technology asks once and keeps the answer.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);
