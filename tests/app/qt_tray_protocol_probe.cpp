#include <cstdio>

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/qt_tray_protocol.h"

// Run by qt_tray_protocol_test, on an X server and a session bus of the test's: makes this
// process's first QSystemTrayIcon, which settles Qt's protocol, and says what
// qtMadeAStatusNotifierIcon() answers right after, as the status item asks it; then, should a
// tray embed the icon as an XEmbed icon, that it did and what the question answers then. It
// runs until the test ends it.
int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QPixmap image(16, 16);
    image.fill(Qt::darkYellow);
    QSystemTrayIcon icon{QIcon(image)};
    std::printf("made %d\n", qtMadeAStatusNotifierIcon() ? 1 : 0);
    std::fflush(stdout);
    icon.show();

    // Only an embedded XEmbed icon has a place on the screen; Qt's StatusNotifierItem never
    // knows where the host draws it.
    QTimer embedding;
    QObject::connect(&embedding, &QTimer::timeout, [&] {
        if (!icon.geometry().isValid())
            return;
        embedding.stop();
        std::printf("embedded, made %d\n", qtMadeAStatusNotifierIcon() ? 1 : 0);
        std::fflush(stdout);
    });
    embedding.start(5);
    return app.exec();
}
