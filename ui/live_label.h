#pragma once

#include <optional>

#include <QLabel>

// A line of text that screen readers read out whenever it changes, as a live region does on
// the web. It is exposed as a notification, which is announced as it comes into view; a new
// text while it is in view is announced the same way.
class LiveLabel : public QLabel {
    Q_OBJECT
public:
    explicit LiveLabel(QWidget* parent = nullptr);

    // Shows the message, or hides the label when there is none.
    void setMessage(const std::optional<QString>& message);
};
