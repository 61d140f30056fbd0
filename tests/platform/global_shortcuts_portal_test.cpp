#include <ostream>

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QJsonObject>

#include "platform/global_shortcuts_portal.h"
#include "support/desktop_portal.h"
#include "support/tray_host.h"

namespace {

using State = GlobalShortcutsPortal::State;

const QString shortcutId = QStringLiteral("show-dockets");
// The portal as it comes up after the user bound the shortcut in an earlier run.
const QStringList boundEarlier{QStringLiteral("--bound"),
                               QStringLiteral("show-dockets=Ctrl+Alt+D")};

QStringList methods(const QJsonArray& calls) {
    QStringList names;
    for (const QJsonValue call : calls)
        names << call[QStringLiteral("method")].toString();
    return names;
}

} // namespace

// So that a failed check names the state.
void PrintTo(GlobalShortcutsPortal::State state, std::ostream* out) {
    constexpr const char* names[] = {"unknown", "unavailable", "unbound",
                                     "binding", "bound",       "failed"};
    *out << names[static_cast<int>(state)];
}

// The program's shortcut, with the desktop's stand-in portal on the test's own bus; what the
// portal was asked, and what reached the program. The tests share one portal, made fresh for
// each, since starting one takes longer than a test.
class GlobalShortcutsPortalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shared = std::make_unique<DesktopPortal>();
        shared->start();
    }
    static void TearDownTestSuite() { shared.reset(); }
    void SetUp() override { portal.reset(); }

    std::unique_ptr<GlobalShortcutsPortal> makeClient(const DesktopPortal& on) {
        auto made = std::make_unique<GlobalShortcutsPortal>(
            GlobalShortcutsPortal::Shortcut{shortcutId.toStdString(), "Show the dockets panel",
                                            "CTRL+ALT+d"},
            on.busAddress().toStdString());
        connections.push_back(made->observeStateChanges([this] { ++stateChanges; }));
        connections.push_back(made->observeActivation(
            [this](const std::string& token) { activations.push_back(token); }));
        return made;
    }
    void startClient(const DesktopPortal& on = *shared) {
        client = makeClient(on);
        client->start();
    }
    bool settlesAt(State state) {
        return waitUntil([&] { return client->state() == state; });
    }
    // The session the client made last.
    QString session(DesktopPortal& on = *shared) {
        const QJsonArray made = on.calls(QStringLiteral("CreateSession"));
        return made.isEmpty() ? QString()
                              : made.last().toObject().value(QStringLiteral("session")).toString();
    }

    static inline std::unique_ptr<DesktopPortal> shared;
    DesktopPortal& portal = *shared;
    std::unique_ptr<GlobalShortcutsPortal> client;
    std::vector<Connection> connections;
    std::vector<std::string> activations;
    int stateChanges = 0;
};

TEST_F(GlobalShortcutsPortalTest, FollowsWhetherTheDesktopOffersShortcuts) {
    // No portal: a desktop without xdg-desktop-portal.
    DesktopPortal own;
    startClient(own);
    ASSERT_TRUE(settlesAt(State::unavailable));
    // Nothing to bind with.
    client->bind();
    EXPECT_EQ(client->state(), State::unavailable);

    // A portal from before GlobalShortcuts, started later: asked again, and no use.
    own.start({QStringLiteral("--without-global-shortcuts")});
    ASSERT_TRUE(waitUntil([&] { return own.calls(QStringLiteral("Get")).size() == 1; }));
    auto another = makeClient(own);
    another->start();
    ASSERT_TRUE(waitUntil([&] { return another->state() == State::unavailable; }));
    EXPECT_EQ(own.calls(QStringLiteral("CreateSession")).size(), 0);
    another.reset();
    own.stop();
    // One that has it, with the binding of an earlier run: found as soon as it comes.
    own.start(boundEarlier);
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Ctrl+Alt+D");
    EXPECT_EQ(own.calls(QStringLiteral("CreateSession")).size(), 1);
    EXPECT_EQ(own.sessions(), QStringList{session(own)});

    // The portal goes, and its session with it.
    own.stop();
    ASSERT_TRUE(settlesAt(State::unavailable));
    EXPECT_EQ(client->trigger(), "");
    client.reset();
}

TEST_F(GlobalShortcutsPortalTest, FindsTheBindingOfAnEarlierRunWithoutShowingTheDialog) {
    portal.rememberBinding(shortcutId, QStringLiteral("Ctrl+Alt+D"));
    QElapsedTimer clock;
    clock.start();
    startClient();
    // The portal is another process: start() asks and returns.
    EXPECT_LT(clock.elapsed(), 500);
    EXPECT_EQ(client->state(), State::unknown);
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Ctrl+Alt+D");
    EXPECT_EQ(stateChanges, 1);

    const QJsonArray calls = portal.calls();
    ASSERT_EQ(methods(calls), (QStringList{"Get", "CreateSession", "ListShortcuts"}));
    EXPECT_EQ(calls[0][QStringLiteral("interface")], "org.freedesktop.portal.GlobalShortcuts");
    EXPECT_EQ(calls[2][QStringLiteral("session")], session());
    // Each request named in advance, so that its Response is listened for before the call.
    for (const int i : {1, 2})
        EXPECT_TRUE(calls[i][QStringLiteral("options")][QStringLiteral("handle_token")].isString());
    EXPECT_TRUE(
        calls[1][QStringLiteral("options")][QStringLiteral("session_handle_token")].isString());

    // A second start changes nothing.
    client->start();
    EXPECT_EQ(portal.sessions().size(), 1);
}

TEST_F(GlobalShortcutsPortalTest, BindsTheShortcutWithTheKeyTheUserChooses) {
    startClient();
    ASSERT_TRUE(settlesAt(State::unbound));
    EXPECT_EQ(client->trigger(), "");

    // The user closes the dialog.
    portal.setBindAnswer(DesktopPortal::cancelled);
    client->bind("x11:4a0001f");
    EXPECT_EQ(client->state(), State::binding);
    ASSERT_TRUE(settlesAt(State::unbound));

    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Meta+D"));
    client->bind("wayland:abc");
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Meta+D");
    const QJsonArray binds = portal.calls(QStringLiteral("BindShortcuts"));
    ASSERT_EQ(binds.size(), 2);
    EXPECT_EQ(binds[0][QStringLiteral("parent_window")], "x11:4a0001f");
    const QJsonObject bind = binds[1].toObject();
    EXPECT_EQ(bind.value(QStringLiteral("session")), session());
    EXPECT_EQ(bind.value(QStringLiteral("parent_window")), "wayland:abc");
    const QJsonArray sent = bind.value(QStringLiteral("shortcuts")).toArray();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_EQ(sent[0][0], shortcutId);
    EXPECT_EQ(
        sent[0][1].toObject(),
        (QJsonObject{{QStringLiteral("description"), QStringLiteral("Show the dockets panel")},
                     {QStringLiteral("preferred_trigger"), QStringLiteral("CTRL+ALT+d")}}));

    // Changing the key and thinking better of it keeps the key there is.
    portal.setBindAnswer(DesktopPortal::cancelled);
    client->bind();
    EXPECT_EQ(client->state(), State::binding);
    EXPECT_EQ(client->trigger(), "");
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Meta+D");

    // The desktop refuses: the user is told, and may try again.
    portal.setBindAnswer(DesktopPortal::other);
    client->bind();
    ASSERT_TRUE(settlesAt(State::failed));
    EXPECT_FALSE(client->failure().empty());
    EXPECT_EQ(client->trigger(), "");
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Meta+K"));
    client->bind();
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Meta+K");
    EXPECT_EQ(client->failure(), "");
    EXPECT_EQ(portal.sessions(), QStringList{session()});
}

TEST_F(GlobalShortcutsPortalTest, BindsBeforeStartByMakingTheSessionFirst) {
    client = makeClient(portal);
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Meta+D"));
    client->bind();
    ASSERT_TRUE(settlesAt(State::bound));
    const QJsonArray calls = portal.calls();
    ASSERT_EQ(methods(calls), (QStringList{"Get", "CreateSession", "BindShortcuts"}));
    EXPECT_EQ(calls[2][QStringLiteral("session")], session());
}

// The user may ask again while a dialog is still up; the answer to the older request is
// overtaken, whenever it comes.
TEST_F(GlobalShortcutsPortalTest, AnOvertakenBindAnswerChangesNothing) {
    startClient();
    ASSERT_TRUE(settlesAt(State::unbound));
    // Once, so that the session offers the preferred key and binds go straight to the dialog.
    portal.setBindAnswer(DesktopPortal::cancelled);
    client->bind();
    ASSERT_TRUE(settlesAt(State::unbound));
    portal.setBindAnswer(DesktopPortal::success, {}, true);
    client->bind();
    client->bind();
    ASSERT_TRUE(
        waitUntil([&] { return portal.calls(QStringLiteral("BindShortcuts")).size() == 3; }));
    portal.answerHeldBind(1, DesktopPortal::success, QStringLiteral("Meta+D"));
    ASSERT_TRUE(settlesAt(State::bound));
    const int changes = stateChanges;

    portal.answerHeldBind(0, DesktopPortal::other);
    // The portal's signals come in the order sent: once the activation is in, so is the old
    // answer.
    portal.activate(session(), shortcutId, QStringLiteral("after"));
    ASSERT_TRUE(waitUntil([&] { return activations.size() == 1; }));
    EXPECT_EQ(client->state(), State::bound);
    EXPECT_EQ(client->trigger(), "Meta+D");
    EXPECT_EQ(stateChanges, changes);
}

// A listing asked before a bind and answered after it tells of the shortcut as it was.
TEST_F(GlobalShortcutsPortalTest, AListingOvertakenByABindChangesNothing) {
    portal.holdLists(true);
    startClient();
    ASSERT_TRUE(
        waitUntil([&] { return portal.calls(QStringLiteral("ListShortcuts")).size() == 1; }));
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Meta+D"));
    client->bind();
    ASSERT_TRUE(settlesAt(State::bound));

    portal.answerHeldLists();
    portal.activate(session(), shortcutId, QStringLiteral("after"));
    ASSERT_TRUE(waitUntil([&] { return activations.size() == 1; }));
    EXPECT_EQ(client->state(), State::bound);
    EXPECT_EQ(client->trigger(), "Meta+D");
}

TEST_F(GlobalShortcutsPortalTest, OnlyItsOwnShortcutInItsOwnSessionReachesTheProgram) {
    portal.rememberBinding(shortcutId, QStringLiteral("Ctrl+Alt+D"));
    startClient();
    ASSERT_TRUE(settlesAt(State::bound));
    // Another program's session, and another shortcut of the program's own session: not ours.
    portal.activate(QStringLiteral("/org/freedesktop/portal/desktop/session/1_99/other"),
                    shortcutId, QStringLiteral("not-ours-1"));
    portal.activate(session(), QStringLiteral("other-shortcut"), QStringLiteral("not-ours-2"));
    portal.activate(session(), shortcutId, QStringLiteral("token-1"));
    portal.activate(session(), shortcutId, {});
    ASSERT_TRUE(waitUntil([&] { return activations.size() == 2; }));
    EXPECT_EQ(activations, (std::vector<std::string>{"token-1", ""}));
}

TEST_F(GlobalShortcutsPortalTest, TheSessionEndsWithTheClientOrWithTheDesktop) {
    portal.rememberBinding(shortcutId, QStringLiteral("Ctrl+Alt+D"));
    startClient();
    ASSERT_TRUE(settlesAt(State::bound));
    const QString first = session();

    // The desktop ends it: the shortcut no longer reaches the program, and a bind makes a new
    // session.
    portal.closeSession(first);
    ASSERT_TRUE(settlesAt(State::unbound));
    portal.activate(first, shortcutId, QStringLiteral("closed"));
    portal.setBindAnswer(DesktopPortal::success, QStringLiteral("Meta+D"));
    client->bind();
    ASSERT_TRUE(settlesAt(State::bound));
    // The same token, so the same path: a new session all the same.
    ASSERT_EQ(portal.calls(QStringLiteral("CreateSession")).size(), 2);
    const QString second = session();
    EXPECT_EQ(portal.sessions(), QStringList{second});
    EXPECT_EQ(portal.calls(QStringLiteral("BindShortcuts"))[0][QStringLiteral("session")], second);
    portal.activate(second, shortcutId, QStringLiteral("open"));
    ASSERT_TRUE(waitUntil([&] { return !activations.empty(); }));
    EXPECT_EQ(activations, std::vector<std::string>{"open"});

    // The client goes: it closes its session, and waits for nothing.
    connections.clear();
    QElapsedTimer clock;
    clock.start();
    client.reset();
    EXPECT_LT(clock.elapsed(), 500);
    ASSERT_TRUE(waitUntil([&] { return portal.sessions().isEmpty(); }));
    const QJsonArray closed = portal.calls(QStringLiteral("Close"));
    ASSERT_EQ(closed.size(), 1);
    EXPECT_EQ(closed[0][QStringLiteral("session")], second);
}

// Plasma 5.27 binds what CreateSession offers and keeps it per session token; its BindShortcuts
// only opens the settings page. Nothing is grabbed until the user asks, and a key the user has
// comes back in the next run.
TEST_F(GlobalShortcutsPortalTest, OnPlasmaTheKeyStaysWithTheSessionToken) {
    const auto offered = [&](int index) {
        return portal
            .calls(QStringLiteral(
                "CreateSession"))[index][QStringLiteral("options")][QStringLiteral("shortcuts")][0]
            .toArray();
    };
    const auto keys = [&] {
        const QJsonObject components = portal.components();
        return components.size() == 1 ? components.begin()->toObject() : QJsonObject();
    };
    portal.behaveAsPlasma();

    // The first start offers the shortcut without a key: Plasma registers it and grabs nothing.
    startClient();
    ASSERT_TRUE(settlesAt(State::unbound));
    EXPECT_EQ(offered(0)[0], shortcutId);
    EXPECT_EQ(offered(0)[1].toObject(), (QJsonObject{{QStringLiteral("description"),
                                                      QStringLiteral("Show the dockets panel")}}));
    EXPECT_EQ(keys(), (QJsonObject{{shortcutId, QString()}}));

    // Asked to bind, the session is made again offering the preferred key, and the dialog asked.
    // Plasma keeps the no-key it registered first: the key is the user's to set in its settings.
    client->bind();
    ASSERT_TRUE(
        waitUntil([&] { return portal.calls(QStringLiteral("BindShortcuts")).size() == 1; }));
    ASSERT_TRUE(settlesAt(State::unbound));
    EXPECT_EQ(
        methods(portal.calls()).mid(1),
        (QStringList{"CreateSession", "ListShortcuts", "Close", "CreateSession", "BindShortcuts"}));
    EXPECT_EQ(offered(1)[1][QStringLiteral("preferred_trigger")], "CTRL+ALT+d");
    EXPECT_EQ(portal.sessions(), QStringList{session()});
    EXPECT_EQ(keys(), (QJsonObject{{shortcutId, QString()}}));

    // The user sets one there. Its first press tells the running client which key it is.
    const QString token = portal.components().begin().key();
    portal.setKeyInSettings(token, shortcutId, QStringLiteral("Ctrl+Alt+J"));
    portal.activate(session(), shortcutId, {});
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Ctrl+Alt+J");
    EXPECT_EQ(activations, std::vector<std::string>{""});
    activations.clear();

    // The next run's client, on a connection of its own, has the same token, finds the key
    // without asking, and the key reaches it.
    client.reset();
    startClient();
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Ctrl+Alt+J");
    EXPECT_EQ(portal.components().keys(), QStringList{token});
    portal.activate(session(), shortcutId, QStringLiteral("pressed"));
    ASSERT_TRUE(waitUntil([&] { return !activations.empty(); }));
    EXPECT_EQ(activations, std::vector<std::string>{"pressed"});

    // A token Plasma has not seen yet takes the preferred key when a bind comes first.
    portal.reset();
    portal.behaveAsPlasma();
    client = makeClient(portal);
    client->bind();
    ASSERT_TRUE(settlesAt(State::bound));
    EXPECT_EQ(client->trigger(), "Ctrl+Alt+D");
    EXPECT_EQ(methods(portal.calls()), (QStringList{"Get", "CreateSession", "BindShortcuts"}));
    EXPECT_EQ(keys(), (QJsonObject{{shortcutId, QStringLiteral("Ctrl+Alt+D")}}));
}
