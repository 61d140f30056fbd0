#include <string>

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QProcess>

#include "support/tray_host.h"
#include "support/x_server.h"

// qtMadeAStatusNotifierIcon() asks a Qt internal which protocol Qt's own tray icon settled on;
// the status item leaves Qt's icon unused when it says StatusNotifierItem. Should a Qt release
// rename what it asks for, the answer would be false for good, and Qt's icon would sit in the
// tray beside the item; should the question come true without Qt's icon, the XEmbed icon would
// never come. Qt settles once per process, so each desktop gets a process of its own: the
// probe, on this test's X server (with an XEmbed tray, as XFCE's panel offers both) and a
// session bus of its own.
class QtTrayProtocolTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        x = new XServer;
        trayStarted = x->isRunning() && x->startXEmbedTray();
    }
    static void TearDownTestSuite() {
        delete x;
        x = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(x->isRunning()) << "Xvfb did not start";
        ASSERT_TRUE(trayStarted) << "trayer did not take the tray's selection: "
                                 << x->trayOutput().toStdString();
    }

    // The probe with the tray's bus as its session bus.
    void startProbe() {
        QProcessEnvironment environment = x->environment();
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), tray.busAddress());
        probe.setProcessEnvironment(environment);
        probe.setProcessChannelMode(QProcess::SeparateChannels);
        probe.start(QStringLiteral(ZORVANT_TRAY_PROBE), QStringList());
    }

    // The probe's next line, or what it said on its standard error should none come.
    std::string nextLine() {
        if (!waitUntil(
                [&] { return probe.canReadLine() || probe.state() == QProcess::NotRunning; }) ||
            !probe.canReadLine())
            return "no line; the probe said: " + probe.readAllStandardError().toStdString();
        return probe.readLine().trimmed().toStdString();
    }

    static inline XServer* x = nullptr;
    static inline bool trayStarted = false;
    // The tray's bus and watcher, for each case afresh; the probe goes before them.
    TrayHost tray;
    QProcess probe;
};

TEST_F(QtTrayProtocolTest, WithAHostOnTheBusQtSpeaksStatusNotifierItemAndTheQuestionSaysSo) {
    tray.startWatcher(true);
    startProbe();
    EXPECT_EQ(nextLine(), "made 1");
    // Qt's own item registers with the watcher, by the probe's connection to the bus: the
    // protocol is StatusNotifierItem indeed.
    const auto byTheProbe = [&](const QString& item) {
        const QDBusMessage owner = tray.call(QStringLiteral("org.freedesktop.DBus"),
                                             QStringLiteral("/org/freedesktop/DBus"),
                                             QStringLiteral("org.freedesktop.DBus"),
                                             QStringLiteral("GetConnectionUnixProcessID"), {item});
        return owner.arguments().value(0).toLongLong() == probe.processId();
    };
    EXPECT_TRUE(waitUntil([&] {
        const QStringList items = tray.registeredItems();
        return items.size() == 1 && byTheProbe(items.first());
    })) << tray.registeredItems().join(QLatin1Char(' ')).toStdString();
}

TEST_F(QtTrayProtocolTest, WithoutAWatcherQtSpeaksXEmbedAndTheQuestionSaysSo) {
    startProbe();
    EXPECT_EQ(nextLine(), "made 0");
    EXPECT_EQ(nextLine(), "embedded, made 0");
}

// The status item makes Qt's icon whenever no host is registered, a watcher there or not.
TEST_F(QtTrayProtocolTest, WithAWatcherButNoHostQtSpeaksXEmbedAndTheQuestionSaysSo) {
    tray.startWatcher(false);
    startProbe();
    EXPECT_EQ(nextLine(), "made 0");
    EXPECT_EQ(nextLine(), "embedded, made 0");
    EXPECT_TRUE(tray.registeredItems().isEmpty());
}
