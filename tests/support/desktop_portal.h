#pragma once

#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVariant>

#include "support/private_bus.h"

// The desktop portal's GlobalShortcuts for tests, on a D-Bus daemon of the test's own: the
// stand-in portal (global_shortcuts_portal.py, beside this file), which can be started,
// stopped and started again, and its test-only controls. Calls wait in the event loop, since
// the client under test answers from this same thread.
class DesktopPortal {
public:
    // Bind answers, as Request::Response has them.
    static constexpr unsigned success = 0;
    static constexpr unsigned cancelled = 1;
    static constexpr unsigned other = 2;

    DesktopPortal();
    ~DesktopPortal();
    DesktopPortal(const DesktopPortal&) = delete;
    DesktopPortal& operator=(const DesktopPortal&) = delete;

    QString busAddress() const { return m_address; }

    // Starts the portal with the script's options and waits until it has its name.
    void start(const QStringList& options = {});
    void stop();

    // As freshly started: no sessions, no bindings, no calls, binds answered at once.
    void reset();
    // A shortcut the user bound in an earlier run.
    void rememberBinding(const QString& id, const QString& trigger);
    // The calls of a method the portal took, in order, each an object with the method's
    // arguments ("session", "shortcuts", "parent_window", "options"); every call for an empty
    // method.
    QJsonArray calls(const QString& method = {});
    // The sessions open now.
    QStringList sessions();
    // How the dialog of the binds from now on ends; held ones wait for answerHeldBind().
    void setBindAnswer(unsigned response, const QString& trigger = {}, bool hold = false);
    // Ends the dialog of the index-th bind held.
    void answerHeldBind(int index, unsigned response, const QString& trigger = {});
    // Whether listings from now on wait for answerHeldLists(), which answers them with the
    // shortcuts as they were when asked.
    void holdLists(bool hold);
    void answerHeldLists();
    // The desktop's Activated signal for a session and a shortcut id, with a token or none.
    void activate(const QString& session, const QString& id, const QString& token);
    // Binds as Plasma 5.27 does, until reset(): shortcuts come from CreateSession's option and
    // keep their key per session token; BindShortcuts only opens the settings page.
    void behaveAsPlasma();
    // The user sets a key on Plasma's settings page, for the component of a session token.
    void setKeyInSettings(const QString& token, const QString& id, const QString& trigger);
    // Plasma's keys: session token -> {shortcut id -> trigger, "" for none}.
    QJsonObject components();
    // The desktop ends a session on its own.
    void closeSession(const QString& session);

private:
    QDBusMessage control(const QString& method, const QVariantList& arguments = {});

    // First: it goes last.
    PrivateBus m_bus;
    QString m_address;
    QString m_connectionName;
    QProcess m_portal;
};
