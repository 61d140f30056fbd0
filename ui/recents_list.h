#pragma once

#include <functional>
#include <vector>

#include <QScrollArea>

#include "model/recent_docket.h"

class ElidedButton;
class QPushButton;
class QVBoxLayout;

// The scrolling list of recent dockets: one link-style button per entry, newest first.
// Rows keep their identity while an entry with the same id stays in the list, and are built
// as they scroll into view, so that a long stored list costs nothing until it is looked at.
// A row is as wide as the list beside its scroll bar; a name too long for it is elided.
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
    // The rows built so far, top to bottom.
    std::vector<QPushButton*> rows() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // Rows were made, removed or reordered: whoever orders the keyboard's way through the
    // panel puts them in place.
    void rowsChanged();

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        std::string key;
        ElidedButton* button;
    };

    void buildRows();
    void buildMoreIfNearEnd(int scrollValue);
    void buildMore();
    ElidedButton* makeRow();

    QWidget* m_content;
    QVBoxLayout* m_layout;
    std::vector<RecentDocket> m_dockets;
    std::vector<Row> m_rows;
    int m_rowBudget;
    std::function<void(const RecentDocket&)> m_activate;
};
