#include "ui/conflict_sheet.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/accessible_role.h"
#include "ui/elided_button.h"
#include "ui/focus_ring.h"

namespace {

QString objectNameFor(ConflictChoice::Role role) {
    switch (role) {
    case ConflictChoice::Role::legacy:
        return QStringLiteral("conflictLegacyButton");
    case ConflictChoice::Role::j:
        return QStringLiteral("conflictJButton");
    case ConflictChoice::Role::cancel:
        return QStringLiteral("conflictCancelButton");
    }
    return {};
}

} // namespace

ConflictSheet::ConflictSheet(const QString& title, QWidget* parent)
    : QFrame(parent), m_card(new QFrame(this)), m_title(new QLabel(title, m_card)),
      m_buttons(new QVBoxLayout) {
    setObjectName(QStringLiteral("conflictSheet"));
    // A dialog named by its title, which screen readers announce as focus moves into it.
    setAccessibleRole(this, QAccessible::Dialog);
    setAccessibleName(title);
    setFocusPolicy(Qt::StrongFocus);

    m_card->setObjectName(QStringLiteral("conflictCard"));
    m_card->setFrameShape(QFrame::StyledPanel);
    m_card->setAutoFillBackground(true);
    m_card->setBackgroundRole(QPalette::Window);

    m_title->setObjectName(QStringLiteral("conflictTitle"));
    m_title->setTextFormat(Qt::PlainText);
    m_title->setWordWrap(true);
    m_title->setAlignment(Qt::AlignCenter);
    QFont titleFont = m_title->font();
    titleFont.setBold(true);
    m_title->setFont(titleFont);

    auto* cardLayout = new QVBoxLayout(m_card);
    cardLayout->setSpacing(12);
    cardLayout->addWidget(m_title);
    cardLayout->addLayout(m_buttons);
    m_buttons->setSpacing(6);

    new FocusRing(m_card);

    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(16, 16, 16, 16);
    outer->addStretch();
    outer->addWidget(m_card);
    outer->addStretch();

    parent->installEventFilter(this);
    hide();
}

void ConflictSheet::setChoiceHandler(std::function<void(const ConflictChoice&)> handler) {
    m_handler = std::move(handler);
}

void ConflictSheet::present(const std::vector<ConflictChoice>& choices) {
    while (QLayoutItem* item = m_buttons->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    m_choices = choices;

    QPushButton* first = nullptr;
    for (const ConflictChoice& choice : m_choices) {
        // Folder names can be long: elided as the recent rows are, whole for screen readers.
        auto* button = new ElidedButton(m_card);
        button->setObjectName(objectNameFor(choice.role));
        button->setFullText(QString::fromStdString(choice.label));
        const ConflictChoice copy = choice;
        connect(button, &QPushButton::clicked, this, [this, copy] { close(copy); });
        m_buttons->addWidget(button);
        if (!first)
            first = button;
    }

    setGeometry(parentWidget()->rect());
    show();
    raise();
    // As if reached by Tab, so that the focused choice shows its focus frame at once: styles
    // draw it only once the window has seen keyboard navigation.
    window()->setAttribute(Qt::WA_KeyboardFocusChange);
    if (first)
        first->setFocus(Qt::TabFocusReason);
}

void ConflictSheet::dismiss() {
    for (const ConflictChoice& choice : m_choices) {
        if (choice.role == ConflictChoice::Role::cancel) {
            close(choice);
            return;
        }
    }
    close({ConflictChoice::Role::cancel, "Cancel", std::nullopt});
}

void ConflictSheet::close(const ConflictChoice& choice) {
    hide();
    if (m_handler)
        m_handler(choice);
}

void ConflictSheet::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        dismiss();
        event->accept();
        return;
    }
    QFrame::keyPressEvent(event);
}

void ConflictSheet::paintEvent(QPaintEvent*) {
    // Dim the panel's content behind the sheet.
    QPainter painter(this);
    QColor shade = palette().color(QPalette::Shadow);
    shade.setAlpha(110);
    painter.fillRect(rect(), shade);
}

bool ConflictSheet::eventFilter(QObject* watched, QEvent* event) {
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return QFrame::eventFilter(watched, event);
}
