#include <cstdio>
#include <functional>
#include <utility>

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QWindow>

#include "platform/x11_window_hints.h"

namespace {

void say(const char* format, int a, int b) {
    std::printf(format, a, b);
    std::fflush(stdout);
}

class ExposureWatch : public QObject {
public:
    explicit ExposureWatch(std::function<void()> exposed) : m_exposed(std::move(exposed)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed() &&
            m_exposed)
            std::exchange(m_exposed, {})();
        return false;
    }

private:
    std::function<void()> m_exposed;
};

} // namespace

// Run by x11_window_changes_test on its X server, with an XEmbed tray. Makes an XEmbed icon and
// waits, with no timer of its own, for the X server's word to say that the tray has put the
// icon in its place, as a launch waits for it; then stops watching, shows a window of its own,
// and says how many calls came after the stop once that window is on the screen.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QPixmap image(16, 16);
    image.fill(Qt::darkYellow);
    QSystemTrayIcon icon{QIcon(image)};
    QWindow window;
    int calls = 0;
    int callsAtStop = 0;
    Connection changes;
    changes = observeX11WindowChanges([&] {
        ++calls;
        const QRect placed = icon.geometry();
        if (!placed.isValid() || placed.topLeft() == QPoint(0, 0))
            return;
        say("placed %d %d\n", placed.x(), placed.y());
        // From inside its own call, as a launch that has its place stops.
        changes.disconnect();
        callsAtStop = calls;
        window.setGeometry(10, 40, 50, 50);
        window.show();
    });
    // Mapping the window sends the events that would have called. Its exposure comes after
    // them, and a call they queued would come before one queued now.
    ExposureWatch exposed([&] {
        QMetaObject::invokeMethod(
            &app, [&] { say("after the stop %d (of %d)\n", calls - callsAtStop, calls); },
            Qt::QueuedConnection);
    });
    window.installEventFilter(&exposed);
    icon.show();
    return app.exec();
}
