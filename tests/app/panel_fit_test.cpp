#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/panel_window.h"
#include "platform/user_defaults.h"
#include "support/docket_fixture.h"
#include "ui/content_view.h"
#include "ui/recents_list.h"

// The panel on small screens: run with two screens whose available areas are, in Qt's logical
// pixels, 640 × 400 and 320 × 240; once as they are, and once magnified twice
// (QT_SCALE_FACTOR=2 over 1280 × 800 and 640 × 480).
class PanelFitTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto* content =
            new ContentView({.defaults = std::make_shared<UserDefaults>(temp / "defaults.ini")},
                            std::make_shared<RecordingOpener>());
        panel = std::make_unique<PanelWindow>(content);
        std::vector<RecentDocket> dockets;
        for (int i = 1; i <= 10; ++i)
            dockets.emplace_back(DocketKind::j, std::to_string(i),
                                 "J00000" + std::to_string(i) +
                                     " Client with a rather long matter name for testing",
                                 100 - i);
        content->model()->setRecentDockets(std::move(dockets));
    }

    template <class W = QWidget> W* find(const char* name) const {
        return panel->findChild<W*>(QString::fromLatin1(name));
    }
    // Shows the panel and puts an error line in it, as after a Return with nothing typed.
    void show(const std::function<void()>& placement) {
        placement();
        panel->activate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel.get()));
        QTest::keyClick(find("numberField"), Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([&] { return find("errorLabel")->isVisible(); }));
        QApplication::processEvents();
    }
    QRect globalRect(const QWidget* widget) const {
        return {widget->mapToGlobal(QPoint(0, 0)), widget->size()};
    }
    // Tab from the number field reaches every control in turn, each scrolled into view.
    void expectEveryControlReachable() {
        find("numberField")->setFocus();
        const QScrollArea* scroller = find<QScrollArea>("contentScroller");
        const auto* list = find<RecentsList>("recentsList");
        QStringList reached;
        for (int step = 0; step < 14; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* now = QApplication::focusWidget();
            ASSERT_NE(now, nullptr);
            reached << now->objectName();
            const QRect seen = globalRect(scroller->viewport());
            EXPECT_TRUE(seen.contains(globalRect(now))) << now->objectName().toStdString();
            if (now->objectName() == "recentRow") {
                EXPECT_TRUE(globalRect(list->viewport()).contains(globalRect(now)));
            }
        }
        EXPECT_EQ(reached.count("recentRow"), 10);
        for (const char* name : {"openFolderButton", "clearRecentsButton", "selectRootButton"})
            EXPECT_TRUE(reached.contains(name)) << name;
    }

    TempDir temp;
    std::unique_ptr<PanelWindow> panel;
};

TEST_F(PanelFitTest, AsTallAsTheScreenTheRecentsListGivesUpHeightAndNothingScrolls) {
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    const QRect medium = QGuiApplication::screens()[0]->availableGeometry();
    ASSERT_EQ(medium.size(), QSize(640, 400));
    show([&] { panel->showCentred(); });
    EXPECT_EQ(panel->frameGeometry(), QRect(medium.x() + 110, medium.y(), 420, 400));
    EXPECT_EQ(find<QScrollArea>("contentScroller")->verticalScrollBar()->maximum(), 0);
    const auto* list = find<RecentsList>("recentsList");
    EXPECT_LT(list->height(), RecentsList::maximumListHeight);
    EXPECT_GT(list->height(), list->minimumSizeHint().height());
    expectEveryControlReachable();
}

TEST_F(PanelFitTest, SmallerStillThePanelFillsTheRoomBelowTheIconAndScrolls) {
    ASSERT_EQ(QGuiApplication::screens().size(), 2);
    const QRect small = QGuiApplication::screens()[1]->availableGeometry();
    ASSERT_EQ(small.size(), QSize(320, 240));
    const QRect icon(small.right() - 24, small.top(), 24, 24);
    show([&] { panel->showRelativeTo(icon); });
    EXPECT_TRUE(small.contains(panel->frameGeometry())) << panel->frameGeometry().y();
    EXPECT_EQ(panel->width(), 320);
    EXPECT_GT(panel->y(), icon.bottom());
    EXPECT_GT(find<QScrollArea>("contentScroller")->verticalScrollBar()->maximum(), 0);
    const auto* list = find<RecentsList>("recentsList");
    EXPECT_EQ(list->height(), list->minimumSizeHint().height());
    expectEveryControlReachable();
}
