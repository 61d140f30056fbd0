#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QWidget>
#include <QWindow>

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
