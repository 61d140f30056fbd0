#include "app/zorvant_app.h"

#include <cerrno>
#include <csignal>
#include <memory>
#include <string>
#include <utility>

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QTimer>

#include "app/app_delegate.h"
#include "app/reopen_server.h"
#include "app/windowing_platform.h"
#include "platform/freedesktop_opener.h"
#include "platform/log.h"
#include "platform/user_defaults.h"

namespace {

int signalPipe[2] = {-1, -1};

// Runs in whatever the main thread was doing: it must leave errno as it found it, and never
// block, so the socket it writes to does not (a full socket means the loop has word already).
void forwardSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written =
        ::send(signalPipe[1], &byte, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
    errno = saved;
}

// SIGTERM and SIGINT end the event loop, so that everything is torn down in order. Worker
// threads block both (see startDetachedThread): a thread stuck in a call to a dead share never
// holds the signal up.
// A peer that goes away mid-write (the file manager's bus, a launch that gave up) must not end
// the program: SIGPIPE is ignored, and writes report EPIPE instead.
void quitOnTerminationSignals(QObject* owner) {
    ::signal(SIGPIPE, SIG_IGN);
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// What a desktop shortcut runs to bring the panel up: `zorvant` where that is this program, as
// installed; otherwise (a build run from its folder) this program by its full path.
QString shortcutCommand() {
    const QString self = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("zorvant"));
    if (!onPath.isEmpty() && QFileInfo(onPath).canonicalFilePath() == self)
        return QStringLiteral("zorvant");
    // Both desktops split the command as a shell would.
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_@%+=:,./-]+$"));
    if (plain.match(self).hasMatch())
        return self;
    return QLatin1Char('\'') + QString(self).replace(QLatin1String("'"), QLatin1String("'\\''")) +
           QLatin1Char('\'');
}

} // namespace

int ZorvantApp::main(int argc, char** argv, const FirstInstanceStart& start) {
    const bool background = start.background;
    // Whatever must be settled before Qt picks and starts its platform goes here.
    chooseWindowingPlatform();
    reserveActivationTokenSlot();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Zorvant"));
    QApplication::setDesktopFileName(QStringLiteral("org.zorvant.Zorvant"));
    QApplication::setQuitOnLastWindowClosed(false);

    quitOnTerminationSignals(&application);

    // The activation token of the reopen request that brought the panel up, handed on once
    // to the file manager that a folder opened from it starts.
    auto activationToken = std::make_shared<std::string>();
    auto opener = std::make_shared<FreedesktopOpener>(
        [activationToken] { return std::exchange(*activationToken, {}); });

    // Later launches are answered from the first turn of the event loop. Nothing before it
    // touches the root folder, whose share may not answer: the model checks it on a worker.
    ReopenServer reopenServer(start.reopenSocket);
    // Replaced on disk: end as SIGTERM would, for the launch that asked to start the new files.
    QObject::connect(&reopenServer, &ReopenServer::replacedOnDisk, &application,
                     &QCoreApplication::quit, Qt::QueuedConnection);

    ZorvantApp app;
    AppDelegate::Environment environment;
    environment.services.defaults =
        std::make_shared<UserDefaults>(UserDefaults::standardLocation());
    environment.opener = opener;
    environment.shortcuts.currentDesktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    environment.shortcuts.command = shortcutCommand();
    app.appDelegate = std::make_unique<AppDelegate>(std::move(environment));
    app.appDelegate->applicationDidFinishLaunching();

    // The user started it and expects to see it (also in place of an instance that an upgrade
    // replaced); the login start passes --background.
    if (start.showPanel || !background) {
        *activationToken = start.activationToken;
        app.appDelegate->showPanelAtLaunch(QByteArray(start.activationToken));
    }

    // A second launch, or the desktop portal's shortcut: the panel comes forward.
    const auto reopen = [&app, activationToken](const QByteArray& token) {
        *activationToken = token.toStdString();
        app.appDelegate->applicationShouldHandleReopen(false, token);
    };
    QObject::connect(&reopenServer, &ReopenServer::reopenRequested, app.appDelegate.get(), reopen);
    QObject::connect(app.appDelegate.get(), &AppDelegate::shortcutPressed, app.appDelegate.get(),
                     reopen);

    // Start-up leaves much freed memory inside the heap (the settings parsed, the fonts
    // configured, the interface laid out); once the program idles, give those pages back,
    // since a tray program then idles for the rest of the session.
    QTimer::singleShot(0, &application, [] { ::malloc_trim(0); });

    const int status = QApplication::exec();
    // The panel and the tray icon go before the application object does.
    app.appDelegate.reset();
    return status;
}
