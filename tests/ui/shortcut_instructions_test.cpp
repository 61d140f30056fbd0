#include <gtest/gtest.h>

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "ui/shortcut_instructions.h"

// The desktop's own steps where Zorvant knows the desktop, every desktop's otherwise; the
// command ready to copy as the shortcut must run it.
TEST(ShortcutInstructionsTest, ShowsTheDesktopsStepsAndTheCommandToCopy) {
    EXPECT_EQ(ShortcutInstructions::stepsFor("KDE"),
              "KDE Plasma: System Settings → Shortcuts → Add Command");
    EXPECT_EQ(ShortcutInstructions::stepsFor("X-Cinnamon"),
              "Cinnamon: Keyboard → Shortcuts → Custom Shortcuts → Add custom shortcut");
    const QString every = ShortcutInstructions::stepsFor("");
    EXPECT_EQ(every, ShortcutInstructions::stepsFor("Unity7:Wayfire"));
    EXPECT_EQ(every.count('\n'), 5);
    EXPECT_TRUE(every.startsWith("GNOME: "));

    ShortcutInstructions dialog("LXQt", "'/opt/my tools/zorvant'");
    dialog.show();
    auto* steps = dialog.findChild<QLabel*>("shortcutSteps");
    ASSERT_NE(steps, nullptr);
    EXPECT_EQ(steps->text(), "LXQt: LXQt Configuration Center → Shortcut Keys → Add");
    // Plain text: a path is shown as it is, never as markup.
    EXPECT_EQ(steps->textFormat(), Qt::PlainText);
    auto* command = dialog.findChild<QLineEdit*>("shortcutCommand");
    ASSERT_NE(command, nullptr);
    EXPECT_TRUE(command->isReadOnly());
    EXPECT_EQ(command->selectedText(), "'/opt/my tools/zorvant'");
    QTest::mouseClick(dialog.findChild<QPushButton*>("copyCommandButton"), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "'/opt/my tools/zorvant'");
}
