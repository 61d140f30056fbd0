#include "app/shortcut_setup.h"

#include <utility>

#include <QProcess>

#include "platform/background_task.h"
#include "platform/global_shortcuts_portal.h"
#include "platform/qt_main_thread.h"

namespace {

const GlobalShortcutsPortal::Shortcut portalShortcut{"show-dockets", "Show Dockets", "CTRL+ALT+d"};

// The settings program is the desktop's, and so is what it has to say: not in our log.
bool startDetached(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}

// Where the user changes the shortcut, said in the desktop's own words.
QString settingsPlace(ShortcutSetup::Desktop desktop) {
    return desktop == ShortcutSetup::Desktop::gnome
               ? ShortcutSetup::tr("Settings → Keyboard → Custom Shortcuts")
               : ShortcutSetup::tr("Settings → Keyboard → Application Shortcuts");
}

QString readable(const std::string& key) {
    return QString::fromStdString(readableKey(key));
}

} // namespace

ShortcutSetup::ShortcutSetup(Environment environment, QObject* parent)
    : QObject(parent), m_environment(std::move(environment)),
      m_mainThread(std::make_shared<QtMainThread>(this)) {
    if (!m_environment.startSettings)
        m_environment.startSettings = startDetached;
    m_portalPatience.setSingleShot(true);
    m_portalPatience.setInterval(m_environment.portalPatience);
    connect(&m_portalPatience, &QTimer::timeout, this, [this] {
        if (std::exchange(m_waitingForPortal, false))
            setUpInDesktopSettings();
    });
}

ShortcutSetup::~ShortcutSetup() = default;

QString ShortcutSetup::shortcutName() {
    return QStringLiteral("Zorvant");
}

ShortcutSetup::Desktop ShortcutSetup::desktopFrom(const QString& currentDesktop) {
    for (const QString& name : currentDesktop.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (name.compare(QLatin1String("GNOME"), Qt::CaseInsensitive) == 0)
            return Desktop::gnome;
        if (name.compare(QLatin1String("XFCE"), Qt::CaseInsensitive) == 0)
            return Desktop::xfce;
    }
    return Desktop::other;
}

void ShortcutSetup::start() {
    if (m_portal || m_environment.portalBus == QLatin1String("none"))
        return;
    m_portal = std::make_unique<GlobalShortcutsPortal>(portalShortcut,
                                                       m_environment.portalBus.toStdString());
    m_portalStates = m_portal->observeStateChanges([this] { portalStateChanged(); });
    m_portalActivations = m_portal->observeActivation(
        [this](const std::string& token) { Q_EMIT activated(QByteArray::fromStdString(token)); });
    m_portal->start();
}

void ShortcutSetup::setUp() {
    // The desktop's dialog may have been left open, or lost: asking again asks the desktop again,
    // and only its answer to the newest request counts.
    if (m_busy && m_bindingThroughPortal) {
        m_portal->bind();
        return;
    }
    if (m_busy)
        return;
    m_busy = true;
    start();
    if (m_portal && m_portal->state() == GlobalShortcutsPortal::State::unknown) {
        m_waitingForPortal = true;
        m_portalPatience.start();
        return;
    }
    setUpNow();
}

void ShortcutSetup::setUpNow() {
    using State = GlobalShortcutsPortal::State;
    const State state = m_portal ? m_portal->state() : State::unavailable;
    if (state == State::unavailable || state == State::unknown || state == State::failed) {
        setUpInDesktopSettings();
        return;
    }
    // Bound already or not: the desktop's dialog shows the key and lets the user change it.
    m_bindingThroughPortal = true;
    m_portal->bind();
}

void ShortcutSetup::portalStateChanged() {
    using State = GlobalShortcutsPortal::State;
    const State state = m_portal->state();
    if (m_waitingForPortal && state != State::unknown) {
        m_waitingForPortal = false;
        m_portalPatience.stop();
        setUpNow();
        return;
    }
    if (!m_bindingThroughPortal) {
        // Plasma leaves the key to System Settings, out of our sight; its first press tells.
        if (state == State::bound && std::exchange(m_saidNoKey, false))
            Q_EMIT answerWithdrawn();
        return;
    }
    if (state == State::binding)
        return;
    m_bindingThroughPortal = false;
    m_busy = false;
    m_saidNoKey = state == State::unbound;
    switch (state) {
    case State::bound:
        Q_EMIT answered(
            m_portal->trigger().empty()
                ? tr("Zorvant's shortcut is set. Change it in System Settings → Shortcuts.")
                : tr("%1 opens Zorvant. Change it in System Settings → Shortcuts.")
                      .arg(QString::fromStdString(m_portal->trigger())),
            false);
        break;
    case State::unbound:
        // A dialog the user cancelled, or a desktop (Plasma 5.27) that leaves the key to its
        // own settings, where the shortcut is listed now.
        Q_EMIT answered(tr("No key is set yet: choose one for “Show Dockets” in System Settings → "
                           "Shortcuts → Zorvant."),
                        false);
        break;
    default:
        Q_EMIT answered(QString::fromStdString(m_portal->failure()), true);
    }
}

void ShortcutSetup::setUpInDesktopSettings() {
    const Desktop desktop = desktopFrom(m_environment.currentDesktop);
    if (desktop == Desktop::other) {
        m_busy = false;
        Q_EMIT instructionsNeeded();
        return;
    }
    const RunCommand run = m_environment.run;
    const std::string command = m_environment.command.toStdString();
    const std::string name = shortcutName().toStdString();
    const bool started = runInBackground<DesktopShortcut>(
        m_environment.startThread, m_mainThread,
        [run, command, name, desktop] {
            return desktop == Desktop::gnome ? DesktopShortcut::setUpOnGnome(run, name, command)
                                             : DesktopShortcut::setUpOnXfce(run, command);
        },
        [this, desktop](DesktopShortcut shortcut) { settingsAnswered(desktop, shortcut); });
    if (!started) {
        m_busy = false;
        Q_EMIT answered(tr("The shortcut could not be set up: no thread could be started."), true);
    }
}

void ShortcutSetup::settingsAnswered(Desktop desktop, const DesktopShortcut& shortcut) {
    m_busy = false;
    using Outcome = DesktopShortcut::Outcome;
    if (shortcut.outcome == Outcome::failed) {
        Q_EMIT answered(QString::fromStdString(shortcut.failure), true);
        return;
    }
    const QString place = settingsPlace(desktop);
    QString line;
    switch (shortcut.outcome) {
    case Outcome::added:
        line = tr("%1 now opens Zorvant. Change it in %2.").arg(readable(shortcut.key), place);
        break;
    case Outcome::addedWithoutKey:
        line = tr("Every key Zorvant would suggest is taken: pick one for “%1” in %2.")
                   .arg(shortcutName(), place);
        break;
    default:
        line = shortcut.key.empty()
                   ? tr("Zorvant's shortcut has no key yet: pick one in %1.").arg(place)
                   // Said apart from a new one: nothing was added this time.
                   : tr("%1 already opens Zorvant. Change it in %2.")
                         .arg(readable(shortcut.key), place);
    }
    const QString notOpened = openSettings(desktop);
    Q_EMIT answered(notOpened.isEmpty() ? line : line + QLatin1Char(' ') + notOpened, false,
                    notOpened.isEmpty());
}

QString ShortcutSetup::openSettings(Desktop desktop) {
    const bool opened =
        desktop == Desktop::gnome
            ? m_environment.startSettings(QStringLiteral("gnome-control-center"),
                                          {QStringLiteral("keyboard")})
            : m_environment.startSettings(QStringLiteral("xfce4-keyboard-settings"), {});
    return opened ? QString() : tr("(The keyboard settings could not be opened.)");
}
