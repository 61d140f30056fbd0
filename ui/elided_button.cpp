#include "ui/elided_button.h"

#include <QEvent>
#include <QStyle>
#include <QStyleOptionButton>

#include "ui/button_text.h"

namespace {

// Styles disagree by a pixel or two on where a label starts; rather elide a little early
// than clip the last letter.
constexpr int safetyMargin = 2;

} // namespace

ElidedButton::ElidedButton(QWidget* parent) : QPushButton(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ElidedButton::setFullText(const QString& text) {
    if (text == m_fullText && !m_shownText.isNull())
        return;
    m_fullText = text;
    setToolTip(plainToolTip(text));
    setAccessibleName(text);
    updateShownText();
    updateGeometry();
}

int ElidedButton::chromeWidth() const {
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text.clear();
    option.icon = QIcon();
    const QSize contents(0, fontMetrics().height());
    return style()->sizeFromContents(QStyle::CT_PushButton, &option, contents, this).width() +
           safetyMargin;
}

QSize ElidedButton::sizeHint() const {
    const int textWidth = fontMetrics().horizontalAdvance(oneLine(m_fullText));
    return {chromeWidth() + textWidth, QPushButton::sizeHint().height()};
}

QSize ElidedButton::minimumSizeHint() const {
    return {chromeWidth() + fontMetrics().horizontalAdvance(QStringLiteral("…")),
            QPushButton::minimumSizeHint().height()};
}

void ElidedButton::updateShownText() {
    const int available = std::max(0, width() - chromeWidth());
    m_shownText = fontMetrics().elidedText(oneLine(m_fullText), Qt::ElideMiddle, available);
    const QString label = literalButtonText(m_shownText);
    if (text() != label)
        setText(label);
    // The accessible name stays the whole text whatever the label shows.
}

void ElidedButton::resizeEvent(QResizeEvent* event) {
    QPushButton::resizeEvent(event);
    updateShownText();
}

void ElidedButton::changeEvent(QEvent* event) {
    QPushButton::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        updateShownText();
}
