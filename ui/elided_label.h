#pragma once

#include <QLabel>

// A label of one line of plain text that, when too long for its width, is shortened in the
// middle so that its beginning and its end stay visible. Assistive technology and the
// tooltip get the whole text.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    // What is drawn at the current width.
    QString shownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
