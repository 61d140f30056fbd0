#include "ui/live_label.h"

#include <QAccessible>

#include "ui/accessible_role.h"

LiveLabel::LiveLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setAccessibleRole(this, QAccessible::Notification);
}

void LiveLabel::setMessage(const std::optional<QString>& message) {
    const bool wasShown = isVisibleTo(parentWidget());
    const QString text = message.value_or(QString());
    const bool changed = text != this->text();
    setText(text);
    setAccessibleName(text);
    // Coming into view announces it by itself.
    setVisible(message.has_value());
    if (message && wasShown && changed && isVisible()) {
        QAccessibleEvent shown(this, QAccessible::ObjectShow);
        QAccessible::updateAccessibility(&shown);
    }
}
