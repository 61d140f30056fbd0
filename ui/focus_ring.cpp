#include "ui/focus_ring.h"

#include <cmath>

#include <QApplication>
#include <QEvent>
#include <QPainter>

namespace {

constexpr char ownRingProperty[] = "zorvantOwnFocusRing";
// The ring is this wide, and this far from the control's edge.
constexpr int ringWidth = 2;
constexpr int ringGap = 2;
constexpr double minimumContrast = 4.5;

double luminance(const QColor& colour) {
    const auto channel = [](double value) {
        return value <= 0.03928 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.redF()) + 0.7152 * channel(colour.greenF()) +
           0.0722 * channel(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor mixed(const QColor& from, const QColor& to, double share) {
    return QColor::fromRgbF(from.redF() + (to.redF() - from.redF()) * share,
                            from.greenF() + (to.greenF() - from.greenF()) * share,
                            from.blueF() + (to.blueF() - from.blueF()) * share);
}

} // namespace

FocusRing::FocusRing(QWidget* area) : QWidget(area) {
    setObjectName(QStringLiteral("focusRing"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    hide();
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { follow(now); });
}

QColor FocusRing::colour(const QPalette& palette) {
    const QColor background = palette.color(QPalette::Window);
    const QColor highlight = palette.color(QPalette::Highlight);
    const QColor extreme = luminance(background) < 0.18 ? QColor(Qt::white) : QColor(Qt::black);
    for (int step = 0; step <= 10; ++step) {
        const QColor candidate = mixed(highlight, extreme, step / 10.0);
        if (contrast(candidate, background) >= minimumContrast)
            return candidate;
    }
    return extreme;
}

void FocusRing::markOwnRing(QWidget* control) {
    control->setProperty(ownRingProperty, true);
}

void FocusRing::follow(QWidget* control) {
    for (const QPointer<QWidget>& watched : m_watched) {
        if (watched)
            watched->removeEventFilter(this);
    }
    m_watched.clear();
    m_target = nullptr;
    QWidget* area = parentWidget();
    if (control && area->isAncestorOf(control) && !control->property(ownRingProperty).toBool()) {
        m_target = control;
        for (QWidget* widget = control; widget && widget != area; widget = widget->parentWidget()) {
            widget->installEventFilter(this);
            m_watched.emplace_back(widget);
        }
    }
    place();
}

void FocusRing::place() {
    if (!m_target || !m_target->isVisible()) {
        hide();
        return;
    }
    constexpr int margin = ringWidth + ringGap;
    const QRect around(m_target->mapTo(parentWidget(), QPoint(0, 0)), m_target->size());
    setGeometry(around.adjusted(-margin, -margin, margin, margin));
    raise();
    show();
    update();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        place();
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(colour(palette()), ringWidth);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal inset = ringWidth / 2.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), 4, 4);
}
