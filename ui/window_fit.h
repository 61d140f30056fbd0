#pragma once

#include <QRect>

class QDialog;
class QWidget;

// Where a window goes to lie wholly inside an area: where it is when it fits, moved in when it
// does not, and never larger than the area.
QRect fittedInto(const QRect& window, const QRect& area);

// Keeps a dialog that the panel opens (the folder chooser) within the available area of the
// panel's screen, whichever dialog the platform theme supplies: Qt's own, which is a widget,
// or, on X11, a native one that another toolkit draws inside this process. The GTK chooser
// of GNOME and XFCE opens 822 pixels tall, taller than an 800-pixel screen. A native dialog
// also hands the keyboard back to the panel as it closes. Call it once the dialog is open.
void keepDialogOnScreen(QDialog* dialog, const QWidget* panel);
