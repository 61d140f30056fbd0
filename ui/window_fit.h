#pragma once

#include <QPoint>
#include <QRect>

class QDialog;
class QWidget;

// Where a rectangle goes to lie inside an area: where it is when it fits, moved in when it does
// not. One larger than the area keeps its top-left corner inside it.
QPoint movedInto(const QRect& rect, const QRect& area);

// The same, and never larger than the area: shrunk to it first.
QRect fittedInto(const QRect& window, const QRect& area);

// Keeps a dialog that the panel opens (the folder chooser) within the available area of the
// panel's screen. Call it once the dialog is open.
void keepDialogOnScreen(QDialog* dialog, const QWidget* panel);
