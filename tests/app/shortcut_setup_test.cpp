#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include "app/shortcut_setup.h"
#include "support/desktop_portal.h"
#include "support/fake_gsettings.h"
#include "support/fake_xfconf.h"

namespace {

struct Opened {
    QString program;
    QStringList arguments;
};

// A ShortcutSetup and what it signals.
struct Asked {
    explicit Asked(ShortcutSetup::Environment environment) : setup(std::move(environment)) {}

    ShortcutSetup setup;
    QSignalSpy answers{&setup, &ShortcutSetup::answered};
    QSignalSpy instructions{&setup, &ShortcutSetup::instructionsNeeded};
    QSignalSpy withdrawn{&setup, &ShortcutSetup::answerWithdrawn};
    QSignalSpy presses{&setup, &ShortcutSetup::activated};
};

// A desktop whose tools (gsettings, xfconf-query) keep their settings in memory, whose settings
// programs are only noted, and which has no portal.
class ShortcutSetupTest : public ::testing::Test {
protected:
    ShortcutSetup::Environment environmentFor(const QString& desktop,
                                              bool settingsInstalled = true) {
        ShortcutSetup::Environment environment;
        environment.currentDesktop = desktop;
        environment.run = [this](const std::string& program, const std::vector<std::string>& args) {
            calls.push_back(program);
            return program == "gsettings" ? gsettings(program, args) : xfconf(program, args);
        };
        // The tools' part runs at once; its answer still comes through the event loop.
        environment.startThread = {};
        environment.startSettings = [this, settingsInstalled](const QString& program,
                                                              const QStringList& arguments) {
            opened.push_back({program, arguments});
            return settingsInstalled;
        };
        environment.portalBus = QStringLiteral("none");
        return environment;
    }

    std::unique_ptr<Asked> ask(const QString& desktop, bool settingsInstalled = true) {
        return std::make_unique<Asked>(environmentFor(desktop, settingsInstalled));
    }

    FakeGsettings gsettings;
    FakeXfconf xfconf;
    // The tools run, in order.
    std::vector<std::string> calls;
    std::vector<Opened> opened;
};

// The same desktop with the stand-in portal on a bus of its own, which each case starts and
// sets up as it needs before asking.
class ShortcutSetupPortalTest : public ShortcutSetupTest {
protected:
    std::unique_ptr<Asked> askWithPortal(const QString& desktop) {
        auto environment = environmentFor(desktop);
        environment.portalBus = portal.busAddress();
        return std::make_unique<Asked>(std::move(environment));
    }

    DesktopPortal portal;
};

TEST_F(ShortcutSetupTest, GnomeGetsItsShortcutThenItsSettingsOpenOnIt) {
    const auto first = ask("ubuntu:GNOME");

    first->setup.setUp();
    // A second request while the first runs is the same request.
    first->setup.setUp();
    ASSERT_TRUE(first->answers.wait(5000));
    EXPECT_EQ(first->answers.at(0).at(0).toString(),
              "Ctrl+Alt+D now opens Zorvant. Change it in Settings → Keyboard → Custom Shortcuts.");
    EXPECT_FALSE(first->answers.at(0).at(1).toBool());
    EXPECT_TRUE(first->answers.at(0).at(2).toBool());
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened[0].program, "gnome-control-center");
    EXPECT_EQ(opened[0].arguments, QStringList{"keyboard"});
    EXPECT_TRUE(first->instructions.isEmpty());
    EXPECT_FALSE(QTest::qWaitFor([&] { return first->answers.size() > 1; }, 0));
    EXPECT_FALSE(first->setup.isBusy());

    // Again: found, not added, and GNOME's settings opened to change it; settings that are
    // not installed leave the panel to say so.
    const auto again = ask("GNOME", false);
    const auto writes = gsettings.writes.size();
    again->setup.setUp();
    ASSERT_TRUE(again->answers.wait(5000));
    EXPECT_EQ(again->answers.at(0).at(0).toString(),
              "Ctrl+Alt+D already opens Zorvant. Change it in Settings → Keyboard → Custom "
              "Shortcuts. "
              "(The keyboard settings could not be opened.)");
    EXPECT_FALSE(again->answers.at(0).at(2).toBool());
    EXPECT_EQ(gsettings.writes.size(), writes);
}

TEST_F(ShortcutSetupTest, ElsewhereTheUserIsShownHowAndAMissingToolIsOneLine) {
    const auto lxqt = ask("LXQt");
    lxqt->setup.setUp();
    EXPECT_EQ(lxqt->instructions.size(), 1);
    EXPECT_TRUE(calls.empty());
    EXPECT_FALSE(lxqt->setup.isBusy());

    xfconf.installed = false;
    const auto xfce = ask("XFCE");
    xfce->setup.setUp();
    ASSERT_TRUE(xfce->answers.wait(5000));
    EXPECT_EQ(xfce->answers.at(0).at(0).toString(),
              "XFCE's settings tool (xfconf-query) is not installed.");
    EXPECT_TRUE(xfce->answers.at(0).at(1).toBool());
    EXPECT_TRUE(opened.empty());

    EXPECT_EQ(ShortcutSetup::desktopFrom("X-Cinnamon"), ShortcutSetup::Desktop::other);
    EXPECT_EQ(ShortcutSetup::desktopFrom("GNOME-Classic:GNOME"), ShortcutSetup::Desktop::gnome);
}

// Where the desktop's portal offers global shortcuts (Plasma), it has the last word on the key,
// whatever the desktop calls itself: its dialog is asked, its answer is the panel's line, and a
// press of the shortcut reaches the program with the portal's token.
TEST_F(ShortcutSetupPortalTest, ThePortalBindsWhereTheDesktopOffersIt) {
    portal.start();
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Ctrl+Alt+D"));
    const auto asked = askWithPortal("GNOME");

    // Asked at once, before the portal has said whether it is there.
    asked->setup.setUp();
    ASSERT_TRUE(asked->answers.wait(5000));
    EXPECT_EQ(asked->answers.at(0).at(0).toString(),
              "Ctrl+Alt+D opens Zorvant. Change it in System Settings → Shortcuts.");
    EXPECT_FALSE(asked->answers.at(0).at(1).toBool());
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(opened.empty());
    const QJsonArray binds = portal.calls(QStringLiteral("BindShortcuts"));
    ASSERT_EQ(binds.size(), 1);

    const QString session = portal.sessions().value(0);
    // The stand-in's calls turn the event loop, which may deliver the press before they return.
    portal.activate(session, QStringLiteral("show-dockets"), QStringLiteral("token-1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked->presses.isEmpty(); }, 5000));
    EXPECT_EQ(asked->presses.at(0).at(0).toByteArray(), "token-1");

    // A dialog left open, or lost: asked again, the desktop is asked again, and the newest
    // answer is the one said.
    portal.reset();
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Ctrl+Alt+K"), true);
    const auto lost = askWithPortal("GNOME");
    lost->setup.setUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return portal.calls(QStringLiteral("BindShortcuts")).size() == 1; }, 5000));
    lost->setup.setUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return portal.calls(QStringLiteral("BindShortcuts")).size() == 2; }, 5000));
    portal.answerHeldBind(1, DesktopPortal::success, QStringLiteral("Ctrl+Alt+K"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lost->answers.isEmpty(); }, 5000));
    EXPECT_EQ(lost->answers.at(0).at(0).toString(),
              "Ctrl+Alt+K opens Zorvant. Change it in System Settings → Shortcuts.");
    EXPECT_FALSE(lost->setup.isBusy());

    // A dialog the user cancels sets nothing, and says where to set it.
    portal.reset();
    portal.setBindAnswer(DesktopPortal::cancelled);
    const auto cancelled = askWithPortal("GNOME");
    cancelled->setup.setUp();
    ASSERT_TRUE(cancelled->answers.wait(5000));
    EXPECT_EQ(cancelled->answers.at(0).at(0).toString().toStdString(),
              "No key is set yet: choose one for “Show Dockets” in System Settings → Shortcuts → "
              "Zorvant.");
}

// Plasma binds nothing itself and says so; once the user sets a key in System Settings, its
// first press withdraws that line, and only that line.
TEST_F(ShortcutSetupPortalTest, AKeySetInPlasmasSettingsWithdrawsTheNoKeyLine) {
    portal.start();
    portal.behaveAsPlasma();
    const auto asked = askWithPortal("KDE");
    asked->setup.setUp();
    ASSERT_TRUE(asked->answers.wait(5000));
    ASSERT_TRUE(asked->answers.at(0).at(0).toString().startsWith("No key is set yet"));

    const QString token = portal.components().begin().key();
    portal.setKeyInSettings(token, QStringLiteral("show-dockets"), QStringLiteral("Ctrl+Alt+D"));
    // The stand-in's control call waits in the event loop, where the press may already have
    // been handled: a wait for a signal still to come could miss it.
    portal.activate(portal.sessions().value(0), QStringLiteral("show-dockets"), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !asked->withdrawn.isEmpty(); }, 5000));
    EXPECT_EQ(asked->presses.size(), 1);
    EXPECT_EQ(asked->answers.size(), 1);

    // Asked again, the key is named; later presses leave that line be.
    asked->setup.setUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked->answers.size() == 2; }, 5000));
    EXPECT_EQ(asked->answers.at(1).at(0).toString(),
              "Ctrl+Alt+D opens Zorvant. Change it in System Settings → Shortcuts.");
    portal.activate(portal.sessions().value(0), QStringLiteral("show-dockets"), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return asked->presses.size() == 2; }, 5000));
    EXPECT_EQ(asked->withdrawn.size(), 1);
}

// Without the portal's global shortcuts, the desktop's own settings are used.
TEST_F(ShortcutSetupPortalTest, APortalWithoutGlobalShortcutsLeavesItToTheDesktopsSettings) {
    portal.start({QStringLiteral("--without-global-shortcuts")});
    const auto asked = askWithPortal("XFCE");
    asked->setup.setUp();
    ASSERT_TRUE(asked->answers.wait(5000));
    EXPECT_FALSE(asked->answers.at(0).at(1).toBool())
        << asked->answers.at(0).at(0).toString().toStdString();
    EXPECT_FALSE(calls.empty());
    EXPECT_EQ(xfconf.properties.at("/commands/custom/<Primary><Alt>d"), "zorvant");
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened[0].program, "xfce4-keyboard-settings");
}

} // namespace
