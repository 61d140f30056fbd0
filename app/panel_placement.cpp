#include "app/panel_placement.h"

#include <utility>

#include "ui/window_fit.h"

namespace {

constexpr int gap = 4;

// Below the point when it lies in the upper half of the area, above it otherwise.
int verticalNear(int top, int bottom, int panelHeight, const QRect& available) {
    const bool upperHalf = (top + bottom) / 2 < available.center().y();
    return upperHalf ? bottom + 1 + gap : top - gap - panelHeight;
}

// The vertical extent of what the panel is placed by, if anything.
std::optional<std::pair<int, int>> anchorSpan(const std::optional<QRect>& anchor,
                                              const std::optional<QPoint>& cursor) {
    if (isUsableAnchor(anchor))
        return std::pair{anchor->top(), anchor->bottom()};
    if (cursor)
        return std::pair{cursor->y(), cursor->y()};
    return std::nullopt;
}

} // namespace

bool isUsableAnchor(const std::optional<QRect>& anchor) {
    return anchor && anchor->isValid() && !anchor->isEmpty();
}

QSize panelSizeWithin(QSize preferred, const QRect& available, const std::optional<QRect>& anchor,
                      const std::optional<QPoint>& cursor) {
    QSize size = preferred.boundedTo(available.size());
    const auto span = anchorSpan(anchor, cursor);
    // An icon outside the area sits in a panel that the area already leaves out.
    if (span && span->second >= available.top() && span->first <= available.bottom()) {
        const auto [top, bottom] = *span;
        // The same side as the panel's position below picks.
        const bool upperHalf = (top + bottom) / 2 < available.center().y();
        const int room =
            upperHalf ? available.bottom() - bottom - gap : top - gap - available.top();
        if (room < size.height() && room >= preferred.height() / 2)
            size.setHeight(room);
    }
    return size;
}

QPoint panelPosition(QSize panel, const QRect& available, const std::optional<QRect>& anchor,
                     const std::optional<QPoint>& cursor) {
    QPoint position;
    if (isUsableAnchor(anchor)) {
        position = {anchor->left() + (anchor->width() - panel.width()) / 2,
                    verticalNear(anchor->top(), anchor->bottom(), panel.height(), available)};
    } else if (cursor) {
        position = {cursor->x() - panel.width() / 2,
                    verticalNear(cursor->y(), cursor->y(), panel.height(), available)};
    } else {
        position = {available.left() + (available.width() - panel.width()) / 2,
                    available.top() + (available.height() - panel.height()) / 2};
    }
    // A panel larger than the area keeps its top-left corner inside it.
    return movedInto(QRect(position, panel), available);
}
