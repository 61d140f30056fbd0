#include "platform/dbus_menu.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString unknownIdError = QStringLiteral("com.canonical.dbusmenu.UnknownId");

} // namespace

// An entry and, for the root, its children: (ia{sv}av), the children each in a variant.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};

// An entry's properties: (ia{sv}).
struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

// One event of a group: (isvu).
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

Q_DECLARE_METATYPE(DBusMenuLayout)
Q_DECLARE_METATYPE(DBusMenuItem)
Q_DECLARE_METATYPE(DBusMenuEvent)

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout) {
    argument.beginStructure();
    argument << layout.id << layout.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayout& child : layout.children)
        argument << QDBusVariant(QVariant::fromValue(child));
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout) {
    argument.beginStructure();
    argument >> layout.id >> layout.properties;
    layout.children.clear();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        layout.children.append(qdbus_cast<DBusMenuLayout>(child.variant()));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
    argument.beginStructure();
    argument << event.id << event.eventId << event.data << event.timestamp;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
    argument.beginStructure();
    argument >> event.id >> event.eventId >> event.data >> event.timestamp;
    argument.endStructure();
    return argument;
}

// The com.canonical.dbusmenu object itself. The method and property names are the
// interface's own. The entries never change, so it has no signals to send.
class DBusMenuAdaptor : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(std::vector<MenuEntry> entries) : m_entries(std::move(entries)) {
        qDBusRegisterMetaType<DBusMenuLayout>();
        qDBusRegisterMetaType<DBusMenuItem>();
        qDBusRegisterMetaType<DBusMenuItemList>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
    }

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public Q_SLOTS:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayout& layout) {
        if (!isKnown(parentId)) {
            refuse(parentId);
            return revision;
        }
        layout = {parentId, properties(parentId, propertyNames), {}};
        if (parentId == rootId && recursionDepth != 0) {
            for (int id = 1; id <= entryCount(); ++id)
                layout.children.append({id, properties(id, propertyNames), {}});
        }
        return revision;
    }

    DBusMenuItemList GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames) {
        DBusMenuItemList items;
        if (ids.isEmpty()) {
            for (int id = rootId; id <= entryCount(); ++id)
                items.append({id, properties(id, propertyNames)});
        }
        for (int id : ids) {
            if (isKnown(id))
                items.append({id, properties(id, propertyNames)});
        }
        return items;
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        const QVariantMap all = properties(id, {name});
        if (!isKnown(id) || !all.contains(name)) {
            refuse(id);
            return {};
        }
        return QDBusVariant(all.value(name));
    }

    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (!isKnown(id)) {
            refuse(id);
            return;
        }
        handle(id, eventId);
    }

    QList<int> EventGroup(const QList<DBusMenuEvent>& events) {
        QList<int> idErrors;
        for (const DBusMenuEvent& event : events) {
            if (isKnown(event.id))
                handle(event.id, event.eventId);
            else
                idErrors.append(event.id);
        }
        return idErrors;
    }

    // Nothing to fetch again before the menu shows.
    bool AboutToShow(int id) {
        if (!isKnown(id))
            refuse(id);
        return false;
    }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        for (int id : ids) {
            if (!isKnown(id))
                idErrors.append(id);
        }
        return {};
    }

private:
    static constexpr int rootId = 0;
    static constexpr uint revision = 1;

    int entryCount() const { return static_cast<int>(m_entries.size()); }
    bool isKnown(int id) const { return id >= rootId && id <= entryCount(); }

    QVariantMap properties(int id, const QStringList& wanted) const {
        QVariantMap all;
        if (id == rootId) {
            all.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        } else if (isKnown(id)) {
            // dbusmenu reads '_' as the mnemonic marker; a doubled one stands for itself.
            QString label = QString::fromStdString(m_entries[id - 1].label);
            all.insert(QStringLiteral("label"),
                       label.replace(QLatin1Char('_'), QStringLiteral("__")));
            all.insert(QStringLiteral("enabled"), true);
            all.insert(QStringLiteral("visible"), true);
        }
        if (wanted.isEmpty())
            return all;
        QVariantMap chosen;
        for (const QString& name : wanted) {
            if (all.contains(name))
                chosen.insert(name, all.value(name));
        }
        return chosen;
    }

    void handle(int id, const QString& eventId) {
        if (id == rootId || eventId != QLatin1String("clicked"))
            return;
        m_entries[id - 1].chosen();
    }

    void refuse(int id) {
        sendErrorReply(unknownIdError, QStringLiteral("No menu entry %1").arg(id));
    }

    std::vector<MenuEntry> m_entries;
};

DBusMenu::DBusMenu(std::vector<MenuEntry> entries)
    : m_adaptor(std::make_unique<DBusMenuAdaptor>(std::move(entries))) {}

DBusMenu::~DBusMenu() = default;

bool DBusMenu::exportOn(const std::string& connectionName, const std::string& objectPath) {
    QDBusConnection connection(QString::fromStdString(connectionName));
    return connection.isConnected() &&
           connection.registerObject(QString::fromStdString(objectPath), m_adaptor.get(),
                                     QDBusConnection::ExportAllSlots |
                                         QDBusConnection::ExportAllProperties);
}

#include "dbus_menu.moc"
