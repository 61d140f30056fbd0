#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include "app/shortcut_setup.h"
#include "support/desktop_portal.h"

namespace {

// A desktop whose tools answer from a script: gsettings with no shortcuts of anybody's, or a
// tool that is missing.
struct ScriptedDesktop {
    bool installed = true;
    std::vector<std::string> calls;
    std::map<std::string, std::string> set;

    CommandResult operator()(const std::string& program, const std::vector<std::string>& args) {
        calls.push_back(program + " " + args.at(0));
        CommandResult result;
        result.installed = installed;
        if (!installed)
            return result;
        result.ran = true;
        result.exitCode = 0;
        if (args[0] == "set")
            set[args.at(1) + " " + args.at(2)] = args.at(3);
        else if (args[0] == "get" && set.contains(args.at(1) + " " + args.at(2)))
            result.out = set[args[1] + " " + args[2]];
        else if (args[0] == "get")
            result.out = args[2] == "custom-keybindings" ? "@as []" : "''";
        return result;
    }
};

struct Opened {
    QString program;
    QStringList arguments;
};

ShortcutSetup::Environment environmentFor(const QString& desktop,
                                          const std::shared_ptr<ScriptedDesktop>& tools,
                                          std::vector<Opened>& opened, bool settingsInstalled) {
    ShortcutSetup::Environment environment;
    environment.currentDesktop = desktop;
    environment.run = [tools](const std::string& program, const std::vector<std::string>& args) {
        return (*tools)(program, args);
    };
    // The tools' part runs at once; its answer still comes through the event loop.
    environment.startThread = {};
    environment.startSettings = [&opened, settingsInstalled](const QString& program,
                                                             const QStringList& arguments) {
        opened.push_back({program, arguments});
        return settingsInstalled;
    };
    environment.portalBus = QStringLiteral("none");
    return environment;
}

TEST(ShortcutSetupTest, GnomeGetsItsShortcutThenItsSettingsOpenOnIt) {
    auto tools = std::make_shared<ScriptedDesktop>();
    std::vector<Opened> opened;
    ShortcutSetup setup(environmentFor("ubuntu:GNOME", tools, opened, true));
    QSignalSpy answers(&setup, &ShortcutSetup::answered);
    QSignalSpy instructions(&setup, &ShortcutSetup::instructionsNeeded);

    setup.setUp();
    // A second request while the first runs is the same request.
    setup.setUp();
    ASSERT_TRUE(answers.wait(5000));
    EXPECT_EQ(answers.at(0).at(0).toString(),
              "Ctrl+Alt+D now opens Zorvant. Change it in Settings → Keyboard → Custom Shortcuts.");
    EXPECT_FALSE(answers.at(0).at(1).toBool());
    EXPECT_TRUE(answers.at(0).at(2).toBool());
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened[0].program, "gnome-control-center");
    EXPECT_EQ(opened[0].arguments, QStringList{"keyboard"});
    EXPECT_TRUE(instructions.isEmpty());
    EXPECT_FALSE(QTest::qWaitFor([&] { return answers.size() > 1; }, 0));
    EXPECT_FALSE(setup.isBusy());

    // Again: found, not added, and GNOME's settings opened to change it; settings that are
    // not installed leave the panel to say so.
    std::vector<Opened> openedAgain;
    ShortcutSetup again(environmentFor("GNOME", tools, openedAgain, false));
    QSignalSpy secondAnswers(&again, &ShortcutSetup::answered);
    const auto writes = tools->set.size();
    again.setUp();
    ASSERT_TRUE(secondAnswers.wait(5000));
    EXPECT_EQ(secondAnswers.at(0).at(0).toString(),
              "Ctrl+Alt+D already opens Zorvant. Change it in Settings → Keyboard → Custom "
              "Shortcuts. "
              "(The keyboard settings could not be opened.)");
    EXPECT_FALSE(secondAnswers.at(0).at(2).toBool());
    EXPECT_EQ(tools->set.size(), writes);
}

TEST(ShortcutSetupTest, ElsewhereTheUserIsShownHowAndAMissingToolIsOneLine) {
    auto tools = std::make_shared<ScriptedDesktop>();
    std::vector<Opened> opened;
    ShortcutSetup lxqt(environmentFor("LXQt", tools, opened, true));
    QSignalSpy instructions(&lxqt, &ShortcutSetup::instructionsNeeded);
    lxqt.setUp();
    EXPECT_EQ(instructions.size(), 1);
    EXPECT_TRUE(tools->calls.empty());
    EXPECT_FALSE(lxqt.isBusy());

    tools->installed = false;
    ShortcutSetup xfce(environmentFor("XFCE", tools, opened, true));
    QSignalSpy answers(&xfce, &ShortcutSetup::answered);
    xfce.setUp();
    ASSERT_TRUE(answers.wait(5000));
    EXPECT_EQ(answers.at(0).at(0).toString(),
              "XFCE's settings tool (xfconf-query) is not installed.");
    EXPECT_TRUE(answers.at(0).at(1).toBool());
    EXPECT_TRUE(opened.empty());

    EXPECT_EQ(ShortcutSetup::desktopFrom("X-Cinnamon"), ShortcutSetup::Desktop::other);
    EXPECT_EQ(ShortcutSetup::desktopFrom("GNOME-Classic:GNOME"), ShortcutSetup::Desktop::gnome);
}

// Where the desktop's portal offers global shortcuts (Plasma), it has the last word on the key,
// whatever the desktop calls itself: its dialog is asked, its answer is the panel's line, and a
// press of the shortcut reaches the program with the portal's token.
TEST(ShortcutSetupTest, ThePortalBindsWhereTheDesktopOffersIt) {
    DesktopPortal portal;
    portal.start();
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Ctrl+Alt+D"));
    auto tools = std::make_shared<ScriptedDesktop>();
    std::vector<Opened> opened;
    auto environment = environmentFor("GNOME", tools, opened, true);
    environment.portalBus = portal.busAddress();
    ShortcutSetup setup(environment);
    QSignalSpy answers(&setup, &ShortcutSetup::answered);
    QSignalSpy presses(&setup, &ShortcutSetup::activated);

    // Asked at once, before the portal has said whether it is there.
    setup.setUp();
    ASSERT_TRUE(answers.wait(5000));
    EXPECT_EQ(answers.at(0).at(0).toString(),
              "Ctrl+Alt+D opens Zorvant. Change it in System Settings → Shortcuts.");
    EXPECT_FALSE(answers.at(0).at(1).toBool());
    EXPECT_TRUE(tools->calls.empty());
    EXPECT_TRUE(opened.empty());
    const QJsonArray binds = portal.calls(QStringLiteral("BindShortcuts"));
    ASSERT_EQ(binds.size(), 1);

    const QString session = portal.sessions().value(0);
    // The stand-in's calls turn the event loop, which may deliver the press before they return.
    portal.activate(session, QStringLiteral("show-dockets"), QStringLiteral("token-1"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presses.isEmpty(); }, 5000));
    EXPECT_EQ(presses.at(0).at(0).toByteArray(), "token-1");

    // A dialog left open, or lost: asked again, the desktop is asked again, and the newest
    // answer is the one said.
    portal.reset();
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Ctrl+Alt+K"), true);
    ShortcutSetup lost(environment);
    QSignalSpy lostAnswers(&lost, &ShortcutSetup::answered);
    lost.setUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return portal.calls(QStringLiteral("BindShortcuts")).size() == 1; }, 5000));
    lost.setUp();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return portal.calls(QStringLiteral("BindShortcuts")).size() == 2; }, 5000));
    portal.answerHeldBind(1, DesktopPortal::success, QStringLiteral("Ctrl+Alt+K"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !lostAnswers.isEmpty(); }, 5000));
    EXPECT_EQ(lostAnswers.at(0).at(0).toString(),
              "Ctrl+Alt+K opens Zorvant. Change it in System Settings → Shortcuts.");
    EXPECT_FALSE(lost.isBusy());

    // A dialog the user cancels sets nothing, and says where to set it.
    portal.reset();
    portal.setBindAnswer(DesktopPortal::cancelled);
    ShortcutSetup cancelled(environment);
    QSignalSpy cancelledAnswers(&cancelled, &ShortcutSetup::answered);
    cancelled.setUp();
    ASSERT_TRUE(cancelledAnswers.wait(5000));
    EXPECT_EQ(cancelledAnswers.at(0).at(0).toString().toStdString(),
              "No key is set yet: choose one for “Show Dockets” in System Settings → Shortcuts → "
              "Zorvant.");
}

// Plasma binds nothing itself and says so; once the user sets a key in System Settings, its
// first press withdraws that line, and only that line.
TEST(ShortcutSetupTest, AKeySetInPlasmasSettingsWithdrawsTheNoKeyLine) {
    DesktopPortal portal;
    portal.start();
    portal.behaveAsPlasma();
    auto tools = std::make_shared<ScriptedDesktop>();
    std::vector<Opened> opened;
    auto environment = environmentFor("KDE", tools, opened, true);
    environment.portalBus = portal.busAddress();
    ShortcutSetup setup(environment);
    QSignalSpy answers(&setup, &ShortcutSetup::answered);
    QSignalSpy withdrawn(&setup, &ShortcutSetup::answerWithdrawn);
    QSignalSpy presses(&setup, &ShortcutSetup::activated);
    setup.setUp();
    ASSERT_TRUE(answers.wait(5000));
    ASSERT_TRUE(answers.at(0).at(0).toString().startsWith("No key is set yet"));

    const QString token = portal.components().begin().key();
    portal.setKeyInSettings(token, QStringLiteral("show-dockets"), QStringLiteral("Ctrl+Alt+D"));
    portal.activate(portal.sessions().value(0), QStringLiteral("show-dockets"), {});
    ASSERT_TRUE(withdrawn.wait(5000));
    EXPECT_EQ(presses.size(), 1);
    EXPECT_EQ(answers.size(), 1);

    // Asked again, the key is named; later presses leave that line be.
    setup.setUp();
    ASSERT_TRUE(QTest::qWaitFor([&] { return answers.size() == 2; }, 5000));
    EXPECT_EQ(answers.at(1).at(0).toString(),
              "Ctrl+Alt+D opens Zorvant. Change it in System Settings → Shortcuts.");
    portal.activate(portal.sessions().value(0), QStringLiteral("show-dockets"), {});
    ASSERT_TRUE(QTest::qWaitFor([&] { return presses.size() == 2; }, 5000));
    EXPECT_EQ(withdrawn.size(), 1);
}

// Without the portal's global shortcuts, the desktop's own settings are used.
TEST(ShortcutSetupTest, APortalWithoutGlobalShortcutsLeavesItToTheDesktopsSettings) {
    DesktopPortal portal;
    portal.start({QStringLiteral("--without-global-shortcuts")});
    auto tools = std::make_shared<ScriptedDesktop>();
    std::vector<Opened> opened;
    auto environment = environmentFor("XFCE", tools, opened, true);
    environment.portalBus = portal.busAddress();
    ShortcutSetup setup(environment);
    QSignalSpy answers(&setup, &ShortcutSetup::answered);
    setup.setUp();
    ASSERT_TRUE(answers.wait(5000));
    EXPECT_FALSE(answers.at(0).at(1).toBool()) << answers.at(0).at(0).toString().toStdString();
    EXPECT_FALSE(tools->calls.empty());
    ASSERT_EQ(opened.size(), 1U);
    EXPECT_EQ(opened[0].program, "xfce4-keyboard-settings");
}

} // namespace
