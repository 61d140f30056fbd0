#include "support/x_server.h"

#include <csignal>
#include <string>

#include <sys/prctl.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QDeadlineTimer>
#include <QThread>

namespace {

constexpr int timeoutMs = 10000;

// A program of the test's goes with the test, also when the test dies outright.
void endWithTheTest(QProcess& process) {
    process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

// Whether a client can connect now. Right after the server has said which display it took,
// the server of an earlier run on the same number may still be on its way out and turn
// clients away for a moment.
bool takesClients(const QString& display) {
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return connected;
}

bool holdsTheTraySelection(const QString& display) {
    xcb_connection_t* connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    bool held = false;
    if (xcb_connection_has_error(connection) == 0) {
        const std::string name = "_NET_SYSTEM_TRAY_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            connection,
            xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
            nullptr);
        if (atom) {
            xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
                connection, xcb_get_selection_owner(connection, atom->atom), nullptr);
            held = owner && owner->owner != XCB_NONE;
            free(owner);
            free(atom);
        }
    }
    xcb_disconnect(connection);
    return held;
}

// Polls, a bounded while, for what another process brings about.
template <class Condition> bool within(int milliseconds, Condition condition) {
    const QDeadlineTimer deadline(milliseconds);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QThread::msleep(5);
    }
    return true;
}

} // namespace

XServer::XServer() {
    endWithTheTest(m_server);
    // The display number on standard output once the server listens; no abstract socket, which
    // the server of an earlier run on the same number may still hold; and no reset when the
    // last client goes, which turns the next one away while it lasts.
    m_server.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                    QStringLiteral("0"), QStringLiteral("800x600x24"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp"), QStringLiteral("-nolisten"), QStringLiteral("local"),
                    QStringLiteral("-noreset")});
    while (m_server.waitForReadyRead(timeoutMs) && !m_server.canReadLine()) {
    }
    const QString number = QString::fromLatin1(m_server.readLine()).trimmed();
    if (number.isEmpty())
        return;
    const QString display = QLatin1Char(':') + number;
    if (within(timeoutMs, [&] { return takesClients(display); }))
        m_display = display;
}

XServer::~XServer() {
    for (QProcess* process : {&m_tray, &m_server}) {
        if (process->state() == QProcess::NotRunning)
            continue;
        process->terminate();
        if (!process->waitForFinished(timeoutMs))
            process->kill();
        process->waitForFinished(timeoutMs);
    }
}

QProcessEnvironment XServer::environment() const {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    for (const char* name : {"WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE",
                             "QT_QPA_PLATFORMTHEME", "GTEST_OUTPUT"})
        environment.remove(QLatin1String(name));
    return environment;
}

bool XServer::startXEmbedTray() {
    endWithTheTest(m_tray);
    QProcessEnvironment environment = this->environment();
    m_tray.setProcessEnvironment(environment);
    m_tray.start(QStringLiteral("trayer"),
                 {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                  QStringLiteral("right"), QStringLiteral("--widthtype"), QStringLiteral("request"),
                  QStringLiteral("--height"), QStringLiteral("28")});
    return m_tray.waitForStarted(timeoutMs) && within(timeoutMs, [&] {
               return m_tray.state() == QProcess::Running && holdsTheTraySelection(m_display);
           });
}

QString XServer::trayOutput() {
    QString output;
    if (m_tray.state() == QProcess::NotRunning || m_tray.waitForFinished(0))
        output = QStringLiteral("trayer ended with %1: ").arg(m_tray.exitCode());
    return output + QString::fromLocal8Bit(m_tray.readAllStandardError());
}
