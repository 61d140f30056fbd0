#include "ui/window_fit.h"

#include <algorithm>

#include <QDialog>
#include <QScreen>

namespace {

int startInside(int start, int length, int areaStart, int areaLength) {
    return std::clamp(start, areaStart, std::max(areaStart, areaStart + areaLength - length));
}

} // namespace

QPoint movedInto(const QRect& rect, const QRect& area) {
    return {startInside(rect.x(), rect.width(), area.x(), area.width()),
            startInside(rect.y(), rect.height(), area.y(), area.height())};
}

QRect fittedInto(const QRect& window, const QRect& area) {
    const QSize size = window.size().boundedTo(area.size());
    return {movedInto(QRect(window.topLeft(), size), area), size};
}

void keepDialogOnScreen(QDialog* dialog, const QWidget* panel) {
    const QScreen* screen = panel->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    if (area.isEmpty())
        return;
    const QRect frame = dialog->frameGeometry();
    const QRect target = fittedInto(frame, area);
    if (target == frame)
        return;
    const QSize decoration = frame.size() - dialog->geometry().size();
    dialog->resize(target.size() - decoration);
    dialog->move(target.topLeft());
}
