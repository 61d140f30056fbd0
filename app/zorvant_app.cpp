#include "app/zorvant_app.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <malloc.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "app/app_delegate.h"
#include "app/panel_placement.h"
#include "app/reopen_server.h"
#include "app/status_item.h"
#include "app/windowing_platform.h"
#include "platform/freedesktop_opener.h"
#include "platform/log.h"
#include "platform/user_defaults.h"

namespace {

int signalPipe[2] = {-1, -1};

constexpr auto iconPlacedWithin = std::chrono::seconds(2);
constexpr int iconPlacedPollMs = 20;
constexpr int iconStillPolls = 5;

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
// threads block both (see startDetachedThread), so the handler always runs on the main thread.
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

} // namespace

int ZorvantApp::main(int argc, char** argv, const FirstInstanceStart& start) {
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
    FolderModelServices services;
    services.defaults = std::make_shared<UserDefaults>(UserDefaults::standardLocation());
    app.appDelegate =
        std::make_unique<AppDelegate>(AppDelegate::Environment{std::move(services), opener, {}});
    app.appDelegate->applicationDidFinishLaunching();

    // A reopen that comes before the icon was seen in place waits for it to stay put, within a
    // bound from the start, rather than open the panel where the icon was on its way: an XEmbed
    // tray moves the icon into place a moment after it took it. Such a reopen comes from the
    // launch that started this instance in place of a replaced one, and from any launch beside
    // it, which may even have met no instance at all (the replaced one gone, this one not yet
    // holding the lock) and started nothing. Reopens that come meanwhile are folded into one.
    // (A tray whose icon sits at the very origin of the screen costs the panel that bound.)
    QTimer iconPoll;
    const auto giveUpAt = std::chrono::steady_clock::now() + iconPlacedWithin;
    std::optional<QRect> lastPlace;
    int samePolls = 0;
    bool iconSeenPlaced = false;
    std::optional<QByteArray> pendingReopen;
    const auto reopenOncePlaced = [&] {
        StatusItem* item = app.appDelegate->statusItem();
        const std::optional<QRect> place = item->anchor();
        samePolls = place == lastPlace ? samePolls + 1 : 0;
        lastPlace = place;
        // Before the tray takes it in, the icon's window sits at the screen's origin.
        const bool settledInPlace =
            isUsableAnchor(place) && place->topLeft() != QPoint() && samePolls >= iconStillPolls;
        const bool waiting = !item->isSettled() || (item->isInTray() && !settledInPlace);
        if (waiting && std::chrono::steady_clock::now() < giveUpAt) {
            iconPoll.start();
            return;
        }
        iconSeenPlaced = true;
        if (pendingReopen)
            app.appDelegate->applicationShouldHandleReopen(false,
                                                           *std::exchange(pendingReopen, {}));
    };
    iconPoll.setSingleShot(true);
    iconPoll.setInterval(iconPlacedPollMs);
    QObject::connect(&iconPoll, &QTimer::timeout, app.appDelegate.get(), reopenOncePlaced);
    const auto reopen = [&app, activationToken, &iconSeenPlaced, &pendingReopen,
                         &iconPoll](const QByteArray& token) {
        *activationToken = token.toStdString();
        if (iconSeenPlaced) {
            app.appDelegate->applicationShouldHandleReopen(false, token);
            return;
        }
        pendingReopen = token;
        if (!iconPoll.isActive())
            iconPoll.start();
    };
    // Polled from the start, the desktop's answer about the tray included: until then the icon
    // is not in a tray.
    if (start.showPanel)
        reopen(QByteArray(start.activationToken));
    QObject::connect(&reopenServer, &ReopenServer::reopenRequested, app.appDelegate.get(), reopen);

    // Start-up leaves much freed memory inside the heap (the settings parsed, the fonts
    // configured, the interface laid out); once the program idles, give those pages back,
    // since a tray program then idles for the rest of the session.
    QTimer::singleShot(0, &application, [] { ::malloc_trim(0); });

    const int status = QApplication::exec();
    // The panel and the tray icon go before the application object does.
    app.appDelegate.reset();
    return status;
}
