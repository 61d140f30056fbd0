#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QScreen>
#include <QStyleHints>
#include <QTest>

#include "app/app_delegate.h"
#include "app/panel_placement.h"
#include "app/panel_window.h"
#include "app/status_item.h"
#include "platform/notification_center.h"
#include "platform/user_defaults.h"
#include "support/docket_fixture.h"
#include "support/holding_watcher.h"
#include "support/tray_host.h"
#include "ui/content_view.h"
#include "ui/shortcut_instructions.h"

// The delegate as the program builds it, its tray icon on a bus of the test's own where a tray
// may come and go, and a log of what the panel sees: 'a' when it is activated while shown, 'f'
// for a focus request while it is shown, and '?' for either while it is hidden.
class AppDelegateTest : public ::testing::Test {
protected:
    // Launches, and returns without waiting for the desktop to say where the icon goes.
    void startLaunching() {
        delegate = std::make_unique<AppDelegate>(AppDelegate::Environment{
            {.defaults = std::make_shared<UserDefaults>(temp / "defaults.ini")},
            std::make_shared<RecordingOpener>(),
            tray.busAddress(),
            [this] { return now; },
            shortcuts});
        delegate->applicationDidFinishLaunching();
        QObject::connect(panel(), &PanelWindow::activated, panel(),
                         [this] { seen += panel()->isVisible() ? 'a' : '?'; });
    }
    // Launched, once the desktop has said whether a tray takes the icon.
    void launch() {
        startLaunching();
        ASSERT_TRUE(waitUntil([&] { return delegate->statusItem()->isSettled(); }));
    }
    // With a tray there from the start, once the icon is in it.
    void launchInTray() {
        tray.startWatcher();
        ASSERT_NO_FATAL_FAILURE(launch());
        ASSERT_TRUE(waitUntil([&] { return delegate->statusItem()->isInTray(); }));
    }
    PanelWindow* panel() const { return delegate->popover(); }
    QString item() const {
        return QStringLiteral("org.kde.StatusNotifierItem-%1-1")
            .arg(QCoreApplication::applicationPid());
    }
    // An Activate as a StatusNotifierItem host sends it, with the point clicked.
    void activate(QPoint at) {
        tray.call(item(), QStringLiteral("/StatusNotifierItem"),
                  QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Activate"),
                  {at.x(), at.y()});
    }
    // A click meant on its own: once the last Activate's double-click time has passed.
    void click(QPoint at) {
        waitOutDoubleClick();
        activate(at);
    }
    // The tray icon's double clicks are timed by the test's clock, which moves only here.
    void waitOutDoubleClick() {
        now +=
            std::chrono::milliseconds(QGuiApplication::styleHints()->mouseDoubleClickInterval()) +
            std::chrono::milliseconds(1);
    }
    QVariant itemProperty(const QString& name) {
        return tray.property(item(), QStringLiteral("/StatusNotifierItem"),
                             QStringLiteral("org.kde.StatusNotifierItem"), name);
    }

    TempDir temp;
    TrayHost tray;
    // No portal, no desktop: each test says which it has.
    ShortcutSetup::Environment shortcuts = [] {
        ShortcutSetup::Environment environment;
        environment.startThread = {};
        environment.portalBus = QStringLiteral("none");
        return environment;
    }();
    std::chrono::steady_clock::time_point now;
    std::string seen;
    const Connection focusRequests =
        NotificationCenter::defaultCenter().addObserver(focusRequestNotification(), [this] {
            seen += panel() && panel()->isVisible() ? 'f' : '?';
        });
    std::unique_ptr<AppDelegate> delegate;
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint topRight{available.right() - 40, available.top() + 10};
};

TEST_F(AppDelegateTest, ClicksToggleAndReopenShowsTheOnePanelOfALifetime) {
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(panel()->size(), QSize(420, 420));
    EXPECT_EQ(panel()->windowType(), Qt::Tool);
    EXPECT_TRUE(panel()->windowFlags().testFlag(Qt::FramelessWindowHint));
    // To a screen reader the panel is a dialog named "Dockets", announced as it comes up.
    const QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(panel());
    EXPECT_EQ(accessible->role(), QAccessible::Dialog);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Dockets");
    ContentView* view = panel()->contentView();
    const FolderModel* model = view->model().get();

    // The click's point anchors the panel: below it, wholly on the screen.
    click(topRight);
    EXPECT_EQ(seen, "af");
    const QRect placed = panel()->frameGeometry();
    EXPECT_TRUE(available.contains(placed) && placed.top() > topRight.y() &&
                placed.left() <= topRight.x() && topRight.x() <= placed.right())
        << placed.x() << "," << placed.y();
    click(topRight);
    EXPECT_FALSE(panel()->isVisible());
    // Reopen shows the hidden panel, or brings the shown one forward, just as a click shows it.
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_EQ(seen, "afaf");
    EXPECT_EQ(panel()->frameGeometry(), placed);
    delegate->applicationShouldHandleReopen(true, "token-1");
    EXPECT_EQ(seen, "afafaf");
    EXPECT_EQ(panel()->contentView(), view);
    EXPECT_EQ(panel()->findChildren<ContentView*>().size(), 1);
    EXPECT_EQ(view->model().get(), model);
}

// The desktop the process says it runs on, while the object lives.
class DesktopNamed {
public:
    explicit DesktopNamed(const char* name) : m_saved(qgetenv("XDG_CURRENT_DESKTOP")) {
        qputenv("XDG_CURRENT_DESKTOP", name);
    }
    ~DesktopNamed() { qputenv("XDG_CURRENT_DESKTOP", m_saved); }

private:
    const QByteArray m_saved;
};

// GNOME's tray extension sends the first double click on a new icon as two Activates, and
// every later one as one Activate.
TEST_F(AppDelegateTest, OnGnomeTheFirstDoubleClickIsOneClickHoweverItArrives) {
    const DesktopNamed gnome("GNOME");
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    activate(topRight);
    activate(topRight);
    EXPECT_TRUE(panel()->isVisible());
    // Two quick double clicks later are two clicks: the panel closes and opens again.
    activate(topRight);
    EXPECT_FALSE(panel()->isVisible());
    activate(topRight);
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(seen, "afaf");
}

// Plasma's and XFCE's trays send each click of a double click as an Activate. The double click
// opens the panel, or closes it, once: the second Activate never undoes the first. Clicks
// further apart still toggle.
TEST_F(AppDelegateTest, ElsewhereTheTwoActivatesOfADoubleClickAreOneClick) {
    const DesktopNamed plasma("KDE");
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    const auto doubleClick = [&] {
        waitOutDoubleClick();
        activate(topRight);
        activate(topRight);
    };
    doubleClick();
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(seen, "af");
    click(topRight);
    EXPECT_FALSE(panel()->isVisible());
    click(topRight);
    EXPECT_TRUE(panel()->isVisible());
    doubleClick();
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(seen, "afaf");
    // A second Activate that comes once the double-click time is up is a click of its own.
    activate(topRight);
    waitOutDoubleClick();
    activate(topRight);
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(seen, "afafaf");
}

// Keys typed into the panel between two Activates mean the user saw it: the second is a click
// of its own, even within a double click's time.
TEST_F(AppDelegateTest, OnGnomeKeysBetweenTwoActivatesMakeThemTwoClicks) {
    const DesktopNamed gnome("GNOME");
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    activate(topRight);
    EXPECT_TRUE(panel()->isVisible());
    QTest::keyClick(panel()->findChild<QWidget*>(QStringLiteral("numberField")), Qt::Key_4);
    activate(topRight);
    EXPECT_FALSE(panel()->isVisible());
}

// GNOME as the desktop, and an icon theme of the test's own that has the symbolic tray icon or
// not; the process's own settings come back afterwards.
class GnomeIconTheme {
public:
    GnomeIconTheme(const std::filesystem::path& root, bool withSymbolicIcon)
        : m_paths(QIcon::themeSearchPaths()), m_theme(QIcon::themeName()) {
        const QString hicolor = QString::fromStdString((root / "hicolor").string());
        QDir().mkpath(hicolor + QStringLiteral("/scalable/status"));
        QFile index(hicolor + QStringLiteral("/index.theme"));
        if (index.open(QIODevice::WriteOnly))
            index.write("[Icon Theme]\nName=Hicolor\nDirectories=scalable/status\n\n"
                        "[scalable/status]\nSize=16\nMinSize=8\nMaxSize=512\nType=Scalable\n");
        index.close();
        if (withSymbolicIcon)
            QFile::copy(
                QStringLiteral(":/zorvant/icons/org.zorvant.Zorvant-tray-symbolic.svg"),
                hicolor + QStringLiteral("/scalable/status/org.zorvant.Zorvant-tray-symbolic.svg"));
        QIcon::setThemeSearchPaths({QString::fromStdString(root.string())});
        QIcon::setThemeName(QStringLiteral("hicolor"));
    }
    ~GnomeIconTheme() {
        QIcon::setThemeSearchPaths(m_paths);
        QIcon::setThemeName(m_theme);
    }

private:
    const DesktopNamed m_desktop{"ubuntu:GNOME"};
    QStringList m_paths;
    QString m_theme;
};

// GNOME's top bar recolours only an icon it finds in the theme: the image of a symbolic icon it
// cannot find would stay dark on the dark bar.
TEST_F(AppDelegateTest, GnomeGetsTheSymbolicIconOnlyWhereTheThemeHasIt) {
    for (const bool installed : {false, true}) {
        const GnomeIconTheme theme(temp / (installed ? "installed" : "bare"), installed);
        ASSERT_NO_FATAL_FAILURE(launchInTray());
        EXPECT_EQ(itemProperty(QStringLiteral("IconName")).toString().toStdString(),
                  installed ? "org.zorvant.Zorvant-tray-symbolic" : "org.zorvant.Zorvant-tray");
        delegate.reset();
        tray.stopWatcher();
    }
}

TEST_F(AppDelegateTest, TheMenuShowsThePanelAndNeverHidesIt) {
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    const QDBusMessage layout =
        tray.call(item(), QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                  QStringLiteral("GetProperty"), {1, QStringLiteral("label")});
    EXPECT_EQ(layout.arguments().value(0).value<QDBusVariant>().variant(), "Show Dockets");
    const auto choose = [&] {
        tray.call(item(), QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"),
                  QStringLiteral("Event"),
                  {1, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    };
    choose();
    EXPECT_EQ(seen, "af");
    choose();
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(seen, "afaf");
}

// "Keyboard Shortcut…", the menu's second entry: where the desktop's settings cannot be
// changed, the panel comes up saying why; elsewhere the steps come in a window of their own,
// which the panel's closing does not take along.
TEST_F(AppDelegateTest, TheMenusKeyboardShortcutEndsInThePanelsLineOrInTheSteps) {
    shortcuts.currentDesktop = QStringLiteral("GNOME");
    shortcuts.run = [](const std::string&, const std::vector<std::string>&) {
        CommandResult missing;
        missing.installed = false;
        return missing;
    };
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    const auto menu = [&](const QString& method, const QVariantList& arguments) {
        return tray.call(item(), QStringLiteral("/MenuBar"),
                         QStringLiteral("com.canonical.dbusmenu"), method, arguments);
    };
    EXPECT_EQ(menu(QStringLiteral("GetProperty"), {2, QStringLiteral("label")})
                  .arguments()
                  .value(0)
                  .value<QDBusVariant>()
                  .variant(),
              "Keyboard Shortcut…");
    const auto choose = [&] {
        menu(QStringLiteral("Event"),
             {2, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    };
    choose();
    auto* note = panel()->findChild<QLabel*>(QStringLiteral("shortcutNote"));
    ASSERT_NE(note, nullptr);
    ASSERT_TRUE(waitUntil([&] { return panel()->isVisible() && note->isVisible(); }));
    EXPECT_EQ(note->text(), "GNOME's settings tool (gsettings) is not installed.");
    EXPECT_EQ(seen, "af");
    panel()->performClose();

    delegate.reset();
    tray.stopWatcher();
    shortcuts.currentDesktop = QStringLiteral("LXQt");
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    choose();
    ASSERT_TRUE(waitUntil([&] {
        return delegate->shortcutInstructions() && delegate->shortcutInstructions()->isVisible();
    }));
    EXPECT_FALSE(panel()->isVisible());
}

TEST_F(AppDelegateTest, NamesItselfDocketsAndSendsItsIconInTheHostsByteOrder) {
    ASSERT_NO_FATAL_FAILURE(launch());
    EXPECT_EQ(itemProperty(QStringLiteral("Title")), "Dockets");
    EXPECT_EQ(itemProperty(QStringLiteral("Id")), "org.zorvant.Zorvant");
    QString iconName, title, description;
    const auto toolTip = itemProperty(QStringLiteral("ToolTip")).value<QDBusArgument>();
    toolTip.beginStructure();
    toolTip >> iconName;
    toolTip.beginArray();
    toolTip.endArray();
    toolTip >> title >> description;
    toolTip.endStructure();
    EXPECT_EQ(title, "Dockets");

    // Each image is alpha, red, green, blue per pixel, whatever this machine's byte order.
    // The item names our own tray icon (symbolic on GNOME), whose bundled copy a build that is
    // not installed draws.
    const QString name = itemProperty(QStringLiteral("IconName")).toString();
    EXPECT_TRUE(name == "org.zorvant.Zorvant-tray" || name == "org.zorvant.Zorvant-tray-symbolic")
        << name.toStdString();
    const QIcon icon =
        QIcon::fromTheme(name, QIcon(QStringLiteral(":/zorvant/icons/%1.svg").arg(name)));
    const auto pixmaps = itemProperty(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    int images = 0;
    pixmaps.beginArray();
    while (!pixmaps.atEnd()) {
        int width = 0, height = 0;
        QByteArray argb;
        pixmaps.beginStructure();
        pixmaps >> width >> height >> argb;
        pixmaps.endStructure();
        ASSERT_EQ(argb.size(), width * height * 4);
        const QImage expected =
            icon.pixmap(QSize(width, height)).toImage().convertToFormat(QImage::Format_ARGB32);
        const auto* bytes = reinterpret_cast<const uchar*>(argb.constData());
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uchar* p = bytes + (y * width + x) * 4;
                ASSERT_EQ(qRgba(p[1], p[2], p[3], p[0]), expected.pixel(x, y))
                    << width << " " << x << "," << y;
            }
        }
        ++images;
    }
    pixmaps.endArray();
    EXPECT_GE(images, 3);
}

TEST_F(AppDelegateTest, WithoutATrayOnlyReopenShowsThePanelCentred) {
    testing::internal::CaptureStderr();
    ASSERT_NO_FATAL_FAILURE(launch());
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(printed.find("no system tray") != printed.npos &&
                printed.find('\n') == printed.size() - 1)
        << printed;
    click(topRight);
    EXPECT_FALSE(panel()->isVisible());

    delegate->applicationShouldHandleReopen(false);
    EXPECT_EQ(seen, "af");
    const QRect placed = panel()->frameGeometry();
    EXPECT_EQ(placed.topLeft() + placed.bottomRight(),
              available.topLeft() + available.bottomRight());
}

// A panel that hangs while it takes the icon holds up neither the launch nor the panel, and the
// program says it found no tray only once the answer is in: here, that a tray took the icon.
TEST_F(AppDelegateTest, AHungTrayHoldsUpNothingAndTheNoTrayLineWaitsForItsAnswer) {
    HoldingWatcher hung(tray.busAddress());
    testing::internal::CaptureStderr();
    QElapsedTimer clock;
    clock.start();
    startLaunching();
    EXPECT_LT(clock.elapsed(), 500);
    ASSERT_TRUE(waitUntil([&] { return hung.heldRegistrations() == 1; }));
    EXPECT_FALSE(delegate->statusItem()->isSettled());
    // Meanwhile a second launch still brings the panel up.
    delegate->applicationShouldHandleReopen(false);
    EXPECT_EQ(seen, "af");

    hung.answer(true);
    ASSERT_TRUE(waitUntil([&] { return delegate->statusItem()->isInTray(); }));
    EXPECT_TRUE(delegate->statusItem()->isSettled());
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_EQ(printed.find("no system tray"), printed.npos) << printed;
}

// A click on the icon while the panel is up first takes the activation away, and the panel
// closes itself; the click itself arrives just after. It closed the panel and must not reopen it.
TEST_F(AppDelegateTest, TheClickThatClosedThePanelByDeactivationDoesNotReopenIt) {
    ASSERT_NO_FATAL_FAILURE(launchInTray());
    // Straight from the icon, so that the moment between the two is the test's own.
    const auto clickNow = [&] { Q_EMIT delegate->statusItem()->clicked({}); };
    clickNow();
    ASSERT_TRUE(panel()->isVisible());
    Q_EMIT qApp->applicationStateChanged(Qt::ApplicationInactive);
    ASSERT_FALSE(panel()->isVisible());
    clickNow();
    EXPECT_FALSE(panel()->isVisible());
    EXPECT_EQ(seen, "af");
    // A click a moment later is a click of its own.
    now += ActivationPolicy::closingClickWindow;
    clickNow();
    EXPECT_FALSE(panel()->isVisible());
    now += std::chrono::milliseconds(1);
    clickNow();
    EXPECT_TRUE(panel()->isVisible());
    EXPECT_EQ(seen, "afaf");
}

TEST_F(AppDelegateTest, ATrayThatComesAfterLaunchIsUsed) {
    ASSERT_NO_FATAL_FAILURE(launch());
    EXPECT_FALSE(delegate->statusItem()->isInTray());
    tray.startWatcher();
    ASSERT_TRUE(waitUntil([&] { return delegate->statusItem()->isInTray(); }));
    // A host that does not know where the click was says (0, 0): no anchor, so centred here.
    click({0, 0});
    EXPECT_EQ(seen, "af");
    const QRect placed = panel()->frameGeometry();
    EXPECT_EQ(placed.topLeft() + placed.bottomRight(),
              available.topLeft() + available.bottomRight());
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

// The panel keeps 420 × 420 where the area allows, and is never larger than the area. By an
// icon inside the area (a tray that reserves no room), it takes the room beside the icon
// rather than cover it, unless that leaves less than half its height.
TEST(PanelPlacementTest, SmallerAreasShrinkThePanelAndAnIconInsideTheAreaIsLeftUncovered) {
    const QSize preferred(420, 420);
    const QRect screen(0, 0, 1280, 800), magnified(0, 0, 640, 400), tiny(0, 0, 320, 240);
    struct Case {
        QRect available;
        std::optional<QRect> icon;
        std::optional<QPoint> cursor;
        QSize size;
    } cases[] = {
        {screen, {}, {}, preferred},
        {screen, QRect(1256, 0, 24, 24), {}, preferred},
        {magnified, {}, {}, {420, 400}},
        {magnified, QRect(616, 0, 24, 14), {}, {420, 382}},
        {magnified, QRect(616, 386, 24, 14), {}, {420, 382}},
        {magnified, {}, QPoint(600, 7), {420, 388}},
        {tiny, {}, {}, {320, 240}},
        {tiny, QRect(296, 0, 24, 24), {}, {320, 212}},
        {tiny, QRect(296, 40, 24, 24), {}, {320, 240}}, // too little room: cover it
        {QRect(0, 28, 640, 372), QRect(616, 2, 24, 24), {}, {420, 372}}, // icon outside
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const QSize size = panelSizeWithin(preferred, c.available, c.icon, c.cursor);
        EXPECT_EQ(size, c.size) << i;
        // Placed by the same icon, it lies wholly inside the area and clear of the icon.
        const QRect placed(panelPosition(size, c.available, c.icon, c.cursor), size);
        EXPECT_TRUE(c.available.contains(placed)) << i;
        if (c.icon && size.height() < c.available.height()) {
            EXPECT_FALSE(placed.intersects(*c.icon)) << i;
        }
    }
}

// A launch by the user shows the panel once the desktop has said whether a tray is there: by
// the icon where its place is known, centred without a tray, with the way back said there.
TEST_F(AppDelegateTest, ALaunchByTheUserShowsThePanelWithTheKeyboard) {
    startLaunching();
    delegate->showPanelAtLaunch();
    ASSERT_TRUE(waitUntil([&] { return delegate->statusItem()->isSettled(); }));
    ASSERT_TRUE(waitUntil([&] { return panel()->isVisible(); }));
    EXPECT_EQ(seen, "af");
    const QRect placed = panel()->frameGeometry();
    EXPECT_LE(std::abs(placed.center().x() - available.center().x()), 1);
    EXPECT_LE(std::abs(placed.center().y() - available.center().y()), 1);
    EXPECT_TRUE(panel()->findChild<QWidget*>("trayNote")->isVisible());
}

TEST_F(AppDelegateTest, ALaunchInATrayShowsThePanelWithoutTheNoTrayLine) {
    tray.startWatcher();
    startLaunching();
    delegate->showPanelAtLaunch();
    ASSERT_TRUE(waitUntil([&] { return panel()->isVisible(); }));
    EXPECT_TRUE(delegate->statusItem()->isInTray());
    EXPECT_EQ(seen, "af");
    EXPECT_FALSE(panel()->findChild<QWidget*>("trayNote")->isVisible());
}
