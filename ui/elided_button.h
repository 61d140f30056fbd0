#pragma once

#include <QPushButton>

// A push button labelled with a text from data, such as a folder name. The label is shown on
// one line and, when the button is too narrow for it, shortened in the middle, so that the
// docket number at its start and the end of the name stay readable. The whole text is the
// button's tooltip and its accessible name. It never asks for more width than "…" needs, so
// it cannot push its list wider than the space it is given.
class ElidedButton : public QPushButton {
    Q_OBJECT
public:
    explicit ElidedButton(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return m_fullText; }
    // What the button shows at its current width ('&' as itself).
    const QString& shownText() const { return m_shownText; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // What the style puts around the text: frame, padding, margins.
    int chromeWidth() const;
    void updateShownText();

    QString m_fullText;
    QString m_shownText;
};
