#pragma once

#include <optional>

#include <QPoint>
#include <QRect>
#include <QSize>

// Whether a rectangle can anchor the panel. Under StatusNotifierItem the tray icon's
// geometry is always empty.
bool isUsableAnchor(const std::optional<QRect>& anchor);

// Where the panel goes: under (or, near the bottom of the screen, over) the tray icon when
// its rectangle is known, otherwise by the cursor, otherwise centred; always wholly inside
// the available area of the screen.
QPoint panelPosition(QSize panel, const QRect& available, const std::optional<QRect>& anchor,
                     const std::optional<QPoint>& cursor);
