#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

class QKeyEvent;
class QWidget;

// One press, one action, however long the key is held: drops the repeats of Return and Enter
// sent to the widgets it guards, and on buttons those of Space too, while a deliberate second
// press still acts again.
//
// Qt marks most repeats itself. On X11 a repeat arrives as a release and a press with the
// same server time, and Qt 6.4 under load sometimes delivers the pair unmarked: such a press
// is known by its time, which a second press by hand never shares with the release before
// it. A button acts on the release of Space, which comes first, so that release is held back
// for a moment to see whether the press of a repeat follows it.
//
// The guard watches the whole application, so as to see key events as the window system
// delivers them. Qt's screen reader bridge also watches, and passes on copies of them later
// without their server times; the guard keeps itself in front of the bridge, so that repeats
// are dropped before the bridge copies them. There is one guard for the application, shared by
// every widget it guards, so that one filter sees each key event once and keeps one record of
// the last key.
class KeyRepeatGuard : public QObject {
    Q_OBJECT
public:
    // The application's guard, made on first use and ended with the application object.
    static KeyRepeatGuard& forApplication();
    ~KeyRepeatGuard() override;

    void guard(QWidget* widget);
    // Whether a release of Space is held back, waiting to see whether a repeat follows it.
    bool isHoldingARelease() const { return m_held.target != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit KeyRepeatGuard(QObject* parent);

    struct HeldRelease {
        QPointer<QWidget> target;
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        unsigned long timestamp = 0;
    };

    bool isGuarded(const QObject* widget) const;
    // Whether the event is the one judged at its window, now on its way to the widgets.
    bool isOnItsWayFromTheWindow(const QEvent* event, const QObject* watched) const;
    void stepInFrontOfTheScreenReaderBridge();
    // Whether the event, on its way to this widget, is to be dropped.
    bool judge(QWidget* target, QKeyEvent* event);
    bool judgePress(QWidget* target, const QKeyEvent& event);
    bool judgeRelease(QWidget* target, const QKeyEvent& event);
    void replayHeldRelease();

    // The last key event the window system delivered, with its server time.
    int m_lastKey = 0;
    bool m_lastWasPress = false;
    unsigned long m_lastTimestamp = 0;
    // The event last judged on its way in through a window.
    const QEvent* m_judged = nullptr;
    HeldRelease m_held;
    QTimer m_releaseTimer;
    // The widget a held release is being handed to, which the guard then lets through.
    QObject* m_replayTarget = nullptr;
};
