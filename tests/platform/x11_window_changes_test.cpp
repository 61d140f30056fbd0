#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include <QProcess>

#include "support/tray_host.h"
#include "support/x_server.h"

// A launch waits for a new XEmbed icon's place on the X server's word alone: should Qt stop
// passing its xcb events to native event filters, or name them otherwise, the word would never
// come, and every launch would wait out its patience and then open the panel in the corner.
// The probe waits with no timer of its own; it must hear that the tray put the icon by the
// top right, and, once it stopped listening from inside a call, hear nothing more while a
// window of its own comes on the screen.
TEST(X11WindowChangesTest, TheTrayPuttingTheIconInPlaceIsHeardAndAStoppedWatchHearsNoMore) {
    XServer x;
    ASSERT_TRUE(x.isRunning()) << "Xvfb did not start";
    ASSERT_TRUE(x.startXEmbedTray())
        << "trayer did not take the tray's selection: " << x.trayOutput().toStdString();
    QProcess probe;
    probe.setProcessEnvironment(x.environment());
    probe.start(QStringLiteral(ZORVANT_WINDOW_CHANGES_PROBE), QStringList());
    const auto nextLine = [&]() -> std::string {
        if (!waitUntil(
                [&] { return probe.canReadLine() || probe.state() == QProcess::NotRunning; }) ||
            !probe.canReadLine())
            return "no line; the probe said: " + probe.readAllStandardError().toStdString();
        return probe.readLine().trimmed().toStdString();
    };

    const std::string placed = nextLine();
    int left = 0;
    int top = 0;
    ASSERT_EQ(std::sscanf(placed.c_str(), "placed %d %d", &left, &top), 2) << placed;
    // trayer stands at the top right of the 1280 wide screen.
    EXPECT_GT(left, 640) << placed;
    EXPECT_LT(top, 64) << placed;

    const std::string after = nextLine();
    EXPECT_EQ(after.rfind("after the stop 0 ", 0), 0u) << after;
    probe.kill();
    probe.waitForFinished();
}
