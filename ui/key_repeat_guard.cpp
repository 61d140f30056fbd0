#include "ui/key_repeat_guard.h"

#include <utility>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace {

constexpr char guardProperty[] = "zorvantKeyRepeatGuard";
// The press of an unmarked repeat comes with its release's server time; allow for rounding.
constexpr unsigned long sameInstantMs = 5;
// How long a release of Space on a button waits for the press of a repeat. The X server sends
// both at once, so this only covers the time Qt takes to read them; keys repeat every 25 to
// 50 ms.
constexpr int repeatPressWaitMs = 20;

bool isActivationKey(int key) {
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

// Qt hands the very key event that came in through a window on to the focused widget, and up
// from there to its parents: the same object, so its address tells it from a new event. No
// public API says so; checked against Qt 6.4.2, and by the guard's unit test.
bool KeyRepeatGuard::isOnItsWayFromTheWindow(const QEvent* event, const QObject* watched) const {
    return event == m_judged && !watched->isWindowType();
}

// Qt's screen reader bridge (checked against Qt 6.4.2) is an application event filter too,
// installed after the guard once a screen reader turns up, and it passes on copies of the key
// events it kept, later, without their server times. Filters installed last see events first:
// the guard installs itself again to be in front. Not while Qt goes through the filters.
void KeyRepeatGuard::stepInFrontOfTheScreenReaderBridge() {
    QMetaObject::invokeMethod(
        this,
        [this] {
            qApp->removeEventFilter(this);
            qApp->installEventFilter(this);
        },
        Qt::QueuedConnection);
}

KeyRepeatGuard& KeyRepeatGuard::forApplication() {
    static QPointer<KeyRepeatGuard> guard;
    if (!guard)
        guard = new KeyRepeatGuard(qApp);
    return *guard;
}

KeyRepeatGuard::KeyRepeatGuard(QObject* parent) : QObject(parent) {
    m_releaseTimer.setSingleShot(true);
    m_releaseTimer.setInterval(repeatPressWaitMs);
    connect(&m_releaseTimer, &QTimer::timeout, this, &KeyRepeatGuard::replayHeldRelease);
    qApp->installEventFilter(this);
}

KeyRepeatGuard::~KeyRepeatGuard() {
    if (qApp)
        qApp->removeEventFilter(this);
}

void KeyRepeatGuard::guard(QWidget* widget) {
    widget->setProperty(guardProperty, QVariant::fromValue(static_cast<QObject*>(this)));
}

bool KeyRepeatGuard::isGuarded(const QObject* widget) const {
    return widget && widget->property(guardProperty).value<QObject*>() == this;
}

bool KeyRepeatGuard::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::FocusOut || type == QEvent::Hide) {
        // The key was let go before the button lost the keyboard: that release counts.
        if (watched == m_held.target)
            replayHeldRelease();
        return false;
    }
    // The event judged on its way in through its window goes on to the focused widget, and
    // up from there to its parents: judged once.
    if ((type != QEvent::KeyPress && type != QEvent::KeyRelease) || watched == m_replayTarget ||
        isOnItsWayFromTheWindow(event, watched))
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    QWidget* target = nullptr;
    if (watched->isWindowType()) {
        // On its way in: Qt hands it on to the focused widget next.
        target = QApplication::focusWidget();
        // A copy from the screen reader bridge, which saw the event first and kept it: step
        // in front of the bridge for the events to come.
        if (!event->spontaneous() && key->timestamp() == 0)
            stepInFrontOfTheScreenReaderBridge();
    } else if (watched->isWidgetType()) {
        target = static_cast<QWidget*>(watched);
    }
    const bool drop = isGuarded(target) && judge(target, key);
    if (watched->isWindowType())
        m_judged = event;
    if (key->timestamp() != 0) {
        m_lastKey = key->key();
        m_lastWasPress = type == QEvent::KeyPress;
        m_lastTimestamp = key->timestamp();
    }
    return drop;
}

bool KeyRepeatGuard::judge(QWidget* target, QKeyEvent* event) {
    const int key = event->key();
    // Space types a space in a text field; only a button acts on it.
    const bool guarded =
        isActivationKey(key) || (key == Qt::Key_Space && qobject_cast<QAbstractButton*>(target));
    if (!guarded) {
        if (event->type() == QEvent::KeyPress && target == m_held.target)
            replayHeldRelease();
        return false;
    }
    return event->type() == QEvent::KeyPress ? judgePress(target, *event)
                                             : judgeRelease(target, *event);
}

bool KeyRepeatGuard::judgePress(QWidget* target, const QKeyEvent& event) {
    const int key = event.key();
    const bool sameInstantAsItsRelease =
        m_lastKey == key && !m_lastWasPress && m_lastTimestamp != 0 && event.timestamp() != 0 &&
        static_cast<quint32>(event.timestamp() - m_lastTimestamp) <= sameInstantMs;
    const bool repeat = event.isAutoRepeat() || sameInstantAsItsRelease;
    if (repeat && target == m_held.target && key == m_held.key) {
        // The key is still held: the release before this press was part of the repeat.
        m_releaseTimer.stop();
        m_held = {};
    } else if (target == m_held.target) {
        replayHeldRelease();
    }
    return repeat;
}

bool KeyRepeatGuard::judgeRelease(QWidget* target, const QKeyEvent& event) {
    if (event.isAutoRepeat())
        return true;
    auto* button = qobject_cast<QAbstractButton*>(target);
    if (event.key() != Qt::Key_Space || !button || !button->isDown() || event.timestamp() == 0)
        return false;
    if (m_held.target)
        replayHeldRelease();
    m_held = {button, event.key(), event.modifiers(), event.timestamp()};
    m_releaseTimer.start();
    return true;
}

void KeyRepeatGuard::replayHeldRelease() {
    m_releaseTimer.stop();
    const HeldRelease held = std::exchange(m_held, {});
    if (!held.target)
        return;
    QKeyEvent release(QEvent::KeyRelease, held.key, held.modifiers, QStringLiteral(" "));
    release.setTimestamp(held.timestamp);
    m_replayTarget = held.target;
    QCoreApplication::sendEvent(held.target, &release);
    m_replayTarget = nullptr;
}
