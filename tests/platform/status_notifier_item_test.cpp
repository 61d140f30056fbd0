#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QElapsedTimer>

#include "platform/status_notifier_item.h"
#include "support/holding_watcher.h"
#include "support/tray_host.h"

namespace {

const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");

// A menu entry as a host reads it: its id, label and children (the layout's (ia{sv}av)).
struct Entry {
    int id = 0;
    QVariantMap properties;
    std::vector<Entry> children;
};

Entry readEntry(const QDBusArgument& argument) {
    Entry entry;
    argument.beginStructure();
    argument >> entry.id >> entry.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        entry.children.push_back(readEntry(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return entry;
}

} // namespace

// The item of a program whose icon is a 2 × 1 image, with a menu of two entries, on the
// test's own bus; and what reaches the program from the host.
class StatusNotifierItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        item = std::make_unique<StatusNotifierItem>(
            StatusNotifierItem::Appearance{
                "org.zorvant.Zorvant", "Dockets", "folder", {{2, 1, {255, 1, 2, 3, 128, 4, 5, 6}}}},
            std::vector<MenuEntry>{{"Show Dockets", [this] { chosen += '1'; }},
                                   {"Second_entry", [this] { chosen += '2'; }}},
            tray.busAddress().toStdString());
        connections.push_back(
            item->observeActivation([this](int x, int y, const std::string& token) {
                clicks.push_back(std::to_string(x) + "," + std::to_string(y) + " " + token);
            }));
        connections.push_back(item->observeContextMenuRequests([this](int x, int y) {
            clicks.push_back("menu " + std::to_string(x) + "," + std::to_string(y));
        }));
        connections.push_back(item->observeTrayChanges([this] { ++trayChanges; }));
    }

    // Started, and the bus has answered: the item has its name, and knows whether a watcher
    // took it.
    void startAndSettle() {
        item->start();
        ASSERT_TRUE(waitUntil([&] { return item->isSettled(); }));
    }
    QString service() const {
        return QStringLiteral("org.kde.StatusNotifierItem-%1-1")
            .arg(QCoreApplication::applicationPid());
    }
    QDBusMessage callItem(const QString& method, const QVariantList& arguments) {
        return tray.call(service(), QStringLiteral("/StatusNotifierItem"), itemInterface, method,
                         arguments);
    }
    QDBusMessage callMenu(const QString& method, const QVariantList& arguments) {
        return tray.call(service(), QStringLiteral("/MenuBar"), menuInterface, method, arguments);
    }
    QVariant itemProperty(const QString& name) {
        return tray.property(service(), QStringLiteral("/StatusNotifierItem"), itemInterface, name);
    }

    TrayHost tray;
    std::unique_ptr<StatusNotifierItem> item;
    std::vector<Connection> connections;
    std::vector<std::string> clicks;
    std::string chosen;
    int trayChanges = 0;
};

TEST_F(StatusNotifierItemTest, RegistersWheneverAWatcherComesAndIsInATrayOnlyWithAHost) {
    ASSERT_NO_FATAL_FAILURE(startAndSettle());
    EXPECT_FALSE(item->isInTray());
    EXPECT_FALSE(item->hostIsRegistered());
    EXPECT_EQ(trayChanges, 0);

    // A tray that starts after the program, as at login.
    tray.startWatcher();
    ASSERT_TRUE(waitUntil([&] { return item->isInTray(); }));
    EXPECT_EQ(tray.registeredItems(), QStringList{service()});
    EXPECT_TRUE(item->hostIsRegistered());
    EXPECT_EQ(trayChanges, 1);

    // The panel restarts.
    tray.stopWatcher();
    ASSERT_TRUE(waitUntil([&] { return !item->isInTray(); }));
    tray.startWatcher();
    ASSERT_TRUE(waitUntil([&] { return item->isInTray(); }));
    EXPECT_EQ(tray.registeredItems(), QStringList{service()});
    EXPECT_EQ(trayChanges, 3);

    // A watcher whose host comes later: registered at once, shown once the host is there.
    tray.stopWatcher();
    tray.startWatcher(false);
    ASSERT_TRUE(waitUntil([&] { return tray.registeredItems() == QStringList{service()}; }));
    EXPECT_FALSE(item->isInTray());
    EXPECT_FALSE(item->hostIsRegistered());
    tray.call(QStringLiteral("org.kde.StatusNotifierWatcher"),
              QStringLiteral("/StatusNotifierWatcher"),
              QStringLiteral("org.kde.StatusNotifierWatcher"),
              QStringLiteral("RegisterStatusNotifierHost"), {QStringLiteral("org.kde.host")});
    EXPECT_TRUE(waitUntil([&] { return item->isInTray(); }));
}

TEST_F(StatusNotifierItemTest, ShowsItsNameIconAndMenuToHosts) {
    ASSERT_NO_FATAL_FAILURE(startAndSettle());
    EXPECT_EQ(itemProperty(QStringLiteral("Id")), "org.zorvant.Zorvant");
    EXPECT_EQ(itemProperty(QStringLiteral("Title")), "Dockets");
    EXPECT_EQ(itemProperty(QStringLiteral("Category")), "ApplicationStatus");
    EXPECT_EQ(itemProperty(QStringLiteral("Status")), "Active");
    EXPECT_EQ(itemProperty(QStringLiteral("IconName")), "folder");
    EXPECT_EQ(itemProperty(QStringLiteral("ItemIsMenu")), false);
    EXPECT_EQ(itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path(), "/MenuBar");

    // The tooltip (sa(iiay)ss) carries the title screen readers announce.
    QString iconName, title, description;
    const auto toolTip = itemProperty(QStringLiteral("ToolTip")).value<QDBusArgument>();
    ASSERT_EQ(toolTip.currentSignature(), "(sa(iiay)ss)");
    toolTip.beginStructure();
    toolTip >> iconName;
    toolTip.beginArray();
    toolTip.endArray();
    toolTip >> title >> description;
    toolTip.endStructure();
    EXPECT_EQ(title, "Dockets");

    // The icon images travel byte for byte: a(iiay).
    const auto pixmaps = itemProperty(QStringLiteral("IconPixmap")).value<QDBusArgument>();
    ASSERT_EQ(pixmaps.currentSignature(), "a(iiay)");
    int width = 0, height = 0;
    QByteArray argb;
    pixmaps.beginArray();
    pixmaps.beginStructure();
    pixmaps >> width >> height >> argb;
    pixmaps.endStructure();
    EXPECT_TRUE(pixmaps.atEnd());
    pixmaps.endArray();
    EXPECT_EQ(width, 2);
    EXPECT_EQ(height, 1);
    EXPECT_EQ(argb, QByteArray("\xff\x01\x02\x03\x80\x04\x05\x06", 8));
}

TEST_F(StatusNotifierItemTest, PassesClicksOnWithTheirPositionAndTheTokenGivenForThem) {
    ASSERT_NO_FATAL_FAILURE(startAndSettle());
    EXPECT_EQ(callItem(QStringLiteral("Activate"), {12, 34}).type(), QDBusMessage::ReplyMessage);
    // GNOME's extension hands over a token for the next Activate only.
    callItem(QStringLiteral("ProvideXdgActivationToken"), {QStringLiteral("token-1")});
    callItem(QStringLiteral("Activate"), {5, 6});
    callItem(QStringLiteral("Activate"), {7, 8});
    callItem(QStringLiteral("ContextMenu"), {3, 4});
    // A middle click and the wheel are answered and do nothing.
    EXPECT_EQ(callItem(QStringLiteral("SecondaryActivate"), {1, 2}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(callItem(QStringLiteral("Scroll"), {120, QStringLiteral("vertical")}).type(),
              QDBusMessage::ReplyMessage);
    EXPECT_EQ(clicks, (std::vector<std::string>{"12,34 ", "5,6 token-1", "7,8 ", "menu 3,4"}));
}

TEST_F(StatusNotifierItemTest, MenuListsItsEntriesAndRunsTheOneClicked) {
    ASSERT_NO_FATAL_FAILURE(startAndSettle());
    const QDBusMessage layout = callMenu(QStringLiteral("GetLayout"), {0, -1, QStringList()});
    ASSERT_EQ(layout.type(), QDBusMessage::ReplyMessage) << layout.errorMessage().toStdString();
    ASSERT_EQ(layout.signature(), "u(ia{sv}av)");
    const Entry root = readEntry(layout.arguments().at(1).value<QDBusArgument>());
    EXPECT_EQ(root.id, 0);
    EXPECT_EQ(root.properties.value(QStringLiteral("children-display")), "submenu");
    ASSERT_EQ(root.children.size(), 2u);
    EXPECT_EQ(root.children[0].id, 1);
    EXPECT_EQ(root.children[0].properties.value(QStringLiteral("label")), "Show Dockets");
    // dbusmenu reads '_' as a mnemonic marker: the label's own is doubled.
    EXPECT_EQ(root.children[1].properties.value(QStringLiteral("label")), "Second__entry");

    // Depth 0 leaves the children out; asked for names, only those come.
    const QDBusMessage shallow =
        callMenu(QStringLiteral("GetLayout"), {0, 0, QStringList{QStringLiteral("label")}});
    EXPECT_TRUE(readEntry(shallow.arguments().at(1).value<QDBusArgument>()).children.empty());
    const QDBusMessage one =
        callMenu(QStringLiteral("GetLayout"), {2, -1, QStringList{QStringLiteral("label")}});
    const Entry second = readEntry(one.arguments().at(1).value<QDBusArgument>());
    EXPECT_EQ(second.id, 2);
    EXPECT_EQ(second.properties.keys(), QStringList{QStringLiteral("label")});
    EXPECT_EQ(callMenu(QStringLiteral("GetProperty"), {1, QStringLiteral("label")})
                  .arguments()
                  .value(0)
                  .value<QDBusVariant>()
                  .variant(),
              "Show Dockets");
    EXPECT_EQ(callMenu(QStringLiteral("AboutToShow"), {0}).arguments().value(0), false);

    // Only a click runs an entry; unknown entries are refused.
    callMenu(QStringLiteral("Event"),
             {1, QStringLiteral("hovered"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(chosen, "");
    callMenu(QStringLiteral("Event"),
             {1, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(chosen, "1");
    for (const int unknown : {3, -1}) {
        const QDBusMessage refused =
            callMenu(QStringLiteral("Event"), {unknown, QStringLiteral("clicked"),
                                               QVariant::fromValue(QDBusVariant(0)), 0u});
        EXPECT_EQ(refused.errorName(), "com.canonical.dbusmenu.UnknownId") << unknown;
    }
    EXPECT_EQ(callMenu(QStringLiteral("GetLayout"), {9, -1, QStringList()}).type(),
              QDBusMessage::ErrorMessage);
    EXPECT_EQ(chosen, "1");
}

// The watcher lives in the panel. A panel that hangs while it takes the item must not hang the
// program: the item goes on answering its host, and the watcher's answers count when they come.
TEST_F(StatusNotifierItemTest, AWatcherThatSitsOnTheRegistrationHoldsNothingUp) {
    HoldingWatcher hung(tray.busAddress());
    QElapsedTimer clock;
    clock.start();
    item->start();
    // Well under the two seconds the item gives a watcher to answer.
    EXPECT_LT(clock.elapsed(), 500);
    ASSERT_TRUE(waitUntil([&] { return hung.heldRegistrations() == 1; }));
    EXPECT_EQ(callItem(QStringLiteral("Activate"), {1, 2}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(clicks, std::vector<std::string>{"1,2 "});
    EXPECT_FALSE(item->isSettled());
    EXPECT_FALSE(item->isInTray());

    // Refused: no tray for now, and the item asks again.
    hung.answer(false);
    EXPECT_TRUE(item->isSettled());
    EXPECT_FALSE(item->isInTray());
    ASSERT_TRUE(waitUntil([&] { return hung.heldRegistrations() == 1; }));

    hung.answer(true);
    ASSERT_TRUE(waitUntil([&] { return item->isInTray(); }));
    EXPECT_TRUE(item->hostIsRegistered());
    EXPECT_EQ(trayChanges, 1);
}

// GNOME's extension answers a registration only once the shell has started and it has read the
// item, which can take longer than the item waits; registered again meanwhile, it resets the
// item and can lose its icon. An item whose registration went unanswered asks whether it is
// listed before it registers again.
TEST_F(StatusNotifierItemTest, ARegistrationAnsweredTooLateIsNotMadeTwice) {
    HoldingWatcher slow(tray.busAddress());
    item->start();
    ASSERT_TRUE(waitUntil([&] { return slow.heldRegistrations() == 1; }));
    ASSERT_TRUE(waitUntil([&] { return item->isInTray(); }));
    EXPECT_EQ(slow.heldRegistrations(), 1);
}

TEST_F(StatusNotifierItemTest, AnswersThatComeTooLateChangeNothing) {
    // A panel that restarts while it hangs: the new watcher takes the item, and the old one's
    // refusal, coming after, is about a watcher that is gone.
    {
        HoldingWatcher hung(tray.busAddress());
        item->start();
        ASSERT_TRUE(waitUntil([&] { return hung.heldRegistrations() == 1; }));
        hung.giveUpName();
        tray.startWatcher();
        ASSERT_TRUE(waitUntil([&] { return item->isInTray(); }));
        hung.answer(false);
        EXPECT_TRUE(item->isInTray());
        EXPECT_EQ(trayChanges, 1);
        tray.stopWatcher();
        ASSERT_TRUE(waitUntil([&] { return !item->isInTray(); }));
    }

    // The item is gone by the time the watcher answers. The program's item is on the session
    // bus, which outlives it, so the answer still reaches the connection. No test before this
    // one in the process has used the session bus, so it comes to this test's bus.
    connections.clear();
    item.reset();
    qputenv("DBUS_SESSION_BUS_ADDRESS", tray.busAddress().toUtf8());
    HoldingWatcher hung(tray.busAddress());
    auto onSessionBus = std::make_unique<StatusNotifierItem>(
        StatusNotifierItem::Appearance{"org.zorvant.Zorvant", "Dockets", "folder", {}},
        std::vector<MenuEntry>{});
    int changes = 0;
    const Connection changed = onSessionBus->observeTrayChanges([&] { ++changes; });
    onSessionBus->start();
    ASSERT_TRUE(waitUntil([&] { return hung.heldRegistrations() == 1; }));
    onSessionBus.reset();
    hung.answer(true);
    EXPECT_EQ(changes, 0);
}
