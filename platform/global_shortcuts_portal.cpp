#include "platform/global_shortcuts_portal.h"

#include <atomic>
#include <utility>
#include <vector>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

#include "platform/bus_connection_qt.h"
#include "platform/log.h"

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");
// The portal answers a call at once with the request's path and the user's choice later in its
// Response; a portal that takes longer than this over the call itself is hung. The first call
// of a login may start the portal, which takes a few seconds.
constexpr int callTimeoutMs = 10000;
// Request::Response's codes.
constexpr unsigned responseSuccess = 0;
constexpr unsigned responseCancelled = 1;
constexpr unsigned responseOther = 2;
// Not the portal's: the call itself failed, so no Response will come.
constexpr unsigned noResponse = 100;
// The same in every run: Plasma 5.27 names the shortcut component after it and keeps the user's
// key there, so a token of this run's own would find the key of the last one taken.
const QString sessionToken = QStringLiteral("zorvant");

// The portal names request and session objects after the caller's unique bus name: ":1.42"
// becomes "1_42".
QString senderPathElement(const QDBusConnection& connection) {
    QString sender = connection.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    return sender.replace(QLatin1Char('.'), QLatin1Char('_'));
}

QVariantMap toMap(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    return value.toMap();
}

// An object path in a vardict: the portal documents session_handle as a string, and some
// portals send it as an object path.
QString pathIn(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

// A shortcut as the portal carries it: its id and a vardict, (sa{sv}).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(PortalShortcut)

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The program's shortcut as the portal takes it, with the key the desktop may give it at once, or
// without.
namespace {

QList<PortalShortcut> portalShortcuts(const GlobalShortcutsPortal::Shortcut& shortcut,
                                      bool withPreferredTrigger) {
    QVariantMap properties{{QStringLiteral("description"), qString(shortcut.description)}};
    if (withPreferredTrigger && !shortcut.preferredTrigger.empty())
        properties.insert(QStringLiteral("preferred_trigger"), qString(shortcut.preferredTrigger));
    return {{qString(shortcut.id), properties}};
}

} // namespace

// A Response's results vardict.
struct PortalResults {
    QVariantMap values;

    // The trigger the desktop describes for the shortcut id in the results' shortcuts list;
    // empty when the shortcut is not there or has no key.
    std::string triggerOf(const std::string& id) const {
        const QVariant shortcuts = values.value(QStringLiteral("shortcuts"));
        if (shortcuts.metaType() != QMetaType::fromType<QDBusArgument>())
            return {};
        const auto list = qdbus_cast<QList<PortalShortcut>>(shortcuts.value<QDBusArgument>());
        for (const PortalShortcut& shortcut : list) {
            if (shortcut.id == qString(id))
                return shortcut.properties.value(QStringLiteral("trigger_description"))
                    .toString()
                    .toStdString();
        }
        return {};
    }
};

// What the portal says on the bus, passed on to GlobalShortcutsPortal: the answers to its
// calls, its signals, and the portal coming and going.
class GlobalShortcutsPortalLink : public QObject {
    Q_OBJECT
public:
    std::function<void(const QDBusMessage&)> responded;
    std::function<void(const QDBusMessage&)> activated;
    std::function<void(const QDBusMessage&)> sessionClosed;
    std::function<void(bool present)> portalChanged;

    void watch(const QDBusConnection& connection) {
        auto* serviceWatcher = new QDBusServiceWatcher(
            portalService, connection, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    portalChanged(!newOwner.isEmpty());
                });
        QDBusConnection(connection)
            .connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"),
                     this, SLOT(activatedSignal(QDBusMessage)));
    }

    void listenForResponse(const QDBusConnection& connection, const QString& path, bool listen) {
        QDBusConnection bus(connection);
        if (listen)
            bus.connect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                        SLOT(responseSignal(QDBusMessage)));
        else
            bus.disconnect(portalService, path, requestInterface, QStringLiteral("Response"), this,
                           SLOT(responseSignal(QDBusMessage)));
    }

    void listenForClosing(const QDBusConnection& connection, const QString& session) {
        QDBusConnection(connection)
            .connect(portalService, session, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(closedSignal(QDBusMessage)));
    }

    // Sends the call and hands its answer, or the error, to onAnswer whenever it comes. The
    // pending call belongs to the link, so an answer that comes after the portal object is gone
    // is dropped with it.
    void callThen(const QDBusConnection& connection, const QDBusMessage& call,
                  std::function<void(const QDBusMessage&)> onAnswer) {
        auto* pending =
            new QDBusPendingCallWatcher(connection.asyncCall(call, callTimeoutMs), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this,
                [pending, onAnswer = std::move(onAnswer)] {
                    pending->deleteLater();
                    onAnswer(pending->reply());
                });
    }

private Q_SLOTS:
    void responseSignal(const QDBusMessage& signal) { responded(signal); }
    void activatedSignal(const QDBusMessage& signal) { activated(signal); }
    void closedSignal(const QDBusMessage& signal) { sessionClosed(signal); }
};

GlobalShortcutsPortal::GlobalShortcutsPortal(Shortcut shortcut, const std::string& busAddress)
    : m_bus(busAddress, "global-shortcuts"), m_shortcut(std::move(shortcut)),
      m_link(std::make_unique<GlobalShortcutsPortalLink>()) {
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_link->responded = [this](const QDBusMessage& signal) { responded(signal); };
    m_link->activated = [this](const QDBusMessage& signal) { activated(signal); };
    m_link->sessionClosed = [this](const QDBusMessage& signal) {
        // Only the present session's end counts; an earlier one's is old news.
        if (signal.path() == qString(m_session) && !m_makingSession)
            sessionClosed();
    };
    m_link->portalChanged = [this](bool present) { portalChanged(present); };
}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
    // A session still being made is closed too: the portal takes the calls of one connection in
    // order, so the session exists by the time the Close comes.
    closeSession();
    m_link.reset();
}

void GlobalShortcutsPortal::start() {
    if (m_started)
        return;
    m_started = true;
    QDBusConnection connection = qtConnection(m_bus);
    if (!connection.isConnected()) {
        m_bindWaiting = false;
        setState(State::unavailable);
        return;
    }
    m_link->watch(connection);
    checkAvailability();
}

void GlobalShortcutsPortal::checkAvailability() {
    m_checking = true;
    QDBusMessage get = QDBusMessage::createMethodCall(
        portalService, portalPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << shortcutsInterface << QStringLiteral("version");
    const int generation = m_generation;
    m_link->callThen(qtConnection(m_bus), get, [this, generation](const QDBusMessage& reply) {
        if (generation == m_generation)
            availabilityAnswered(reply);
    });
}

void GlobalShortcutsPortal::availabilityAnswered(const QDBusMessage& reply) {
    m_checking = false;
    // No portal, a portal without the interface (before xdg-desktop-portal 1.16, or a desktop
    // whose backend lacks it), or one that does not answer: no shortcut through it.
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_bindWaiting = false;
        setState(State::unavailable);
        return;
    }
    // A bind asked for before start offers the key it wants at once.
    createSession(m_bindWaiting);
}

void GlobalShortcutsPortal::createSession(bool offerPreferredTrigger) {
    m_makingSession = true;
    m_sessionOffersTrigger = offerPreferredTrigger;
    m_session = (portalPath + QStringLiteral("/session/") + senderPathElement(qtConnection(m_bus)) +
                 QLatin1Char('/') + sessionToken)
                    .toStdString();
    const std::string token = newToken();
    request("CreateSession", token, &GlobalShortcutsPortal::sessionCreated,
            [&](QDBusMessage& call) {
                call << QVariantMap{
                    {QStringLiteral("handle_token"), qString(token)},
                    {QStringLiteral("session_handle_token"), sessionToken},
                    {QStringLiteral("shortcuts"),
                     QVariant::fromValue(portalShortcuts(m_shortcut, offerPreferredTrigger))}};
            });
}

void GlobalShortcutsPortal::remakeSessionForBind() {
    closeSession();
    m_bindWaiting = true;
    createSession(true);
}

void GlobalShortcutsPortal::closeSession() {
    if (m_session.empty())
        return;
    // Not waited for: nothing comes back that the program needs.
    qtConnection(m_bus).send(QDBusMessage::createMethodCall(
        portalService, qString(m_session), sessionInterface, QStringLiteral("Close")));
    m_session.clear();
}

bool GlobalShortcutsPortal::bindWantsTheTriggerOffered() const {
    // Only worth a new session when there is a key to offer and none the user chose already.
    return !m_sessionOffersTrigger && m_trigger.empty() && !m_shortcut.preferredTrigger.empty();
}

void GlobalShortcutsPortal::sessionCreated(unsigned response, const PortalResults& results) {
    m_makingSession = false;
    if (response != responseSuccess) {
        m_session.clear();
        m_bindWaiting = false;
        fail(response == noResponse ? "The desktop's shortcut service did not respond."
                                    : "The desktop could not set up its shortcuts for Zorvant.");
        return;
    }
    const QString session = pathIn(results.values.value(QStringLiteral("session_handle")));
    if (!session.isEmpty())
        m_session = session.toStdString();
    m_link->listenForClosing(qtConnection(m_bus), qString(m_session));
    if (!std::exchange(m_bindWaiting, false))
        listShortcuts();
    else if (bindWantsTheTriggerOffered())
        remakeSessionForBind();
    else
        bindShortcut();
}

void GlobalShortcutsPortal::listShortcuts() {
    const std::string token = newToken();
    request("ListShortcuts", token, &GlobalShortcutsPortal::shortcutsListed,
            [&](QDBusMessage& call) {
                call << QVariant::fromValue(QDBusObjectPath(qString(m_session)))
                     << QVariantMap{{QStringLiteral("handle_token"), qString(token)}};
            });
}

void GlobalShortcutsPortal::shortcutsListed(unsigned response, const PortalResults& results) {
    // Not being able to list is not being bound: the user can still bind.
    m_trigger = response == responseSuccess ? results.triggerOf(m_shortcut.id) : std::string();
    // A bind asked for meanwhile decides the state when it is answered.
    if (m_state != State::binding)
        setState(m_trigger.empty() ? State::unbound : State::bound);
}

void GlobalShortcutsPortal::bind(const std::string& parentWindow) {
    if (m_state == State::unavailable)
        return;
    m_parentWindow = parentWindow;
    setState(State::binding);
    if (!m_session.empty() && !m_makingSession) {
        // Offered with the preferred key only now that the user asks for a key: at start it would
        // be taken for the user's choice on a desktop that binds what the session offers.
        if (bindWantsTheTriggerOffered())
            remakeSessionForBind();
        else
            bindShortcut();
        return;
    }
    m_bindWaiting = true;
    if (!m_started) {
        start();
    } else if (!m_checking && !m_makingSession) {
        // No session: the portal refused one earlier, or closed ours.
        createSession(true);
    }
}

void GlobalShortcutsPortal::bindShortcut() {
    const QList<PortalShortcut> shortcuts = portalShortcuts(m_shortcut, true);
    const std::string token = newToken();
    m_latestBind = request(
        "BindShortcuts", token, &GlobalShortcutsPortal::bindAnswered, [&](QDBusMessage& call) {
            call << QVariant::fromValue(QDBusObjectPath(qString(m_session)))
                 << QVariant::fromValue(shortcuts) << qString(m_parentWindow)
                 << QVariantMap{{QStringLiteral("handle_token"), qString(token)}};
        });
}

void GlobalShortcutsPortal::bindAnswered(unsigned response, const PortalResults& results) {
    // A listing still to come was asked before this answer and would bring back what the user
    // has just changed.
    std::vector<std::string> listings;
    for (const auto& [path, open] : m_requests) {
        if (open.onResponse == &GlobalShortcutsPortal::shortcutsListed)
            listings.push_back(path);
    }
    for (const std::string& path : listings)
        forgetRequest(path);
    switch (response) {
    case responseSuccess:
        // The user may have left the shortcut without a key.
        m_trigger = results.triggerOf(m_shortcut.id);
        setState(m_trigger.empty() ? State::unbound : State::bound);
        break;
    case responseCancelled:
        setState(m_trigger.empty() ? State::unbound : State::bound);
        break;
    case noResponse:
        fail("The desktop's shortcut service did not respond.");
        break;
    default:
        fail("The desktop refused the shortcut.");
        break;
    }
}

std::string
GlobalShortcutsPortal::request(const std::string& method, const std::string& token,
                               OnResponse onResponse,
                               const std::function<void(QDBusMessage& call)>& addArguments) {
    const QDBusConnection connection = qtConnection(m_bus);
    const std::string path = (portalPath + QStringLiteral("/request/") +
                              senderPathElement(connection) + QLatin1Char('/') + qString(token))
                                 .toStdString();
    m_requests[path] = {m_generation, onResponse};
    m_link->listenForResponse(connection, qString(path), true);
    QDBusMessage call = QDBusMessage::createMethodCall(portalService, portalPath,
                                                       shortcutsInterface, qString(method));
    addArguments(call);
    const int generation = m_generation;
    m_link->callThen(connection, call, [this, generation, path](const QDBusMessage& reply) {
        if (generation != m_generation)
            return;
        if (reply.type() != QDBusMessage::ReplyMessage) {
            requestFailed(path, reply);
            return;
        }
        // A portal older than the handle_token option names the request its own way.
        const QString handle = pathIn(reply.arguments().value(0));
        const auto open = m_requests.find(path);
        if (handle.isEmpty() || handle == qString(path) || open == m_requests.end())
            return;
        const Request pending = open->second;
        forgetRequest(path);
        m_requests[handle.toStdString()] = pending;
        m_link->listenForResponse(qtConnection(m_bus), handle, true);
        if (m_latestBind == path)
            m_latestBind = handle.toStdString();
    });
    return path;
}

void GlobalShortcutsPortal::responded(const QDBusMessage& signal) {
    const std::string path = signal.path().toStdString();
    const auto open = m_requests.find(path);
    if (open == m_requests.end())
        return;
    const Request answered = open->second;
    forgetRequest(path);
    if (answered.generation != m_generation)
        return;
    if (answered.onResponse == &GlobalShortcutsPortal::bindAnswered && path != m_latestBind)
        return;
    const QList<QVariant> arguments = signal.arguments();
    const unsigned response = arguments.isEmpty() ? responseOther : arguments.value(0).toUInt();
    (this->*answered.onResponse)(response, PortalResults{toMap(arguments.value(1))});
}

void GlobalShortcutsPortal::requestFailed(const std::string& path, const QDBusMessage& reply) {
    const auto open = m_requests.find(path);
    if (open == m_requests.end())
        return;
    const Request failed = open->second;
    forgetRequest(path);
    diagnostic("Zorvant: the desktop portal's GlobalShortcuts failed: " +
               reply.errorName().toStdString() + " " + reply.errorMessage().toStdString());
    if (failed.onResponse == &GlobalShortcutsPortal::bindAnswered && path != m_latestBind)
        return;
    (this->*failed.onResponse)(noResponse, PortalResults{});
}

void GlobalShortcutsPortal::forgetRequest(const std::string& path) {
    m_requests.erase(path);
    m_link->listenForResponse(qtConnection(m_bus), qString(path), false);
}

void GlobalShortcutsPortal::activated(const QDBusMessage& signal) {
    const QList<QVariant> arguments = signal.arguments();
    // Sessions of other programs share the portal's object, and the signal.
    if (m_session.empty() || m_makingSession || pathIn(arguments.value(0)) != qString(m_session) ||
        arguments.value(1).toString() != qString(m_shortcut.id))
        return;
    const QString token =
        toMap(arguments.value(3)).value(QStringLiteral("activation_token")).toString();
    // Pressed while thought unbound: the user gave it a key in the desktop's own settings
    // meanwhile. Which one, the listing says.
    if (m_state == State::unbound)
        listShortcuts();
    m_activated.emit(token.toStdString());
}

void GlobalShortcutsPortal::sessionClosed() {
    // The desktop ended the session: the shortcut no longer reaches the program. A bind makes a
    // new one; reopening it unasked could go on for as long as the desktop keeps closing it.
    m_session.clear();
    m_trigger.clear();
    if (m_state != State::binding)
        setState(State::unbound);
}

void GlobalShortcutsPortal::portalChanged(bool present) {
    // The session and every open question went with the old portal. A new one still holds the
    // bindings of earlier sessions: asking again finds the shortcut bound.
    ++m_generation;
    for (const auto& [path, open] : std::exchange(m_requests, {}))
        m_link->listenForResponse(qtConnection(m_bus), qString(path), false);
    m_session.clear();
    m_trigger.clear();
    m_latestBind.clear();
    m_makingSession = false;
    m_checking = false;
    if (!present) {
        m_bindWaiting = false;
        setState(State::unavailable);
        return;
    }
    // A bind not sent yet goes to the new portal. One that was sent went with its dialog: the
    // listing says what is bound now.
    if (m_state == State::binding && !m_bindWaiting)
        setState(State::unknown);
    checkAvailability();
}

void GlobalShortcutsPortal::fail(std::string failure) {
    m_failure = std::move(failure);
    setState(State::failed);
}

void GlobalShortcutsPortal::setState(State state) {
    if (std::exchange(m_state, state) != state)
        m_stateChanged.emit();
}

std::string GlobalShortcutsPortal::newToken() {
    // Unique across the program's portal objects, which may share one bus connection.
    static std::atomic<int> count = 0;
    return "zorvant_" + std::to_string(++count);
}

GlobalShortcutsPortal::State GlobalShortcutsPortal::state() const {
    return m_state;
}

std::string GlobalShortcutsPortal::trigger() const {
    return m_state == State::bound ? m_trigger : std::string();
}

std::string GlobalShortcutsPortal::failure() const {
    return m_state == State::failed ? m_failure : std::string();
}

Connection GlobalShortcutsPortal::observeStateChanges(std::function<void()> observer) {
    return m_stateChanged.connect(std::move(observer));
}

Connection GlobalShortcutsPortal::observeActivation(
    std::function<void(const std::string& activationToken)> observer) {
    return m_activated.connect(std::move(observer));
}

#include "global_shortcuts_portal.moc"
