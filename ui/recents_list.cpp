#include "ui/recents_list.h"

#include <algorithm>
#include <map>

#include <QEvent>
#include <QScrollBar>
#include <QVBoxLayout>

#include "ui/elided_button.h"
#include "ui/focus_ring.h"
#include "ui/key_repeat_guard.h"

namespace {

constexpr int rowSpacing = 8;
constexpr int verticalPadding = 4;
constexpr int rowsPerBatch = 40;

// A link: no bevel, the link colour, underlined under the pointer. The keyboard focus is a
// ring drawn inside the row, where the list's edge cannot clip it; the transparent ring keeps
// the text still as focus comes and goes.
QString rowStyle(const QPalette& palette) {
    return QStringLiteral("QPushButton { text-align: left; border: 2px solid transparent;"
                          " border-radius: 4px; padding: 1px 3px; background: transparent;"
                          " color: palette(link); }"
                          "QPushButton:hover { text-decoration: underline; }"
                          "QPushButton:focus { border-color: %1; }")
        .arg(FocusRing::colour(palette).name());
}

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

std::vector<QPushButton*> RecentsList::rows() const {
    std::vector<QPushButton*> buttons;
    buttons.reserve(m_rows.size());
    for (const Row& row : m_rows)
        buttons.push_back(row.button);
    return buttons;
}

ElidedButton* RecentsList::makeRow() {
    auto* button = new ElidedButton(m_content);
    button->setObjectName(QStringLiteral("recentRow"));
    button->setFlat(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::TabFocus);
    button->setStyleSheet(rowStyle(palette()));
    FocusRing::markOwnRing(button);
    button->installEventFilter(this);
    KeyRepeatGuard::forApplication().guard(button);
    // At once, not when the layout gets round to it: Tab passes over hidden rows, and a row
    // made because the keyboard reached the one above is the next Tab's stop.
    button->show();
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
    std::multimap<std::string, ElidedButton*> reusable;
    for (const Row& row : m_rows)
        reusable.emplace(row.key, row.button);

    std::vector<Row> rows;
    rows.reserve(wanted);
    std::map<std::string, int> occurrences;
    for (std::size_t i = 0; i < wanted; ++i) {
        const RecentDocket& docket = m_dockets[i];
        const std::string id = docket.id();
        const std::string key = id + '#' + std::to_string(occurrences[id]++);
        ElidedButton* button = nullptr;
        if (auto it = reusable.find(key); it != reusable.end()) {
            button = it->second;
            reusable.erase(it);
        } else {
            button = makeRow();
        }
        button->setFullText(QString::fromStdString(docket.displayName()));
        rows.push_back({key, button});
    }
    // Later: the row may be the one whose press is being handled.
    for (const auto& [key, button] : reusable) {
        button->hide();
        button->setParent(nullptr);
        button->deleteLater();
    }

    for (std::size_t i = 0; i < rows.size(); ++i) {
        m_layout->removeWidget(rows[i].button);
        m_layout->insertWidget(static_cast<int>(i), rows[i].button);
    }
    m_rows = std::move(rows);
    updateGeometry();
    Q_EMIT rowsChanged();
}

void RecentsList::buildMoreIfNearEnd(int scrollValue) {
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() - scrollValue <= viewport()->height())
        buildMore();
}

void RecentsList::buildMore() {
    if (m_rows.size() >= m_dockets.size())
        return;
    m_rowBudget += rowsPerBatch;
    buildRows();
}

void RecentsList::changeEvent(QEvent* event) {
    QScrollArea::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        for (const Row& row : m_rows)
            row.button->setStyleSheet(rowStyle(palette()));
    }
}

bool RecentsList::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        // The keyboard reaches the last row built: build the next ones, so that Tab goes on
        // down the list rather than leaving it.
        if (!m_rows.empty() && watched == m_rows.back().button)
            buildMore();
        // The list scrolls by itself only for focus moving within it, not into it.
        ensureWidgetVisible(static_cast<QWidget*>(watched), 0, 0);
    }
    return QScrollArea::eventFilter(watched, event);
}

QSize RecentsList::sizeHint() const {
    const int contentHeight = m_content->sizeHint().height();
    return {QScrollArea::sizeHint().width(), std::min(contentHeight, maximumListHeight)};
}

QSize RecentsList::minimumSizeHint() const {
    const int oneRow = m_rows.empty() ? 0 : m_rows.front().button->sizeHint().height();
    return {0, std::min(oneRow + 2 * verticalPadding, maximumListHeight)};
}
