#pragma once

#include <functional>
#include <vector>

#include <QFrame>

#include "resolve/open_flow.h"

class QLabel;
class QVBoxLayout;

// The conflict dialog, shown as a sheet over the panel's content rather than as a window of
// its own, so that it can never hide or deactivate the panel. Every way of closing it ends
// in one of its choices: Escape means Cancel.
class ConflictSheet : public QFrame {
    Q_OBJECT
public:
    explicit ConflictSheet(const QString& title, QWidget* parent);

    // Shows the sheet with these buttons, in this order, and focuses the first.
    void present(const std::vector<ConflictChoice>& choices);
    bool isPresented() const { return isVisible(); }

    // Runs when the sheet closes, with the choice that closed it.
    void setChoiceHandler(std::function<void(const ConflictChoice&)> handler);

    // Closes the sheet as Cancel would.
    void dismiss();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void close(const ConflictChoice& choice);

    QFrame* m_card;
    QLabel* m_title;
    QVBoxLayout* m_buttons;
    std::vector<ConflictChoice> m_choices;
    std::function<void(const ConflictChoice&)> m_handler;
};
