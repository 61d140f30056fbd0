#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include "support/accessibility_bus.h"
#include "support/x_server.h"

// The key-repeat guard tells the event it judged at the window from a new one by its address:
// Qt hands that very event on to the focused widget. Should a Qt release copy it instead, the
// guard would judge each key twice; this fails first.
TEST(KeyRepeatGuardTest, QtHandsTheWindowsKeyEventOnToTheWidgetItself) {
    QWidget window;
    auto* field = new QLineEdit(&window);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->setFocus();

    struct Recorder : QObject {
        QObject* widget = nullptr;
        const QEvent* atWindow = nullptr;
        const QEvent* atWidget = nullptr;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::KeyPress) {
                if (watched->isWindowType())
                    atWindow = event;
                else if (watched == widget)
                    atWidget = event;
            }
            return false;
        }
    } recorder;
    recorder.widget = field;
    qApp->installEventFilter(&recorder);
    QTest::keyPress(window.windowHandle(), Qt::Key_A);
    qApp->removeEventFilter(&recorder);

    ASSERT_NE(recorder.atWindow, nullptr);
    EXPECT_EQ(recorder.atWindow, recorder.atWidget);
    EXPECT_EQ(field->text(), "a");
}

// Qt's screen reader bridge (AT-SPI) is an application event filter too, installed once a
// screen reader listens, after the guard. It takes each key from the window and passes a copy
// on later, without its server time; the guard, once it sees such a copy, installs itself
// again to be in front, counting on Qt asking the filters installed last first. Behind the
// bridge it would only see copies and could no longer tell a repeat by its time. With the
// bridge on, in a process of its own on an X server: the bridge must be seen copying keys,
// and a repeat known only by its time must still be dropped.
TEST(KeyRepeatGuardTest, StaysInFrontOfTheScreenReaderBridge) {
    XServer x;
    ASSERT_TRUE(x.isRunning()) << "Xvfb did not start";
    AccessibilityBus accessibility;
    ASSERT_TRUE(accessibility.isRunning())
        << "no accessibility bus: " << accessibility.launcherOutput().toStdString();
    QProcess probe;
    QProcessEnvironment environment = accessibility.environment(x.environment());
    environment.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(ZORVANT_BRIDGE_PROBE), QStringList());
    ASSERT_TRUE(probe.waitForFinished(120000));
    const QString said = QString::fromLocal8Bit(probe.readAllStandardOutput());
    EXPECT_EQ(said.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              QStringList({QStringLiteral("the bridge passes on copies"),
                           QStringLiteral("returns 1"), QStringLiteral("returns 2")}))
        << said.toStdString() << probe.readAllStandardError().toStdString();
    EXPECT_EQ(probe.exitCode(), 0);
}
