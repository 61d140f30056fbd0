#pragma once

#include <functional>
#include <vector>

#include <QScrollArea>

#include "model/recent_docket.h"

class QPushButton;
class QVBoxLayout;

// The scrolling list of recent dockets: one link-style button per entry, newest first.
// Rows keep their identity while an entry with the same id stays in the list, and are built
// as they scroll into view, so that a long stored list costs nothing until it is looked at.
class RecentsList : public QScrollArea {
    Q_OBJECT
public:
    static constexpr int maximumListHeight = 260;

    explicit RecentsList(QWidget* parent = nullptr);

    void setDockets(const std::vector<RecentDocket>& dockets);
    // Runs when a row is pressed, with that row's entry.
    void setActivationHandler(std::function<void(const RecentDocket&)> handler);

    // Rows built so far; the rest are built when scrolled towards.
    int builtRowCount() const { return static_cast<int>(m_rows.size()); }
    QPushButton* firstRow() const { return m_rows.empty() ? nullptr : m_rows.front().button; }
    QPushButton* lastRow() const { return m_rows.empty() ? nullptr : m_rows.back().button; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    struct Row {
        std::string key;
        QPushButton* button;
    };

    void buildRows();
    void buildMoreIfNearEnd(int scrollValue);
    QPushButton* makeRow();

    QWidget* m_content;
    QVBoxLayout* m_layout;
    std::vector<RecentDocket> m_dockets;
    std::vector<Row> m_rows;
    int m_rowBudget;
    std::function<void(const RecentDocket&)> m_activate;
};
