#include "ui/recents_list.h"

#include <algorithm>
#include <map>

#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/button_text.h"

namespace {

constexpr int rowSpacing = 8;
constexpr int verticalPadding = 4;
constexpr int rowsPerBatch = 40;

} // namespace

RecentsList::RecentsList(QWidget* parent)
    : QScrollArea(parent), m_content(new QWidget), m_layout(new QVBoxLayout(m_content)),
      m_rowBudget(rowsPerBatch) {
    setObjectName(QStringLiteral("recentsList"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::NoFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    setMaximumHeight(maximumListHeight);

    m_layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    m_layout->setSpacing(rowSpacing);
    m_layout->addStretch();
    m_content->setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setWidget(m_content);

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &RecentsList::buildMoreIfNearEnd);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this,
            [this] { buildMoreIfNearEnd(verticalScrollBar()->value()); });
}

void RecentsList::setActivationHandler(std::function<void(const RecentDocket&)> handler) {
    m_activate = std::move(handler);
}

void RecentsList::setDockets(const std::vector<RecentDocket>& dockets) {
    m_dockets = dockets;
    buildRows();
}

QPushButton* RecentsList::makeRow() {
    auto* button = new QPushButton(m_content);
    button->setObjectName(QStringLiteral("recentRow"));
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    button->setStyleSheet(QStringLiteral(
        "QPushButton { text-align: left; border: none; padding: 1px 0; color: palette(link); }"
        "QPushButton:hover { text-decoration: underline; }"
        "QPushButton:focus { text-decoration: underline; }"));
    connect(button, &QPushButton::clicked, this, [this, button] {
        for (std::size_t i = 0; i < m_rows.size(); ++i) {
            if (m_rows[i].button == button && m_activate) {
                // Copy: the handler may change the list, and with it this row.
                const RecentDocket docket = m_dockets[i];
                m_activate(docket);
                return;
            }
        }
    });
    return button;
}

void RecentsList::buildRows() {
    const std::size_t wanted = std::min(m_dockets.size(), static_cast<std::size_t>(m_rowBudget));

    // Rows are identified by the entry's id; a stored list may hold an id more than once,
    // so each occurrence gets its own row.
    std::multimap<std::string, QPushButton*> reusable;
    for (const Row& row : m_rows)
        reusable.emplace(row.key, row.button);

    std::vector<Row> rows;
    rows.reserve(wanted);
    std::map<std::string, int> occurrences;
    for (std::size_t i = 0; i < wanted; ++i) {
        const RecentDocket& docket = m_dockets[i];
        const std::string id = docket.id();
        const std::string key = id + '#' + std::to_string(occurrences[id]++);
        QPushButton* button = nullptr;
        if (auto it = reusable.find(key); it != reusable.end()) {
            button = it->second;
            reusable.erase(it);
        } else {
            button = makeRow();
        }
        const QString name = QString::fromStdString(docket.displayName());
        button->setText(literalButtonText(name));
        button->setAccessibleName(name);
        button->setToolTip(name);
        rows.push_back({key, button});
    }
    for (const auto& [key, button] : reusable)
        delete button;

    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_layout->removeWidget(rows[i].button);
        m_layout->insertWidget(static_cast<int>(i), rows[i].button);
    }
    m_rows = std::move(rows);
    // Tab follows the list from the top, not the order in which rows happened to be made.
    for (std::size_t i = 1; i < m_rows.size(); ++i)
        QWidget::setTabOrder(m_rows[i - 1].button, m_rows[i].button);
    updateGeometry();
}

void RecentsList::buildMoreIfNearEnd(int scrollValue) {
    if (m_rows.size() >= m_dockets.size())
        return;
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() - scrollValue > viewport()->height())
        return;
    m_rowBudget += rowsPerBatch;
    buildRows();
}

QSize RecentsList::sizeHint() const {
    const int contentHeight = m_content->sizeHint().height();
    return {QScrollArea::sizeHint().width(), std::min(contentHeight, maximumListHeight)};
}

QSize RecentsList::minimumSizeHint() const {
    const int oneRow = m_rows.empty() ? 0 : m_rows.front().button->sizeHint().height();
    return {0, std::min(oneRow + 2 * verticalPadding, maximumListHeight)};
}
