#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include "app/app_delegate.h"
#include "app/panel_placement.h"
#include "app/panel_window.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "support/docket_fixture.h"
#include "ui/content_view.h"

// The delegate as the program builds it, with a stand-in for the tray's presence and a log of
// what the panel sees: 'a' when it is activated while shown, 'f' for a focus request while it
// is shown, and '?' for either while it is hidden.
class AppDelegateTest : public ::testing::Test {
protected:
    void launch() {
        delegate = std::make_unique<AppDelegate>(AppDelegate::Environment{
            {.defaults = std::make_shared<UserDefaults>(temp / "defaults.ini")},
            std::make_shared<RecordingOpener>(),
            [this] { return trayAvailable; }});
        delegate->applicationDidFinishLaunching();
        QObject::connect(panel(), &PanelWindow::activated, panel(),
                         [this] { seen += panel()->isVisible() ? 'a' : '?'; });
    }
    PanelWindow* panel() const { return delegate->popover(); }
    void click(QSystemTrayIcon::ActivationReason reason = QSystemTrayIcon::Trigger) {
        Q_EMIT delegate->statusItem()->activated(reason);
    }

    TempDir temp;
    bool trayAvailable = true;
    std::string seen;
    const Connection focusRequests =
        NotificationCenter::defaultCenter().addObserver(focusRequestNotification(), [this] {
            seen += panel() && panel()->isVisible() ? 'f' : '?';
        });
    std::unique_ptr<AppDelegate> delegate;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
};

TEST_F(AppDelegateTest, ClicksToggleAndReopenShowsTheOnePanelOfALifetime) {
    launch();
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(panel()->size(), QSize(420, 420));
    EXPECT_EQ(panel()->windowType(), Qt::Tool);
    EXPECT_TRUE(panel()->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(delegate->statusItem()->toolTip(), "Dockets");
    EXPECT_FALSE(delegate->statusItem()->icon().isNull());
    ContentView* view = panel()->contentView();
    const FolderModel* model = view->model().get();

    click();
    EXPECT_EQ(seen, "af");
    // On X11 the second of two quick clicks arrives as a double click.
    click(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(panel()->isVisible());
    // Reopen shows the hidden panel, or brings the shown one forward, just as a click shows it.
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_EQ(seen, "afaf");
    delegate->applicationShouldHandleReopen(true, "token-1");
    EXPECT_EQ(seen, "afafaf");
    EXPECT_EQ(panel()->contentView(), view);
    EXPECT_EQ(panel()->findChildren<ContentView*>().size(), 1);
    EXPECT_EQ(view->model().get(), model);
}

TEST_F(AppDelegateTest, WithoutATrayOnlyReopenShowsThePanelCentred) {
    trayAvailable = false;
    testing::internal::CaptureStderr();
    launch();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(printed.find("no system tray") != printed.npos &&
                printed.find('\n') == printed.size() - 1)
        << printed;
    click();
    EXPECT_FALSE(panel()->isVisible());

    delegate->applicationShouldHandleReopen(false);
    EXPECT_EQ(seen, "af");
    const QRect placed = panel()->frameGeometry();
    EXPECT_EQ(placed.topLeft() + placed.bottomRight(),
              available.topLeft() + available.bottomRight());
}

// A click on the icon while the panel is up first takes the activation away, and the panel
// closes itself; the click itself arrives just after. It closed the panel and must not reopen it.
TEST_F(AppDelegateTest, TheClickThatClosedThePanelByDeactivationDoesNotReopenIt) {
    launch();
    click();
    ASSERT_TRUE(panel()->isVisible());
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    ASSERT_FALSE(panel()->isVisible());
    click();
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(seen, "af");
    // A click a moment later is a click of its own.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            click();
            return panel()->isVisible();
        },
        2000));
    EXPECT_EQ(seen, "afaf");
}

// Where the 420 × 420 panel goes: next to the tray icon (below one at the top of the screen,
// above one at the bottom, centred on it), else by the cursor in the same way, else centred;
// always clamped into the available area of the screen, keeping its top-left corner inside an
// area too small for it.
TEST(PanelPlacementTest, ByTheIconOrTheCursorOrCentredAndAlwaysInsideTheArea) {
    const QRect topBar(0, 24, 1920, 1056), full(0, 0, 1920, 1080), small(100, 50, 300, 300);
    struct Case {
        QRect available;
        std::optional<QRect> icon;
        std::optional<QPoint> cursor;
        QPoint topLeft;
    } cases[] = {
        {topBar, QRect(948, 0, 24, 24), {}, {750, 28}},
        {{0, 0, 1920, 1040}, QRect(1890, 1046, 24, 24), {}, {1500, 620}},
        {{1920, 0, 1280, 1024}, QRect(3190, 2, 10, 20), {}, {2780, 26}}, // a second screen
        {full, {}, QPoint(600, 100), {390, 105}},
        {full, {}, QPoint(600, 1000), {390, 576}},
        {full, QRect(), QPoint(600, 100), {390, 105}}, // an empty icon rectangle is no anchor
        {{-1280, 0, 1280, 1024}, {}, QPoint(-1279, 1020), {-1280, 596}},
        {full, {}, {}, {750, 330}},
        {{-1280, -24, 1280, 1024}, {}, {}, {-850, 278}},
        {small, {}, QPoint(390, 340), small.topLeft()},
        {small, QRect(380, 330, 16, 16), {}, small.topLeft()},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(panelPosition(QSize(420, 420), c.available, c.icon, c.cursor), c.topLeft) << i;
    }
}
