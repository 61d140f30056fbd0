#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "support/docket_fixture.h"
#include "ui/content_view.h"
#include "ui/elided_label.h"
#include "ui/recents_list.h"

namespace fs = std::filesystem;

// A content view over a temporary dockets tree in which 12345 is both a Legacy and a J docket,
// shown and active as in the panel. Its model restores the root folder from the defaults file,
// as at launch. The view follows the model on the next turn of the event loop.
class ContentViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        temp.makeFolder("dockets/a-123/12345 Smith & Co");
        makeDocketModel(temp, root);
        view = std::make_unique<ContentView>(
            FolderModelServices{.defaults = std::make_shared<UserDefaults>(temp / "defaults.ini")},
            opener);
        view->resize(420, 420);
        view->show();
        view->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
    }

    template <class W = QWidget> W* find(const char* name) const {
        return view->findChild<W*>(QString::fromLatin1(name));
    }
    bool shown(const char* name) const { return find(name)->isVisible(); }
    QString error() const { return shown("errorLabel") ? find<QLabel>("errorLabel")->text() : ""; }
    void click(QWidget* widget) { QTest::mouseClick(widget, Qt::LeftButton); }
    // Replaces the number by typing, then presses Return in the field.
    void enter(const char* text) {
        find<QLineEdit>("numberField")->selectAll();
        QTest::keyClicks(find("numberField"), QString::fromUtf8(text) + '\r');
    }
    QList<QPushButton*> rows() const { return view->findChildren<QPushButton*>("recentRow"); }
    void showRecents(std::vector<RecentDocket> dockets) {
        model().setRecentDockets(std::move(dockets));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown("recentsList"); }));
    }
    FolderModel& model() const { return *view->model(); }

    TempDir temp;
    const fs::path root = temp.makeFolder("dockets");
    const fs::path j = temp.makeFolder("dockets/a-J0123/J012345 New");
    const std::shared_ptr<RecordingOpener> opener = std::make_shared<RecordingOpener>();
    std::unique_ptr<ContentView> view;
};

TEST_F(ContentViewTest, ConflictSheetAndErrorLineFollowTheOpenActions) {
    enter("");
    EXPECT_EQ(error(), "Please enter digits");
    // Typing never hides the line; only the open actions change it.
    QTest::keyClicks(find("numberField"), "99999");
    EXPECT_EQ(error(), "Please enter digits");
    enter("99999");
    EXPECT_EQ(error(), "Folder not found for 99999");

    // Return on a conflict keeps the old line while the sheet is up, over the panel's content.
    enter("12345");
    QWidget* sheet = find("conflictSheet");
    ASSERT_TRUE(view->flow().showConflict && sheet->isVisible());
    EXPECT_EQ(error(), "Folder not found for 99999");
    EXPECT_TRUE(!sheet->isWindow() && shown("numberField"));
    EXPECT_EQ(find<QLabel>("conflictTitle")->text(),
              "Found both Legacy and J dockets. Which one would you like to open?");
    // Top to bottom, each named by its label and showing it with '&' taken literally.
    const auto buttons = find("conflictCard")->findChildren<QPushButton*>();
    const QString labels[] = {"Legacy: 12345 Smith & Co", "J: J012345 New", "Cancel"};
    ASSERT_EQ(buttons.size(), 3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(buttons[i]->accessibleName(), labels[i]);
        EXPECT_EQ(buttons[i]->text(), QString(labels[i]).replace('&', "&&"));
        EXPECT_TRUE(i == 0 || buttons[i - 1]->y() < buttons[i]->y()) << i;
    }

    // Escape is Cancel, and J opens and records the J docket alone.
    QTest::keyClick(find("conflictLegacyButton"), Qt::Key_Escape);
    EXPECT_FALSE(sheet->isVisible() || view->flow().showConflict);
    enter("12345");
    click(find("conflictJButton"));
    EXPECT_EQ(error(), "Folder not found for 99999");
    EXPECT_EQ(opener->opened, std::vector<fs::path>{j});
    ASSERT_EQ(model().recentDockets().size(), 1u);
    EXPECT_EQ(model().recentDockets()[0].kind(), DocketKind::j);

    // "Open Folder" clears the line before the sheet comes up; Cancel records nothing.
    click(find("openFolderButton"));
    EXPECT_TRUE(sheet->isVisible());
    EXPECT_FALSE(shown("errorLabel"));
    click(find("conflictCancelButton"));
    EXPECT_FALSE(view->flow().showConflict);
    EXPECT_TRUE(opener->opened.size() == 1 && model().recentDockets().size() == 1);
}

TEST_F(ContentViewTest, RecentRowsAreButtonsNamedByTheirDocketsInASectionOfTheirOwn) {
    const auto sectionShown = [&](bool expected) {
        for (const char* name :
             {"recentsDivider", "recentsHeader", "recentsList", "clearRecentsButton"})
            EXPECT_EQ(shown(name), expected) << name;
    };
    sectionShown(false);
    // One name under both kinds is two rows.
    showRecents({RecentDocket(DocketKind::legacy, "5", "R&D", 3),
                 RecentDocket(DocketKind::j, "5", "R&D", 2),
                 RecentDocket(DocketKind::legacy, "777", "777 Gone", 1),
                 RecentDocket(DocketKind::j, "12345", "J012345 New", 0)});
    sectionShown(true);
    const QList<QPushButton*> before = rows();
    ASSERT_EQ(before.size(), 4);
    for (const QPushButton* row : {before[0], before[1]}) {
        EXPECT_EQ(row->accessibleName(), "R&D");
        EXPECT_EQ(row->text(), "R&&D");
    }
    // A recent that fails sets the error line; one that opens clears it. Clicks leave the
    // keyboard in the number field, which has it since the view was shown.
    auto* field = find<QLineEdit>("numberField");
    EXPECT_TRUE(field->hasFocus());
    click(before[2]);
    EXPECT_EQ(error(), "Folder not found for 777");
    click(before[3]);
    EXPECT_FALSE(shown("errorLabel"));
    EXPECT_EQ(opener->opened, std::vector<fs::path>{j});
    click(find("openFolderButton"));
    EXPECT_TRUE(field->hasFocus());
    find("openFolderButton")->setFocus();
    ASSERT_FALSE(field->hasFocus());
    NotificationCenter::defaultCenter().post(focusRequestNotification());
    EXPECT_TRUE(field->hasFocus());

    click(find("clearRecentsButton"));
    sectionShown(false);
    EXPECT_TRUE(model().recentDockets().empty());
}

TEST_F(ContentViewTest, LongListBuildsRowsAsTheyAreScrolledTo) {
    std::vector<RecentDocket> dockets;
    for (int i = 0; i < 10000; ++i)
        dockets.emplace_back(DocketKind::legacy, std::to_string(1000 + i),
                             std::to_string(1000 + i) + " Docket", 10000 - i);
    showRecents(std::move(dockets));
    auto* list = find<RecentsList>("recentsList");
    const int first = list->builtRowCount();
    EXPECT_TRUE(first > 0 && first < 200) << first;
    EXPECT_EQ(rows().size(), first);
    EXPECT_LE(list->height(), RecentsList::maximumListHeight);
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    EXPECT_TRUE(QTest::qWaitFor([&] { return list->builtRowCount() > first; }));
    EXPECT_LT(list->builtRowCount(), 10000);
    EXPECT_EQ(rows()[first]->accessibleName(), QString::number(1000 + first) + " Docket");
}

TEST_F(ContentViewTest, FolderChooserSetsTheRootWhosePathShowsWithItsMiddleElided) {
    auto* label = find<ElidedLabel>("rootPathLabel");
    EXPECT_EQ(label->text().toStdString(), root.string());
    const fs::path longRoot = temp.makeFolder("start/" + std::string(200, 'a') + "/" +
                                              std::string(200, 'b') + "/end-of-the-path");
    for (const bool choose : {false, true}) {
        click(find("selectRootButton"));
        QFileDialog* chooser = view->folderChooser();
        ASSERT_NE(chooser, nullptr);
        EXPECT_TRUE(view->isSelectingRoot());
        EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(chooser->testOption(QFileDialog::ShowDirsOnly));
        if (choose) {
            chooser->selectFile(QString::fromStdString(longRoot.string()));
            // Two changes before the view refreshes: it must show the last one.
            model().setRootFolderBookmark(std::nullopt);
        }
        choose ? static_cast<QDialog*>(chooser)->accept() : chooser->reject();
        EXPECT_FALSE(view->folderChooser() || view->isSelectingRoot());
        EXPECT_EQ(model().rootFolderURL(), choose ? longRoot : root);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return label->text().toStdString() == longRoot.string(); }));
    const QString text = label->shownText();
    EXPECT_TRUE(label->isVisible() &&
                text.startsWith(QString::fromStdString(temp.path().string().substr(0, 8))) &&
                text.contains(u'…') && text.endsWith("end-of-the-path"))
        << text.toStdString();
    model().setRootFolderBookmark(std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !label->isVisible(); }));
}

// The platform's chooser can hand back a name that is no folder (the GTK chooser completes
// typed names): that is the chooser failing, and the root stays as it was.
TEST_F(ContentViewTest, AChosenLocationThatIsNoFolderIsAChooserFailure) {
    const fs::path file = temp.makeFile("dockets.txt");
    click(find("selectRootButton"));
    QFileDialog* chooser = view->folderChooser();
    ASSERT_NE(chooser, nullptr);
    chooser->selectFile(QString::fromStdString(file.string()));
    testing::internal::CaptureStdout();
    static_cast<QDialog*>(chooser)->done(QDialog::Accepted);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Folder selection failed: the chosen location file://" + file.string() +
                  " is not a folder\n");
    EXPECT_EQ(model().rootFolderURL(), root);
    EXPECT_FALSE(view->folderChooser() || view->isSelectingRoot());
}
