#pragma once

#include <optional>

#include <QPoint>
#include <QRect>
#include <QSize>

// Whether a rectangle can anchor the panel. Under StatusNotifierItem the tray icon's
// geometry is always empty.
bool isUsableAnchor(const std::optional<QRect>& anchor);

// The panel's size in the available area of its screen: its preferred size, shrunk to what
// the area allows. By a tray icon (or click) that lies inside the area, as with a tray that
// reserves no room for itself, it also shrinks to the room beside that point rather than
// cover it, as long as at least half of its preferred height is left.
QSize panelSizeWithin(QSize preferred, const QRect& available, const std::optional<QRect>& anchor,
                      const std::optional<QPoint>& cursor);

// Where the panel goes: under (or, near the bottom of the screen, over) the tray icon when
// its rectangle is known, otherwise by the cursor, otherwise centred; always wholly inside
// the available area of the screen.
QPoint panelPosition(QSize panel, const QRect& available, const std::optional<QRect>& anchor,
                     const std::optional<QPoint>& cursor);
