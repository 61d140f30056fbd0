#pragma once

#include <vector>

#include <QPointer>
#include <QWidget>

// Draws the keyboard focus as a ring around whichever control inside its area has it, in a
// colour that stands out from the panel in light and dark themes alike. Styles draw focus
// faintly, or not at all, around some controls: a flat button, a button filled with the
// highlight colour, a field in a dark theme. A control that draws a ring of its own (a row
// inside a scrolling list, which would clip this one) says so with markOwnRing.
class FocusRing : public QWidget {
    Q_OBJECT
public:
    explicit FocusRing(QWidget* area);

    // The ring's colour: the palette's highlight, lightened or darkened as far as it takes
    // to stand out from the window at a contrast of at least 4.5:1.
    static QColor colour(const QPalette& palette);
    static void markOwnRing(QWidget* control);

    // The control the ring is drawn around, if any.
    QWidget* target() const { return m_target; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* control);
    void place();

    QPointer<QWidget> m_target;
    // The target and its parents up to the area: any of them moving moves the ring.
    std::vector<QPointer<QWidget>> m_watched;
};
