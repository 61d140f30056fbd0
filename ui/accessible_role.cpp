#include "ui/accessible_role.h"

#include <QAccessibleWidget>
#include <QWidget>

namespace {

constexpr char roleProperty[] = "zorvantAccessibleRole";

QAccessibleInterface* withChosenRole(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget)
        return nullptr;
    const QVariant role = widget->property(roleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(widget, static_cast<QAccessible::Role>(role.toInt()));
}

} // namespace

void setAccessibleRole(QWidget* widget, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(withChosenRole);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(roleProperty, static_cast<int>(role));
}
