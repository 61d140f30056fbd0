#include <gtest/gtest.h>

#include <QSignalSpy>
#include <QTest>

#include "app/shortcut_setup.h"

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
              "Ctrl+Alt+D opens Zorvant. Change it in Settings → Keyboard → Custom Shortcuts. "
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

} // namespace
