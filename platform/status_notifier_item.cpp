#include "platform/status_notifier_item.h"

#include <algorithm>
#include <utility>

#include <QCoreApplication>
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
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include "platform/bus_connection_qt.h"

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString watcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
const QString busService = QStringLiteral("org.freedesktop.DBus");
const QString busPath = QStringLiteral("/org/freedesktop/DBus");
// RequestName's flag and its answers, as the bus defines them.
constexpr uint doNotQueue = 4;
constexpr uint primaryOwner = 1;
constexpr uint alreadyOwner = 4;
// The watcher is another program on the same desktop; one that takes longer than this is hung.
constexpr int callTimeoutMs = 2000;
// A watcher may take its name a moment before its object is there to answer.
constexpr int registrationRetries = 5;
constexpr int retryDelayMs = 1000;

QDBusMessage busCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(busService, busPath, busService, method);
    call.setArguments(arguments);
    return call;
}

// The name hosts know items by.
QString preferredServiceName() {
    return QStringLiteral("org.kde.StatusNotifierItem-%1-1")
        .arg(QCoreApplication::applicationPid());
}

bool answeredTrue(const QDBusMessage& reply) {
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QVariant answer = reply.arguments().first();
    if (answer.metaType() == QMetaType::fromType<QDBusVariant>())
        return answer.value<QDBusVariant>().variant().toBool();
    return answer.toBool();
}

} // namespace

// An icon image as the interface carries it: (iiay).
struct DBusImage {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using DBusImageList = QList<DBusImage>;

// A tooltip: icon name, icon images, title, description: (sa(iiay)ss).
struct DBusToolTip {
    QString iconName;
    DBusImageList images;
    QString title;
    QString description;
};

Q_DECLARE_METATYPE(DBusImage)
Q_DECLARE_METATYPE(DBusToolTip)

QDBusArgument& operator<<(QDBusArgument& argument, const DBusImage& image) {
    argument.beginStructure();
    argument << image.width << image.height << image.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusImage& image) {
    argument.beginStructure();
    argument >> image.width >> image.height >> image.argb;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusToolTip& toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.images << toolTip.title << toolTip.description;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusToolTip& toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.images >> toolTip.title >> toolTip.description;
    argument.endStructure();
    return argument;
}

// The org.kde.StatusNotifierItem object. The method, property and signal names are the
// interface's own. The item never changes its look, so the signals are only declared, for
// hosts that subscribe to them.
class StatusNotifierItemAdaptor : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(DBusImageList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(DBusImageList OverlayIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(DBusImageList AttentionIconPixmap READ noImages)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    std::function<void(int, int, const std::string&)> activated;
    std::function<void(int, int)> contextMenuRequested;

    explicit StatusNotifierItemAdaptor(const StatusNotifierItem::Appearance& appearance)
        : m_id(qString(appearance.id)), m_title(qString(appearance.title)),
          m_iconName(qString(appearance.iconName)) {
        qDBusRegisterMetaType<DBusImage>();
        qDBusRegisterMetaType<DBusImageList>();
        qDBusRegisterMetaType<DBusToolTip>();
        for (const IconImage& image : appearance.iconImages) {
            m_iconPixmap.append({image.width, image.height,
                                 QByteArray(reinterpret_cast<const char*>(image.argb.data()),
                                            static_cast<qsizetype>(image.argb.size()))});
        }
    }

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return m_id; }
    QString title() const { return m_title; }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString none() const { return {}; }
    QString iconName() const { return m_iconName; }
    DBusImageList iconPixmap() const { return m_iconPixmap; }
    DBusImageList noImages() const { return {}; }
    DBusToolTip toolTip() const { return {{}, {}, m_title, {}}; }
    // A click activates; the menu has a click of its own (right, or single on GNOME).
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(menuPath); }

public Q_SLOTS:
    void Activate(int x, int y) {
        if (activated)
            activated(x, y, std::exchange(m_activationToken, {}).toStdString());
    }

    // A middle click: Zorvant has nothing for it.
    void SecondaryActivate(int, int) {}

    void ContextMenu(int x, int y) {
        if (contextMenuRequested)
            contextMenuRequested(x, y);
    }

    void Scroll(int, const QString&) {}

    // GNOME's extension hands over a token for the Activate that follows, so that a Wayland
    // compositor lets the panel take the keyboard.
    void ProvideXdgActivationToken(const QString& token) { m_activationToken = token; }

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    QString m_id;
    QString m_title;
    QString m_iconName;
    DBusImageList m_iconPixmap;
    QString m_activationToken;
};

// What the item hears from the watcher: the watcher coming and going, and hosts registering.
class StatusNotifierWatcherLink : public QObject {
    Q_OBJECT
public:
    std::function<void()> watcherCame;
    std::function<void()> watcherWent;
    std::function<void()> hostsChanged;

    void watch(const QDBusConnection& connection) {
        auto* serviceWatcher = new QDBusServiceWatcher(
            watcherService, connection, QDBusServiceWatcher::WatchForOwnerChange, this);
        connect(serviceWatcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString&, const QString& newOwner) {
                    if (newOwner.isEmpty())
                        watcherWent();
                    else
                        watcherCame();
                });
        QDBusConnection bus(connection);
        for (const char* signal :
             {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
            bus.connect(watcherService, watcherPath, watcherInterface, QLatin1String(signal), this,
                        SLOT(hostSignal()));
        m_retry.setSingleShot(true);
        m_retry.setInterval(retryDelayMs);
    }

    QTimer& retryTimer() { return m_retry; }

    // Sends the call and hands its answer, or the error, to onAnswer whenever it comes. The
    // pending call belongs to the link, so an answer that comes after the item is gone is
    // dropped with it.
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
    void hostSignal() { hostsChanged(); }

private:
    QTimer m_retry;
};

StatusNotifierItem::StatusNotifierItem(Appearance appearance, std::vector<MenuEntry> menu,
                                       const std::string& busAddress)
    : m_bus(busAddress, "status-notifier"),
      m_adaptor(std::make_unique<StatusNotifierItemAdaptor>(appearance)),
      m_watcherLink(std::make_unique<StatusNotifierWatcherLink>()), m_menu(std::move(menu)) {
    m_adaptor->activated = [this](int x, int y, const std::string& token) {
        m_activated.emit(x, y, token);
    };
    m_adaptor->contextMenuRequested = [this](int x, int y) { m_contextMenuRequested.emit(x, y); };
    m_watcherLink->watcherCame = [this] {
        ++m_watcherGeneration;
        m_retriesLeft = registrationRetries;
        registerWithWatcher();
    };
    m_watcherLink->watcherWent = [this] { lostWatcher(); };
    m_watcherLink->hostsChanged = [this] {
        if (m_registered)
            askForHost();
    };
    QObject::connect(&m_watcherLink->retryTimer(), &QTimer::timeout, m_watcherLink.get(),
                     [this] { registerWithWatcher(); });
}

StatusNotifierItem::~StatusNotifierItem() {
    QDBusConnection connection = qtConnection(m_bus);
    // Not waited for: the bus frees the name in its own time, and with the connection anyway.
    if (m_ownsServiceName)
        connection.send(busCall(QStringLiteral("ReleaseName"), {preferredServiceName()}));
    connection.unregisterObject(itemPath);
    connection.unregisterObject(menuPath);
}

void StatusNotifierItem::start() {
    QDBusConnection connection = qtConnection(m_bus);
    if (!connection.isConnected()) {
        settle();
        return;
    }
    connection.registerObject(itemPath, m_adaptor.get(),
                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                  QDBusConnection::ExportAllProperties);
    m_menu.exportOn(m_bus.name(), menuPath.toStdString());
    ask(busCall(QStringLiteral("RequestName"), {preferredServiceName(), doNotQueue}),
        &StatusNotifierItem::tookName);
}

void StatusNotifierItem::ask(const QDBusMessage& call,
                             void (StatusNotifierItem::*onAnswer)(const QDBusMessage& reply)) {
    const int generation = m_watcherGeneration;
    m_watcherLink->callThen(qtConnection(m_bus), call,
                            [this, generation, onAnswer](const QDBusMessage& reply) {
                                if (generation == m_watcherGeneration)
                                    (this->*onAnswer)(reply);
                            });
}

void StatusNotifierItem::tookName(const QDBusMessage& reply) {
    const uint result =
        reply.type() == QDBusMessage::ReplyMessage ? reply.arguments().value(0).toUInt() : 0;
    m_ownsServiceName = result == primaryOwner || result == alreadyOwner;
    // The connection's own name if another took ours (Qt's own tray icon does, when it speaks
    // StatusNotifierItem).
    m_serviceName = (m_ownsServiceName ? preferredServiceName() : qtConnection(m_bus).baseService())
                        .toStdString();
    m_watcherLink->watch(qtConnection(m_bus));
    // A watcher that comes before the answer is heard of through the link, which makes the
    // answer old news.
    ask(busCall(QStringLiteral("NameHasOwner"), {watcherService}),
        &StatusNotifierItem::heardWhetherWatcherIsThere);
}

void StatusNotifierItem::heardWhetherWatcherIsThere(const QDBusMessage& reply) {
    if (answeredTrue(reply))
        m_watcherLink->watcherCame();
    else
        settle();
}

void StatusNotifierItem::registerWithWatcher() {
    // A registration the watcher did not answer in time may still have been taken: GNOME's
    // extension answers only once the shell has started and it has read the item. Registered
    // again, it resets the item, and can lose the icon. So it is asked first whether it lists us.
    if (std::exchange(m_askBeforeRegistering, false)) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("Get"));
        get << watcherInterface << QStringLiteral("RegisteredStatusNotifierItems");
        ask(get, &StatusNotifierItem::registeredItemsAnswered);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(watcherService, watcherPath, watcherInterface,
                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << qString(m_serviceName);
    ask(call, &StatusNotifierItem::registrationAnswered);
}

void StatusNotifierItem::registrationAnswered(const QDBusMessage& reply) {
    if (reply.type() == QDBusMessage::ReplyMessage) {
        // Registered; in a tray once the watcher says it has a host.
        setState(true, m_hostRegistered);
        askForHost();
        return;
    }
    setState(false, false);
    settle();
    m_askBeforeRegistering =
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply");
    if (m_retriesLeft-- > 0)
        m_watcherLink->retryTimer().start();
}

void StatusNotifierItem::registeredItemsAnswered(const QDBusMessage& reply) {
    QStringList items;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        items = reply.arguments().first().value<QDBusVariant>().variant().toStringList();
    const QString service = qString(m_serviceName);
    const QString uniqueName = qtConnection(m_bus).baseService();
    // Watchers list an item by the name it registered with, some with its object path added.
    const bool listed = std::any_of(items.begin(), items.end(), [&](const QString& item) {
        return item == service || item.startsWith(service + QLatin1Char('/')) ||
               item.startsWith(uniqueName + QLatin1Char('/'));
    });
    if (listed) {
        setState(true, m_hostRegistered);
        askForHost();
        return;
    }
    registerWithWatcher();
}

void StatusNotifierItem::askForHost() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        watcherService, watcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << watcherInterface << QStringLiteral("IsStatusNotifierHostRegistered");
    ask(get, &StatusNotifierItem::hostAnswered);
}

void StatusNotifierItem::hostAnswered(const QDBusMessage& reply) {
    setState(true, answeredTrue(reply));
    settle();
}

void StatusNotifierItem::lostWatcher() {
    ++m_watcherGeneration;
    m_askBeforeRegistering = false;
    m_watcherLink->retryTimer().stop();
    setState(false, false);
    settle();
}

bool StatusNotifierItem::hostIsRegistered() const {
    return m_hostRegistered;
}

bool StatusNotifierItem::isSettled() const {
    return m_settled;
}

bool StatusNotifierItem::isInTray() const {
    return m_registered && m_hostRegistered;
}

void StatusNotifierItem::setState(bool registered, bool hostRegistered) {
    const bool wasInTray = isInTray();
    m_registered = registered;
    m_hostRegistered = hostRegistered;
    if (isInTray() != wasInTray)
        m_trayChanged.emit();
}

void StatusNotifierItem::settle() {
    if (!std::exchange(m_settled, true))
        m_settling.emit();
}

Connection StatusNotifierItem::observeActivation(
    std::function<void(int x, int y, const std::string& activationToken)> observer) {
    return m_activated.connect(std::move(observer));
}

Connection
StatusNotifierItem::observeContextMenuRequests(std::function<void(int x, int y)> observer) {
    return m_contextMenuRequested.connect(std::move(observer));
}

Connection StatusNotifierItem::observeTrayChanges(std::function<void()> observer) {
    return m_trayChanged.connect(std::move(observer));
}

Connection StatusNotifierItem::observeSettling(std::function<void()> observer) {
    return m_settling.connect(std::move(observer));
}

#include "status_notifier_item.moc"
