#include <cstdio>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSpontaneKeyEvent>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include "ui/key_repeat_guard.h"

// Run by key_repeat_guard_test on an X server of its own, with Qt's screen reader bridge on:
// an accessibility bus, and QT_LINUX_ACCESSIBILITY_ALWAYS_ON. It says, a line each, what the
// test checks: whether the bridge took the keys and passed copies on, and how often Return
// acted in a guarded field.

namespace {

void say(const char* line) {
    std::printf("%s\n", line);
    std::fflush(stdout);
}

// The last key press that reached the end of the application's filters.
struct Rear : QObject {
    bool seen = false;
    bool spontaneous = false;
    unsigned long timestamp = 0;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && watched->isWindowType()) {
            seen = true;
            spontaneous = event->spontaneous();
            timestamp = static_cast<QKeyEvent*>(event)->timestamp();
        }
        return false;
    }
};

// A key as the window system hands it to the window: spontaneous, with its server time, and
// through the event loop, after what was posted before it.
void send(QWindow* window, QEvent::Type type, Qt::Key key, unsigned long time) {
    QCoreApplication::processEvents();
    const QString text =
        key == Qt::Key_Return ? QStringLiteral("\r") : QKeySequence(key).toString().toLower();
    QKeyEvent event(type, key, Qt::NoModifier, text);
    event.setTimestamp(time);
    QSpontaneKeyEvent::setSpontaneous(&event);
    qApp->notify(window, &event);
}

// As a screen reader does when it starts: asks the accessibility registry for the events of
// every application, which is what turns the bridge's key handling on.
bool listenAsAScreenReader() {
    const QDBusReply<QString> address =
        QDBusConnection::sessionBus().call(QDBusMessage::createMethodCall(
            QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
            QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress")));
    if (!address.isValid())
        return false;
    QDBusConnection bus =
        QDBusConnection::connectToBus(address.value(), QStringLiteral("screen-reader"));
    QDBusMessage registration = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
        QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("RegisterEvent"));
    registration << QStringLiteral("object:state-changed:focused") << QStringList() << QString();
    return bus.call(registration).type() == QDBusMessage::ReplyMessage;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Installed first, so behind every filter that comes later.
    Rear rear;
    app.installEventFilter(&rear);

    QWidget window;
    auto* field = new QLineEdit(&window);
    // The guard is there before the screen reader, as the panel's is.
    KeyRepeatGuard::forApplication().guard(field);
    int returns = 0;
    QObject::connect(field, &QLineEdit::returnPressed, [&] { ++returns; });
    window.show();
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        say("the window never became active");
        return 1;
    }
    field->setFocus();
    QWindow* const handle = window.windowHandle();

    if (!listenAsAScreenReader()) {
        say("no accessibility registry to listen to");
        return 1;
    }
    // The bridge turns its key handling on once it hears of the listener: until then a key
    // reaches the end of the line as it came.
    unsigned long time = 1000;
    bool copied = false;
    const QDeadlineTimer deadline(10000);
    while (!copied && !deadline.hasExpired()) {
        rear.seen = false;
        send(handle, QEvent::KeyPress, Qt::Key_A, time += 10);
        send(handle, QEvent::KeyRelease, Qt::Key_A, time += 10);
        if (!QTest::qWaitFor([&] { return rear.seen; }))
            break;
        copied = !rear.spontaneous && rear.timestamp == 0;
        // Polled: the bridge says nothing when it starts taking keys.
        if (!copied)
            QTest::qWait(10);
    }
    say(copied ? "the bridge passes on copies" : "the bridge passed on no copy");

    // Return held down: a press, then an unmarked repeat, a release and a press at one server
    // time. Only the first acts, if the guard saw the times, which only the originals carry.
    const auto waitForText = [&](const QString& text) {
        return QTest::qWaitFor([&] { return field->text().endsWith(text); });
    };
    send(handle, QEvent::KeyPress, Qt::Key_Return, time += 1000);
    send(handle, QEvent::KeyRelease, Qt::Key_Return, time += 660);
    send(handle, QEvent::KeyPress, Qt::Key_Return, time);
    send(handle, QEvent::KeyRelease, Qt::Key_Return, time += 40);
    // A key after them all: once it is in, whatever they did is done.
    send(handle, QEvent::KeyPress, Qt::Key_X, time += 300);
    send(handle, QEvent::KeyRelease, Qt::Key_X, time += 50);
    if (!waitForText(QStringLiteral("x"))) {
        say("no key reached the field");
        return 1;
    }
    std::printf("returns %d\n", returns);
    // Pressed again by hand: it acts again.
    send(handle, QEvent::KeyPress, Qt::Key_Return, time += 1000);
    send(handle, QEvent::KeyRelease, Qt::Key_Return, time += 60);
    send(handle, QEvent::KeyPress, Qt::Key_Y, time += 300);
    send(handle, QEvent::KeyRelease, Qt::Key_Y, time += 50);
    if (!waitForText(QStringLiteral("y"))) {
        say("no key reached the field");
        return 1;
    }
    std::printf("returns %d\n", returns);
    std::fflush(stdout);
    return 0;
}
