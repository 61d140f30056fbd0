#include <map>

#include <gtest/gtest.h>

#include "platform/desktop_shortcut.h"
#include "support/fake_gsettings.h"
#include "support/fake_xfconf.h"

namespace {

const std::string base = "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";

TEST(DesktopShortcutTest, GnomeAddsOneShortcutOnAKeyNothingUsesAndFindsItAgain) {
    FakeGsettings gnome;
    gnome.addUserShortcut(base + "custom0/", "firefox", "<Primary><Alt>d");
    // The same key twice, in other spellings than the candidate's.
    gnome.values["org.gnome.desktop.wm.keybindings"]["show-desktop"] = "['<Super><Ctrl>D']";
    gnome.values["org.gnome.shell.keybindings"]["toggle-overview"] =
        "['<Super>s', '<Mod4><Shift>d']";
    const auto mine = gnome.custom(base + "custom0/");

    const auto added = DesktopShortcut::setUpOnGnome(std::ref(gnome), "Zorvant", "zorvant");
    EXPECT_EQ(added, (DesktopShortcut{DesktopShortcut::Outcome::added, "<Control><Alt>k", {}}));
    EXPECT_EQ(gnome.list(), (std::vector<std::string>{base + "custom0/", base + "custom1/"}));
    EXPECT_EQ(gnome.custom(base + "custom1/"),
              (std::map<std::string, std::string>{{"name", "'Zorvant'"},
                                                  {"command", "'zorvant'"},
                                                  {"binding", "'<Control><Alt>k'"}}));
    EXPECT_EQ(gnome.custom(base + "custom0/"), mine);

    // A second use, and a shortcut to the installed program's full path, add nothing.
    const auto writes = gnome.writes.size();
    EXPECT_EQ(DesktopShortcut::setUpOnGnome(std::ref(gnome), "Zorvant", "zorvant"),
              (DesktopShortcut{DesktopShortcut::Outcome::found, "<Control><Alt>k", {}}));
    EXPECT_EQ(DesktopShortcut::setUpOnGnome(std::ref(gnome), "Zorvant", "/usr/bin/zorvant"),
              (DesktopShortcut{DesktopShortcut::Outcome::found, "<Control><Alt>k", {}}));
    EXPECT_EQ(gnome.writes.size(), writes);
    EXPECT_EQ(gnome.list().size(), 2U);
}

TEST(DesktopShortcutTest, GnomeLeavesTheKeyToTheUserWhenEveryDefaultIsTaken) {
    FakeGsettings gnome;
    std::string taken = "[";
    for (const std::string& key : DesktopShortcut::defaultKeys())
        taken += gvariantTextOfString(key) + ", ";
    gnome.values["org.gnome.desktop.wm.keybindings"]["many"] = taken + "'<Super>x']";
    // A user's command that merely contains the name is not ours.
    gnome.addUserShortcut(base + "custom0/", "notzorvant --x", "");
    // A shortcut left where the list no longer names it is not written over either.
    gnome.values["org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:" + base +
                 "custom1/"] = {{"command", "'xterm'"}};

    const auto added = DesktopShortcut::setUpOnGnome(std::ref(gnome), "Zorvant", "zorvant");
    EXPECT_EQ(added.outcome, DesktopShortcut::Outcome::addedWithoutKey);
    EXPECT_EQ(gnome.custom(base + "custom1/").at("command"), "'xterm'");
    EXPECT_EQ(gnome.custom(base + "custom2/").at("binding"), "''");
    EXPECT_EQ(gnome.list(), (std::vector<std::string>{base + "custom0/", base + "custom2/"}));
}

TEST(DesktopShortcutTest, GnomeChangesNothingWhereItCannotKeepTheShortcut) {
    FakeGsettings missing;
    missing.installed = false;
    EXPECT_EQ(DesktopShortcut::setUpOnGnome(std::ref(missing), "Zorvant", "zorvant").failure,
              "GNOME's settings tool (gsettings) is not installed.");

    FakeGsettings noSchema;
    noSchema.schemas.clear();
    const auto refused = DesktopShortcut::setUpOnGnome(std::ref(noSchema), "Zorvant", "zorvant");
    EXPECT_EQ(refused.outcome, DesktopShortcut::Outcome::failed);
    EXPECT_TRUE(refused.failure.starts_with(
        "GNOME's shortcut settings could not be changed: No such schema"))
        << refused.failure;
    EXPECT_TRUE(noSchema.writes.empty());

    // Without dconf, gsettings would forget what it is told: no use writing it.
    FakeGsettings forgets;
    forgets.forgets = true;
    EXPECT_EQ(DesktopShortcut::setUpOnGnome(std::ref(forgets), "Zorvant", "zorvant").outcome,
              DesktopShortcut::Outcome::failed);
    EXPECT_TRUE(forgets.writes.empty());
}

TEST(DesktopShortcutTest, XfceAddsAnApplicationShortcutBesideTheUsersOwn) {
    FakeXfconf xfce;
    xfce.properties = {{"/commands/custom/override", "true"},
                       {"/commands/custom/<Primary><Super>d", "thunar --daemon"},
                       {"/commands/custom/<Alt>F2", "xfce4-appfinder --collapsed"},
                       {"/xfwm4/custom/<Primary><Alt>d", "show_desktop_key"}};
    const auto before = xfce.properties;

    const auto added = DesktopShortcut::setUpOnXfce(std::ref(xfce), "zorvant");
    EXPECT_EQ(added, (DesktopShortcut{DesktopShortcut::Outcome::added, "<Shift><Super>d", {}}));
    ASSERT_EQ(xfce.writes.size(), 1U);
    EXPECT_EQ(xfce.properties.at("/commands/custom/<Shift><Super>d"), "zorvant");
    for (const auto& [name, value] : before)
        EXPECT_EQ(xfce.properties.at(name), value);

    EXPECT_EQ(DesktopShortcut::setUpOnXfce(std::ref(xfce), "zorvant"),
              (DesktopShortcut{DesktopShortcut::Outcome::found, "<Shift><Super>d", {}}));
    EXPECT_EQ(xfce.writes.size(), 1U);
}

TEST(DesktopShortcutTest, XfceStartsTheCustomSetFromTheDefaultsAsItsSettingsDo) {
    FakeXfconf xfce;
    xfce.properties = {{"/commands/default/<Alt>F2", "xfce4-appfinder --collapsed"},
                       {"/commands/default/<Primary><Alt>Delete", "xflock4"}};
    const auto added = DesktopShortcut::setUpOnXfce(std::ref(xfce), "/opt/zorvant/bin/zorvant");
    EXPECT_EQ(added.key, "<Primary><Alt>d");
    EXPECT_EQ(xfce.properties.at("/commands/custom/<Alt>F2"), "xfce4-appfinder --collapsed");
    EXPECT_EQ(xfce.properties.at("/commands/custom/<Primary><Alt>Delete"), "xflock4");
    EXPECT_EQ(xfce.properties.at("/commands/custom/override"), "true");
    EXPECT_EQ(xfce.properties.at("/commands/custom/<Primary><Alt>d"), "/opt/zorvant/bin/zorvant");

    // A channel nobody has written yet is a start too.
    FakeXfconf empty;
    EXPECT_EQ(DesktopShortcut::setUpOnXfce(std::ref(empty), "zorvant").outcome,
              DesktopShortcut::Outcome::added);

    FakeXfconf missing;
    missing.installed = false;
    EXPECT_EQ(DesktopShortcut::setUpOnXfce(std::ref(missing), "zorvant").failure,
              "XFCE's settings tool (xfconf-query) is not installed.");
}

TEST(DesktopShortcutTest, KeysCompareAcrossTheDesktopsSpellings) {
    EXPECT_EQ(normalizedKey("<Primary><Alt>d"), normalizedKey("<Alt><Control>D"));
    EXPECT_EQ(normalizedKey("<Ctrl><Mod1>d"), "<control><alt>d");
    EXPECT_EQ(normalizedKey("<Mod4><Shift>Return"), "<shift><super>return");
    EXPECT_NE(normalizedKey("<Control>d"), normalizedKey("<Control><Shift>d"));
    EXPECT_EQ(normalizedKey("disabled"), "");
    EXPECT_EQ(normalizedKey(""), "");
    EXPECT_EQ(readableKey("<Primary><Alt>d"), "Ctrl+Alt+D");
    EXPECT_EQ(readableKey("<Super><Shift>Return"), "Shift+Super+Return");

    // What gsettings is told, it reads back unchanged, quotes and backslashes included.
    for (const std::string text : {"it's", "a\\b", "\"q\"", ""})
        EXPECT_EQ(stringsInGVariantText("[" + gvariantTextOfString(text) + "]"),
                  std::vector<std::string>{text});
    EXPECT_EQ(stringsInGVariantText("['a', \"b's\"]"), (std::vector<std::string>{"a", "b's"}));
    EXPECT_TRUE(stringsInGVariantText("@as []").empty());
}

} // namespace
