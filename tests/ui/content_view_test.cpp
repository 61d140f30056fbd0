#include <cmath>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTest>

#include "platform/bookmark.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "support/docket_fixture.h"
#include "support/stalling_directories.h"
#include "ui/content_view.h"
#include "ui/elided_button.h"
#include "ui/elided_label.h"
#include "ui/focus_ring.h"
#include "ui/key_repeat_guard.h"
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
            opener, stalls.opener());
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
    // Lookups answer on a later turn of the event loop: the next two wait for the answer.
    void settle() {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->flow().isLookingUp(); }));
    }
    void click(QWidget* widget) {
        QTest::mouseClick(widget, Qt::LeftButton);
        settle();
    }
    // Replaces the number by typing, then presses Return in the field.
    void submit(const char* text) {
        find<QLineEdit>("numberField")->selectAll();
        QTest::keyClicks(find("numberField"), QString::fromUtf8(text) + '\r');
    }
    void enter(const char* text) {
        submit(text);
        settle();
    }
    QList<QPushButton*> rows() const { return view->findChildren<QPushButton*>("recentRow"); }
    void showRecents(std::vector<RecentDocket> dockets) {
        model().setRecentDockets(std::move(dockets));
        ASSERT_TRUE(QTest::qWaitFor([&] { return shown("recentsList"); }));
    }
    FolderModel& model() const { return *view->model(); }
    // The chooser, opened by its button, closing on this location as if the user chose it.
    void chooseInChooser(const fs::path& location) {
        click(find("selectRootButton"));
        QFileDialog* chooser = view->folderChooser();
        ASSERT_NE(chooser, nullptr);
        chooser->selectFile(QString::fromStdString(location.string()));
        static_cast<QDialog*>(chooser)->done(QDialog::Accepted);
    }
    void makeBookmarkedRoot() { model().setRootFolderBookmark(makeBookmark(root).value()); }
    // What has the keyboard after each of this many presses of Tab.
    std::vector<std::string> tabPath(std::size_t presses) const {
        std::vector<std::string> path;
        for (std::size_t i = 0; i < presses; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            const QWidget* now = QApplication::focusWidget();
            path.push_back(
                (now->objectName() == "recentRow" ? now->accessibleName() : now->objectName())
                    .toStdString());
        }
        return path;
    }
    static std::vector<std::string> strings(const QStringList& list) {
        std::vector<std::string> result;
        for (const QString& text : list)
            result.push_back(text.toStdString());
        return result;
    }
    static std::vector<RecentDocket> named(const QStringList& names) {
        std::vector<RecentDocket> dockets;
        for (int i = 0; i < names.size(); ++i)
            dockets.emplace_back(DocketKind::j, std::to_string(i + 1), names[i].toStdString(),
                                 1000 - i);
        return dockets;
    }

    TempDir temp;
    StallingDirectories stalls;
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
        // Nothing in the share is ever created, renamed or deleted from the chooser.
        EXPECT_TRUE(chooser->testOption(QFileDialog::ReadOnly));
        EXPECT_TRUE(chooser->testOption(QFileDialog::DontUseNativeDialog));
        if (choose) {
            chooser->selectFile(QString::fromStdString(longRoot.string()));
            // Two changes before the view refreshes: it must show the last one.
            model().setRootFolderBookmark(std::nullopt);
        }
        choose ? static_cast<QDialog*>(chooser)->accept() : chooser->reject();
        EXPECT_FALSE(view->folderChooser() || view->isSelectingRoot());
        // The chosen folder is read on a worker, and the model hears of it from the event loop.
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return model().rootFolderURL() == (choose ? longRoot : root); }));
    }
    // Once the root has been checked and the row laid out again without the word that it is
    // being checked.
    QString text;
    EXPECT_TRUE(QTest::qWaitFor([&] {
        text = label->shownText();
        return label->text().toStdString() == longRoot.string() && !shown("rootStatusLabel") &&
               label->isVisible() &&
               text.startsWith(QString::fromStdString(temp.path().string().substr(0, 8))) &&
               text.contains(u'…') && text.endsWith("end-of-the-path");
    })) << text.toStdString();
    model().setRootFolderBookmark(std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !label->isVisible(); }));
}

// The platform's chooser can hand back a name that is no folder (the GTK chooser completes
// typed names, a typed name may not exist): that is the chooser failing, the root stays as it
// was, and the panel says why on a line of its own.
TEST_F(ContentViewTest, AChosenLocationThatIsNoFolderIsAChooserFailureThePanelExplains) {
    const fs::path file = temp.makeFile("dockets.txt");
    const fs::path missing = root / "a-";
    enter("99999");
    for (const auto& [location, why] : {std::pair{file, std::string(" is not a folder")},
                                        std::pair{missing, std::string(" does not exist")}}) {
        testing::internal::CaptureStdout();
        chooseInChooser(location);
        std::string printed;
        EXPECT_TRUE(QTest::qWaitFor([&] {
            std::fflush(stdout);
            printed += testing::internal::GetCapturedStdout();
            testing::internal::CaptureStdout();
            return !printed.empty();
        }));
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(printed, "Folder selection failed: the chosen location file://" +
                               location.string() + why + "\n");
        const auto* note = find<QLabel>("chooserNote");
        EXPECT_TRUE(QTest::qWaitFor([&] { return note->isVisible(); }));
        EXPECT_EQ(note->text().toStdString(), "Not changed: " + location.string() + why + ".");
        EXPECT_EQ(note->accessibleName(), note->text());
        EXPECT_EQ(model().rootFolderURL(), root);
        // A refusal is about the chooser, not about the last lookup, whose message stays.
        EXPECT_EQ(error(), "Folder not found for 99999");
        EXPECT_FALSE(view->folderChooser() || view->isSelectingRoot());
    }
    EXPECT_FALSE(fs::exists(missing));
    // The next folder that is one replaces the refusal.
    const fs::path other = temp.makeFolder("other/a-1");
    chooseInChooser(other.parent_path());
    EXPECT_TRUE(QTest::qWaitFor([&] { return model().rootFolderURL() == other.parent_path(); }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown("chooserNote"); }));
}

// Choosing one level or two too deep is the easy mistake; it is said, and the folder above
// suggested, but the choice stands: a new dockets folder with no buckets yet is a valid root.
TEST_F(ContentViewTest, ARootInsideABucketIsTakenWithAHintAtTheFolderAbove) {
    const auto* note = find<QLabel>("chooserNote");
    const fs::path bucket = root / "a-123";
    const fs::path docket = bucket / "12345 Smith & Co";
    const fs::path fresh = temp.makeFolder("new dockets");
    struct Case {
        fs::path chosen;
        std::string hint;
    };
    for (const Case& c :
         {Case{bucket, "This looks like a bucket folder. The dockets root is probably the folder "
                       "above it: " +
                           root.string()},
          Case{docket, "This looks like a docket folder inside a bucket. The dockets root is "
                       "probably " +
                           root.string()},
          Case{fresh, ""}, Case{root, ""}}) {
        chooseInChooser(c.chosen);
        EXPECT_TRUE(QTest::qWaitFor([&] { return model().rootFolderURL() == c.chosen; }))
            << c.chosen;
        EXPECT_TRUE(QTest::qWaitFor([&] { return note->isVisible() == !c.hint.empty(); }))
            << c.chosen;
        if (!c.hint.empty()) {
            EXPECT_EQ(note->text().toStdString(), c.hint);
        }
    }
    EXPECT_TRUE(fs::is_empty(fresh));
}

TEST_F(ContentViewTest, ChoosingARootClearsTheErrorLine) {
    model().setRootFolderBookmark(std::nullopt);
    enter("12345");
    EXPECT_EQ(error(), "Root folder not selected");
    chooseInChooser(root);
    EXPECT_TRUE(QTest::qWaitFor([&] { return model().rootFolderURL() == root; }));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !shown("errorLabel"); }));
    // Giving up in the chooser changes nothing, the error line included.
    enter("99999");
    click(find("selectRootButton"));
    ASSERT_NE(view->folderChooser(), nullptr);
    view->folderChooser()->reject();
    QTest::qWait(0);
    EXPECT_EQ(error(), "Folder not found for 99999");
}

// The empty panel says what goes where, quietly and apart from the error line, and each line
// goes once what it describes is there.
TEST_F(ContentViewTest, AnEmptyPanelSaysWhatGoesWhereInMutedLinesOfTheirOwn) {
    const auto* noRoot = find<QLabel>("noRootNote");
    const auto* noRecents = find<QLabel>("noRecentsNote");
    ASSERT_TRUE(noRoot && noRecents);
    EXPECT_FALSE(noRoot->isVisible());
    EXPECT_TRUE(noRecents->isVisible());
    EXPECT_EQ(noRecents->text(), "The dockets you open will be listed here.");

    model().setRootFolderBookmark(std::nullopt);
    EXPECT_TRUE(QTest::qWaitFor([&] { return noRoot->isVisible(); }));
    EXPECT_EQ(noRoot->text(), "Choose the folder that holds the a-… bucket folders.");
    for (const QLabel* note : {noRoot, noRecents}) {
        EXPECT_EQ(note->accessibleName(), note->text());
        EXPECT_EQ(note->foregroundRole(), QPalette::PlaceholderText);
        // Under the control it speaks of: the root's button, the open button.
        EXPECT_GT(note->mapTo(view.get(), QPoint()).y(),
                  find(note == noRoot ? "selectRootButton" : "openFolderButton")
                      ->mapTo(view.get(), QPoint())
                      .y());
    }
    // Neither is the error line, which comes and goes beside them.
    enter("12345");
    EXPECT_EQ(error(), "Root folder not selected");
    EXPECT_TRUE(noRoot->isVisible() && noRecents->isVisible());

    showRecents(named({"J000001 First"}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !noRecents->isVisible(); }));
    makeBookmarkedRoot();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !noRoot->isVisible(); }));
    click(find("clearRecentsButton"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return noRecents->isVisible(); }));
}

// Without a tray the panel says how to come back to it, with the hotkey's help a click away.
TEST_F(ContentViewTest, WithoutATrayThePanelSaysHowToBringItBack) {
    auto* note = find<QLabel>("trayNote");
    EXPECT_FALSE(note->isVisible());
    view->setTrayMissing(true);
    EXPECT_TRUE(note->isVisible());
    EXPECT_TRUE(note->openExternalLinks());
    EXPECT_TRUE(note->text().contains("href=\"https://zorvant.org/#the-hotkey\""));
    EXPECT_EQ(note->accessibleName(), "No tray icon: start Zorvant again, or use a shortcut.");
    // "Keyboard Shortcut…" beside it, the two no taller than a button, below everything else.
    auto* shortcut = find<QPushButton>("keyboardShortcutButton");
    EXPECT_TRUE(shortcut->isVisible());
    EXPECT_LE(note->heightForWidth(note->width()),
              std::max(shortcut->height(), 2 * note->fontMetrics().lineSpacing()));
    EXPECT_EQ(shortcut->mapTo(view.get(), QPoint()).y() + shortcut->height() / 2,
              note->mapTo(view.get(), QPoint()).y() + note->height() / 2);
    EXPECT_GE(note->mapTo(view.get(), QPoint()).y(),
              find("openFolderButton")->mapTo(view.get(), QPoint()).y());
    view->setTrayMissing(false);
    EXPECT_FALSE(note->isVisible());
}

TEST_F(ContentViewTest, LongNamesAreElidedInTheMiddleClearOfTheScrollBarAndKeptWholeElsewhere) {
    QStringList names;
    for (int i = 1; i <= 10; ++i)
        names << QString("J%1 Client number %2 with a rather long matter name for testing")
                     .arg(i, 6, 10, QChar('0'))
                     .arg(i);
    names[1] = "J000002 Smith & Jones with a rather long matter name, the end";
    names[2] = "J000003 line\nfeed";
    names[3] = "<b>J000004</b>";
    showRecents(named(names));
    auto* list = find<RecentsList>("recentsList");
    ASSERT_EQ(list->builtRowCount(), 10);
    // Ten rows do not fit in the list's height: the scroll bar shows, and no row reaches it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->verticalScrollBar()->isVisible(); }));
    const int barLeft = list->verticalScrollBar()->mapTo(list, QPoint(0, 0)).x();
    for (QPushButton* button : list->rows()) {
        auto* row = static_cast<ElidedButton*>(button);
        const QString& name = row->fullText();
        EXPECT_LE(row->mapTo(list, QPoint(row->width(), 0)).x(), barLeft) << name.toStdString();
        EXPECT_LE(row->fontMetrics().horizontalAdvance(row->shownText()), row->width());
        // Screen readers and the tooltip get the whole name.
        EXPECT_EQ(row->accessibleName(), name);
        if (!name.startsWith('<')) {
            EXPECT_EQ(row->toolTip(), name);
        }
    }
    const auto row = [&](int i) { return static_cast<ElidedButton*>(list->rows()[i]); };
    // The docket number and the end of the name stay readable.
    const QString shown = row(0)->shownText();
    EXPECT_TRUE(shown.startsWith("J000001 Client") && shown.contains(u'…') &&
                shown.endsWith("for testing") && shown != names[0])
        << shown.toStdString();
    EXPECT_TRUE(row(1)->shownText().endsWith("the end"));
    EXPECT_TRUE(row(1)->text().contains("&&"));
    // A line feed shows as a space; the stored name keeps it.
    EXPECT_EQ(row(2)->shownText(), "J000003 line feed");
    EXPECT_EQ(row(2)->accessibleName(), "J000003 line\nfeed");
    EXPECT_EQ(model().recentDockets()[2].displayName(), "J000003 line\nfeed");
    // A name that looks like markup is shown, and tipped, as it is named.
    EXPECT_EQ(row(3)->shownText(), "<b>J000004</b>");
    EXPECT_TRUE(row(3)->toolTip().contains("&lt;b&gt;J000004&lt;/b&gt;"));

    // A wider panel shows more of each name; the conflict sheet's buttons elide alike.
    const int before = row(0)->shownText().size();
    view->resize(900, 420);
    EXPECT_TRUE(QTest::qWaitFor([&] { return row(0)->shownText().size() > before; }));
    EXPECT_EQ(row(0)->shownText(), names[0]);
}

TEST_F(ContentViewTest, TabGoesDownThePanelThroughEveryRowAlsoThoseBuiltLater) {
    QStringList names;
    for (int i = 1; i <= 9; ++i)
        names << QString("Docket %1").arg(i);
    showRecents(named(names));
    // A tenth row, made after the others, comes first on screen and so first under Tab.
    names.prepend("Docket 10");
    model().setRecentDockets(named(names));
    ASSERT_TRUE(QTest::qWaitFor([&] { return rows().size() == 10; }));
    find("numberField")->setFocus();
    QStringList expected = QStringList{"openFolderButton"} + names;
    expected << "clearRecentsButton"
             << "selectRootButton"
             << "numberField";
    EXPECT_EQ(tabPath(expected.size()), strings(expected));

    // A long stored list builds its rows as they come into view, Tab included.
    QStringList many;
    for (int i = 1; i <= 100; ++i)
        many << QString("Entry %1").arg(i);
    model().setRecentDockets(named(many));
    const auto list = find<RecentsList>("recentsList");
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto built = list->rows();
        return !built.empty() && built[0]->text() == "Entry 1";
    }));
    ASSERT_LT(list->builtRowCount(), 100);
    find("openFolderButton")->setFocus();
    expected = many;
    expected << "clearRecentsButton";
    EXPECT_EQ(tabPath(expected.size()), strings(expected));
}

TEST_F(ContentViewTest, ShowingTheViewOrAFocusRequestSelectsTheNumberSoTypingReplacesIt) {
    auto* field = find<QLineEdit>("numberField");
    QTest::keyClicks(field, "123");
    EXPECT_FALSE(field->hasSelectedText());
    view->hide();
    view->show();
    // The keyboard goes to the field as the window takes it.
    EXPECT_EQ(view->focusWidget(), field);
    EXPECT_EQ(field->selectedText(), "123");
    QTest::keyClicks(field, "7");
    EXPECT_EQ(field->text(), "7");
    EXPECT_EQ(model().folderNumber(), "7");

    // The field kept the keyboard, or lost it: either way a focus request selects all of it.
    for (QWidget* holder : {static_cast<QWidget*>(field), find("openFolderButton")}) {
        holder->setFocus();
        field->setCursorPosition(0);
        NotificationCenter::defaultCenter().post(focusRequestNotification());
        EXPECT_EQ(view->focusWidget(), field);
        EXPECT_EQ(field->selectedText(), "7");
    }
    QTest::keyClicks(field, "45");
    EXPECT_EQ(model().folderNumber(), "45");
}

// Key events as the X server sends them, with their server times.
class KeyRepeatTest : public ContentViewTest {
protected:
    void press(QWidget* to, Qt::Key key, unsigned long time, bool autoRepeat = false) {
        send(to, QEvent::KeyPress, key, time, autoRepeat);
    }
    void release(QWidget* to, Qt::Key key, unsigned long time, bool autoRepeat = false) {
        send(to, QEvent::KeyRelease, key, time, autoRepeat);
    }
    void send(QWidget* to, QEvent::Type type, Qt::Key key, unsigned long time, bool autoRepeat) {
        const QString text = key == Qt::Key_Space ? " " : key == Qt::Key_Return ? "\r" : "";
        QKeyEvent event(type, key, Qt::NoModifier, text, autoRepeat);
        event.setTimestamp(time);
        QApplication::sendEvent(to, &event);
        // A key that acted has its lookup answered before the next key, as a person's keys
        // do: what is counted is which keys act, not which answers win.
        settle();
    }
    std::size_t openings() const { return opener->opened.size(); }

    const fs::path seven = temp.makeFolder("dockets/a-J0000/J000007 Seven");
};

TEST_F(KeyRepeatTest, AHeldKeyActsOnceAndADeliberateSecondPressActsAgain) {
    auto* field = find<QLineEdit>("numberField");
    QTest::keyClicks(field, "7");
    // Return held in the field: repeats marked as such, and the unmarked pair that shares the
    // release's time, open nothing more.
    press(field, Qt::Key_Return, 1000);
    EXPECT_EQ(openings(), 1u);
    release(field, Qt::Key_Return, 1660, true);
    press(field, Qt::Key_Return, 1660, true);
    release(field, Qt::Key_Return, 1700);
    press(field, Qt::Key_Return, 1701);
    release(field, Qt::Key_Return, 1740);
    EXPECT_EQ(openings(), 1u);
    // Let go and pressed again by hand.
    press(field, Qt::Key_Return, 1900);
    release(field, Qt::Key_Return, 1950);
    EXPECT_EQ(openings(), 2u);

    // "Open Folder" with the keyboard: Return acts on the press, Space on the release.
    QWidget* button = find("openFolderButton");
    button->setFocus();
    press(button, Qt::Key_Return, 3000);
    press(button, Qt::Key_Return, 3660, true);
    release(button, Qt::Key_Return, 3700);
    press(button, Qt::Key_Return, 3700);
    release(button, Qt::Key_Return, 3800);
    EXPECT_EQ(openings(), 3u);
    press(button, Qt::Key_Space, 4000);
    release(button, Qt::Key_Space, 4660, true);
    press(button, Qt::Key_Space, 4660, true);
    release(button, Qt::Key_Space, 4700);
    press(button, Qt::Key_Space, 4700);
    release(button, Qt::Key_Space, 4740);
    EXPECT_TRUE(QTest::qWaitFor([&] { return openings() == 4u; }));
    // Nothing more is on its way: no release is held back for a replay.
    EXPECT_TRUE(
        QTest::qWaitFor([] { return !KeyRepeatGuard::forApplication().isHoldingARelease(); }));
    EXPECT_EQ(openings(), 4u);
    press(button, Qt::Key_Space, 5000);
    release(button, Qt::Key_Space, 5090);
    EXPECT_TRUE(QTest::qWaitFor([&] { return openings() == 5u; }));

    // Events without server times: only the repeats Qt marks can be told from presses.
    press(field, Qt::Key_Return, 0);
    press(field, Qt::Key_Return, 0, true);
    release(field, Qt::Key_Return, 0);
    press(field, Qt::Key_Return, 0);
    EXPECT_EQ(opener->opened, std::vector<fs::path>(7, seven));

    // The recents' rows, as every guarded widget, share the application's one guard.
    showRecents(named({"12345 Smith & Co"}));
    EXPECT_EQ(qApp->findChildren<KeyRepeatGuard*>(QString(), Qt::FindDirectChildrenOnly).size(), 1);
}

// What assistive technology is told; that it hears the changes as they come is checked on a
// real desktop, where Qt's accessibility bridge runs.
TEST_F(ContentViewTest, ScreenReadersFindTheMessageAsANotificationAndTheSheetAsADialog) {
    const auto accessible = [](QObject* object) {
        QAccessibleInterface* interface = QAccessible::queryAccessibleInterface(object);
        return std::pair{interface->role(), interface->text(QAccessible::Name).toStdString()};
    };
    QObject* line = find("errorLabel");
    enter("");
    EXPECT_EQ(accessible(line),
              std::pair(QAccessible::Notification, std::string("Please enter digits")));
    enter("99999");
    EXPECT_EQ(accessible(line).second, "Folder not found for 99999");

    enter("12345");
    QWidget* sheet = find("conflictSheet");
    EXPECT_EQ(accessible(sheet),
              std::pair(QAccessible::Dialog,
                        std::string("Found both Legacy and J dockets. Which one would you like "
                                    "to open?")));
    // The keyboard moves into it, so the dialog is the context of what is read next.
    EXPECT_TRUE(sheet->isAncestorOf(view->focusWidget()));
}

// Every control shows the keyboard focus clearly, in light and dark themes alike: a ring
// around it that stands out from the panel, or, for a recent row, a ring of its own.
TEST_F(ContentViewTest, TheFocusRingFollowsTheKeyboardInAColourThatStandsOut) {
    showRecents({RecentDocket(DocketKind::j, "1", "J000001 One", 1)});
    auto* ring = find<FocusRing>("focusRing");
    for (const char* name :
         {"selectRootButton", "numberField", "openFolderButton", "clearRecentsButton"}) {
        QWidget* control = find(name);
        control->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(ring->target(), control) << name;
        const QRect around = ring->geometry();
        const QRect inside(control->mapTo(ring->parentWidget(), QPoint(0, 0)), control->size());
        EXPECT_TRUE(ring->isVisible() && around.contains(inside) && around != inside) << name;
    }
    // A row draws its own ring, which the list's edge cannot clip.
    rows()[0]->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(ring->isVisible());
    EXPECT_TRUE(rows()[0]->styleSheet().contains(FocusRing::colour(view->palette()).name()));

    const auto contrast = [](const QColor& a, const QColor& b) {
        const auto luminance = [](const QColor& c) {
            const auto f = [](double v) {
                return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
            };
            return 0.2126 * f(c.redF()) + 0.7152 * f(c.greenF()) + 0.0722 * f(c.blueF());
        };
        const double la = luminance(a), lb = luminance(b);
        return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
    };
    // Qt's own light palette, and a dark scheme whose highlight is too dark to show on it.
    QPalette dark;
    dark.setColor(QPalette::Window, QColor("#222020"));
    dark.setColor(QPalette::Highlight, QColor("#12608a"));
    for (const QPalette& palette : {QPalette(QApplication::style()->standardPalette()), dark}) {
        const QColor ring = FocusRing::colour(palette);
        EXPECT_GE(contrast(ring, palette.color(QPalette::Window)), 4.5)
            << ring.name().toStdString();
    }
    EXPECT_EQ(FocusRing::colour(dark).lightness() > QColor("#12608a").lightness(), true);
}

// While a lookup waits on a stalled folder the panel stays usable, and after a moment says
// that it is searching; the sign goes when the newest lookup is answered or given up.
TEST_F(ContentViewTest, ShowsASearchIsRunningOnlyWhileTheNewestLookupWaits) {
    auto* searching = find<QLabel>("searchingLabel");
    auto* field = find<QLineEdit>("numberField");
    stalls.hold(root / "a-123");
    submit("12345");
    // Not at once: most lookups answer before anyone would notice.
    EXPECT_FALSE(searching->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return searching->isVisible(); }));
    EXPECT_EQ(searching->text(), "Searching…");
    EXPECT_EQ(view->cursor().shape(), Qt::BusyCursor);
    EXPECT_TRUE(field->hasFocus());

    // Typing and a new Return work; the newer lookup's answer ends the search.
    enter("99999");
    EXPECT_EQ(field->text(), "99999");
    ASSERT_TRUE(QTest::qWaitFor([&] { return error() == "Folder not found for 99999"; }));
    EXPECT_FALSE(searching->isVisible());
    EXPECT_NE(view->cursor().shape(), Qt::BusyCursor);

    // Closing the panel gives the lookup up.
    submit("12345");
    ASSERT_TRUE(QTest::qWaitFor([&] { return searching->isVisible(); }));
    view->hide();
    EXPECT_FALSE(view->flow().isLookingUp());
    EXPECT_NE(view->cursor().shape(), Qt::BusyCursor);
    view->show();
    EXPECT_FALSE(searching->isVisible());
    EXPECT_EQ(error(), "Folder not found for 99999");

    // Once the share answers, the conflict comes as usual.
    stalls.release(root / "a-123");
    enter("12345");
    ASSERT_TRUE(QTest::qWaitFor([&] { return find("conflictSheet")->isVisible(); }));
    EXPECT_FALSE(searching->isVisible());
}

// A lookup that has waited long enough for a share that does not answer is given up, and the
// panel says so, naming the root, instead of searching for ever. Clearing the recents gives a
// running lookup up too, so that it records nothing into the list just cleared; and so does
// a new root, so that nothing opens under the old one.
TEST_F(ContentViewTest, SaysTheFileServerIsNotAnsweringAndClearingOrANewRootGiveTheLookupUp) {
    auto* searching = find<QLabel>("searchingLabel");
    view->setNotAnsweringDelay(std::chrono::milliseconds(600));
    stalls.hold(root / "a-J0123");
    submit("12345");
    ASSERT_TRUE(QTest::qWaitFor([&] { return searching->isVisible(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !error().isEmpty(); }));
    EXPECT_EQ(error().toStdString(), "File server not answering for " + root.native());
    EXPECT_FALSE(searching->isVisible());
    EXPECT_FALSE(view->flow().isLookingUp());

    showRecents({RecentDocket(DocketKind::j, "7", "J000007", 1)});
    view->setNotAnsweringDelay(ContentView::notAnsweringDelay);
    submit("12345");
    ASSERT_TRUE(view->flow().isLookingUp());
    view->findChild<QPushButton*>("clearRecentsButton")->click();
    EXPECT_FALSE(view->flow().isLookingUp());
    stalls.release(root / "a-J0123");
    // The listing that was given up ends without landing anything.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return view->controller().finder().runningListings(root) == 0; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(model().recentDockets().empty());
    EXPECT_TRUE(opener->opened.empty());
    EXPECT_FALSE(find("conflictSheet")->isVisible());

    stalls.hold(root / "a-J0123");
    submit("12345");
    ASSERT_TRUE(view->flow().isLookingUp());
    model().setRootFolderBookmark(makeBookmark(temp.makeFolder("elsewhere")).value());
    EXPECT_FALSE(view->flow().isLookingUp());
    stalls.release(root / "a-J0123");
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return view->controller().finder().runningListings(root) == 0 &&
               model().rootStatus() == FolderModel::RootStatus::accessible;
    }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(find("conflictSheet")->isVisible());
    EXPECT_TRUE(opener->opened.empty());
}

// A root's path that looks like markup is tipped as it is named, as the recents' names are.
TEST(ElidedLabelTest, TipsAPathThatLooksLikeMarkupAsItIsNamed) {
    ElidedLabel label;
    label.setFullText(QStringLiteral("/srv/<b>dockets</b>"));
    EXPECT_TRUE(label.toolTip().contains(QStringLiteral("/srv/&lt;b&gt;dockets&lt;/b&gt;")))
        << label.toolTip().toStdString();
    label.setFullText(QStringLiteral("/srv/dockets"));
    EXPECT_EQ(label.toolTip(), QStringLiteral("/srv/dockets"));
}
