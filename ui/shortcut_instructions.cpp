#include "ui/shortcut_instructions.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

struct DesktopSteps {
    // As XDG_CURRENT_DESKTOP names it.
    const char* desktop;
    const char* steps;
};

// The same steps as the README's table.
constexpr DesktopSteps everyDesktop[] = {
    {"GNOME", "GNOME: Settings → Keyboard → View and Customize Shortcuts → Custom Shortcuts → "
              "Add Shortcut"},
    {"KDE", "KDE Plasma: System Settings → Shortcuts → Add Command"},
    {"XFCE", "XFCE: Settings → Keyboard → Application Shortcuts → Add"},
    {"LXQt", "LXQt: LXQt Configuration Center → Shortcut Keys → Add"},
    {"MATE", "MATE: Keyboard Shortcuts → Add"},
    {"X-Cinnamon", "Cinnamon: Keyboard → Shortcuts → Custom Shortcuts → Add custom shortcut"},
};

} // namespace

QString ShortcutInstructions::stepsFor(const QString& currentDesktop) {
    const QStringList names = currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    QStringList steps;
    for (const DesktopSteps& one : everyDesktop)
        if (names.contains(QLatin1String(one.desktop), Qt::CaseInsensitive))
            return tr(one.steps);
    for (const DesktopSteps& one : everyDesktop)
        steps << tr(one.steps);
    return steps.join(QLatin1Char('\n'));
}

ShortcutInstructions::ShortcutInstructions(const QString& currentDesktop, const QString& command,
                                           QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(tr("Keyboard Shortcut"));
    setObjectName(QStringLiteral("shortcutInstructions"));
    auto* layout = new QVBoxLayout(this);

    auto* intro = new QLabel(
        tr("Starting Zorvant while it runs brings up its panel. Bind a keyboard shortcut to the "
           "command below in your desktop's keyboard settings:"),
        this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* steps = new QLabel(stepsFor(currentDesktop), this);
    steps->setObjectName(QStringLiteral("shortcutSteps"));
    steps->setTextFormat(Qt::PlainText);
    steps->setWordWrap(true);
    steps->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(steps);

    auto* commandRow = new QHBoxLayout;
    m_command = new QLineEdit(command, this);
    m_command->setObjectName(QStringLiteral("shortcutCommand"));
    m_command->setReadOnly(true);
    m_command->setAccessibleName(tr("Command"));
    commandRow->addWidget(m_command, 1);
    auto* copy = new QPushButton(tr("Copy"), this);
    copy->setObjectName(QStringLiteral("copyCommandButton"));
    copy->setAutoDefault(false);
    connect(copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_command->text()); });
    commandRow->addWidget(copy);
    layout->addLayout(commandRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    m_command->setFocus();
    m_command->selectAll();
    // Wide enough for a desktop's steps on a line, and as tall as the text then needs.
    const int lineWidth = fontMetrics().averageCharWidth() * 72;
    intro->setMinimumWidth(lineWidth);
    steps->setMinimumWidth(lineWidth);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}
