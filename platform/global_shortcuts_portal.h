#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>

#include "platform/bus_connection.h"
#include "platform/signal.h"

class QDBusMessage;
class GlobalShortcutsPortalLink;
struct PortalResults;

// One global shortcut of the program's own, through the desktop portal's GlobalShortcuts
// interface (Plasma 5.27 and later): the desktop owns the key, shows its own dialog to choose
// it, and tells the program when it is pressed, on X11 and Wayland alike.
//
// The session always has the same token, so a desktop that keeps keys per session token (Plasma
// 5.27 names its shortcut component after it) finds the user's key again in the next run; one
// object per bus connection, then. Its shortcut is offered when the session is made, without a
// key until the user asks for one: Plasma 5.27 registers shortcuts only from there, and takes a
// preferred key offered there as the user's choice.
//
// The portal is another process, and its dialog waits on the user: every question is asked
// without waiting, each answer comes in its request's Response signal and changes the state
// when it comes. Answers overtaken by a later question (a newer bind, a portal that restarted)
// change nothing.
class GlobalShortcutsPortal {
public:
    struct Shortcut {
        // Stable across runs: the desktop keeps the user's key under it.
        std::string id;
        // What the desktop's dialog and settings show for it.
        std::string description;
        // A key the desktop may offer first, in the XDG shortcuts form ("CTRL+ALT+d"); may be
        // empty.
        std::string preferredTrigger;
    };
    enum class State { unknown, unavailable, unbound, binding, bound, failed };

    // busAddress: the D-Bus address of the portal's bus; empty for the session bus.
    explicit GlobalShortcutsPortal(Shortcut shortcut, const std::string& busAddress = {});
    ~GlobalShortcutsPortal();
    GlobalShortcutsPortal(const GlobalShortcutsPortal&) = delete;
    GlobalShortcutsPortal& operator=(const GlobalShortcutsPortal&) = delete;

    // Asks, without waiting, whether the desktop's portal offers GlobalShortcuts; if it does,
    // creates a session (kept for the object's lifetime) and lists its shortcuts, so that a
    // binding made in an earlier run is found again without asking the user. Shows nothing.
    void start();
    State state() const;
    // The desktop's description of the bound trigger, when bound.
    std::string trigger() const;
    // One line for the user when state() is failed.
    std::string failure() const;
    // Has the desktop show its dialog where the user picks the key for the shortcut.
    // parentWindow as the portal expects it ("x11:<hex xid>", "wayland:<handle>" or ""). Creates
    // the session first if there is none yet. A cancelled dialog leaves the binding as it was.
    void bind(const std::string& parentWindow = {});

    // state() changed.
    [[nodiscard]] Connection observeStateChanges(std::function<void()> observer);
    // The shortcut was pressed; the token lets a Wayland compositor give the program the
    // keyboard, or is empty.
    [[nodiscard]] Connection
    observeActivation(std::function<void(const std::string& activationToken)> observer);

private:
    using OnResponse = void (GlobalShortcutsPortal::*)(unsigned response,
                                                       const PortalResults& results);
    struct Request {
        int generation = 0;
        OnResponse onResponse = nullptr;
    };

    void checkAvailability();
    void availabilityAnswered(const QDBusMessage& reply);
    void createSession(bool offerPreferredTrigger);
    // Replaces a session made without the preferred key by one that offers it, for a bind.
    void remakeSessionForBind();
    void closeSession();
    bool bindWantsTheTriggerOffered() const;
    void sessionCreated(unsigned response, const PortalResults& results);
    void listShortcuts();
    void shortcutsListed(unsigned response, const PortalResults& results);
    void bindShortcut();
    void bindAnswered(unsigned response, const PortalResults& results);
    // Calls a portal method that answers through a Request object, subscribing to that
    // object's Response before the call so that no answer can slip by.
    // Returns the request's path.
    std::string request(const std::string& method, const std::string& token, OnResponse onResponse,
                        const std::function<void(QDBusMessage& call)>& addArguments);
    void responded(const QDBusMessage& signal);
    void requestFailed(const std::string& path, const QDBusMessage& reply);
    void forgetRequest(const std::string& path);
    void activated(const QDBusMessage& signal);
    void sessionClosed();
    void portalChanged(bool present);
    void fail(std::string failure);
    void setState(State state);
    std::string newToken();

    // First: the connection goes after everything that speaks on it.
    BusConnection m_bus;
    Shortcut m_shortcut;
    std::unique_ptr<GlobalShortcutsPortalLink> m_link;
    State m_state = State::unknown;
    // The key the desktop last said is bound to the shortcut; empty when none is.
    std::string m_trigger;
    std::string m_failure;
    bool m_started = false;
    bool m_checking = false;
    bool m_makingSession = false;
    std::string m_session;
    // Whether the session (or the one being made) offered the preferred key.
    bool m_sessionOffersTrigger = false;
    // A bind asked for while the session was still being made, and the window it is for.
    bool m_bindWaiting = false;
    std::string m_parentWindow;
    // Request object paths of the questions still open, and what their answers mean.
    std::map<std::string, Request> m_requests;
    // The latest bind's request: an answer to an earlier one is overtaken.
    std::string m_latestBind;
    // Counts the portals come and gone, so that an answer from one that has gone since is not
    // taken for the present one's.
    int m_generation = 0;
    Signal<> m_stateChanged;
    Signal<std::string> m_activated;
};
