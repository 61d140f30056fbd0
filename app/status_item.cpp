#include "app/status_item.h"

#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QStyleHints>
#include <QSystemTrayIcon>

#include "app/qt_tray_protocol.h"
#include "platform/status_notifier_item.h"

namespace {

// The tray icon by theme name, so that it follows the panel's icon theme, each with the image
// bundled for themes that lack the name: colour on most panels, monochrome (symbolic) on
// GNOME's top bar.
struct TrayIconNames {
    const char* colour;
    const char* colourFile;
    const char* symbolic;
    const char* symbolicFile;
};
constexpr TrayIconNames trayIconNames{
    "org.zorvant.Zorvant-tray", ":/zorvant/icons/org.zorvant.Zorvant-tray.svg",
    "org.zorvant.Zorvant-tray-symbolic", ":/zorvant/icons/org.zorvant.Zorvant-tray-symbolic.svg"};

// The sizes a StatusNotifierItem host may draw the icon at, for hosts that cannot find it by name.
constexpr int imageSizes[] = {16, 22, 24, 32, 48};

const QString title = QStringLiteral("Dockets");

bool isGnome() {
    const QStringList desktops =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'));
    return desktops.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive);
}

// GNOME Shell recolours a symbolic icon to its top bar only when it finds it by name in the icon
// theme. Where the theme lacks it (a build that is not installed) the image sent instead would
// stay dark on the dark bar, so the colour icon goes there.
bool wantsSymbolicIcon() {
    return isGnome() && QIcon::hasThemeIcon(QLatin1String(trayIconNames.symbolic));
}

QString trayIconName() {
    return QLatin1String(wantsSymbolicIcon() ? trayIconNames.symbolic : trayIconNames.colour);
}

QIcon trayIcon() {
    const char* file = wantsSymbolicIcon() ? trayIconNames.symbolicFile : trayIconNames.colourFile;
    return QIcon::fromTheme(trayIconName(), QIcon(QLatin1String(file)));
}

std::vector<IconImage> iconImages(const QIcon& icon) {
    std::vector<IconImage> images;
    for (int size : imageSizes) {
        const QImage image =
            icon.pixmap(QSize(size, size)).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull())
            continue;
        IconImage converted{image.width(), image.height(), {}};
        converted.argb.reserve(static_cast<std::size_t>(image.width() * image.height() * 4));
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                const QRgb pixel = line[x];
                for (int part : {qAlpha(pixel), qRed(pixel), qGreen(pixel), qBlue(pixel)})
                    converted.argb.push_back(static_cast<std::uint8_t>(part));
            }
        }
        images.push_back(std::move(converted));
    }
    return images;
}

} // namespace

StatusItem::StatusItem(const QString& statusNotifierBus, std::shared_ptr<ActivationPolicy> policy)
    : m_menu(std::make_unique<QMenu>()), m_policy(std::move(policy)) {
    const QString showLabel = tr("Show Dockets");
    const QString shortcutLabel = tr("Keyboard Shortcut…");
    connect(m_menu->addAction(showLabel), &QAction::triggered, this, &StatusItem::showRequested);
    connect(m_menu->addAction(shortcutLabel), &QAction::triggered, this,
            &StatusItem::shortcutRequested);

    const QIcon icon = trayIcon();
    m_statusNotifierItem = std::make_unique<StatusNotifierItem>(
        StatusNotifierItem::Appearance{"org.zorvant.Zorvant", title.toStdString(),
                                       trayIconName().toStdString(), iconImages(icon)},
        std::vector<MenuEntry>{
            {showLabel.toStdString(), [this] { Q_EMIT showRequested(); }},
            {shortcutLabel.toStdString(), [this] { Q_EMIT shortcutRequested(); }}},
        statusNotifierBus.toStdString());
    m_activations = m_statusNotifierItem->observeActivation(
        [this](int x, int y, const std::string& activationToken) {
            if (m_policy->isSecondHalfOfDoubleClick()) {
                // The gesture is complete: the next Activate starts another.
                endGesture();
                return;
            }
            // A host that does not know where the click was passes the origin.
            if (x != 0 || y != 0)
                m_lastClick = QPoint(x, y);
            Q_EMIT clicked(QByteArray::fromStdString(activationToken));
            // Every Activate may be the first half of a double click, except GNOME's after
            // its first gesture: those are double clicks already.
            if (!isGnome() || !m_firstGestureSeen)
                awaitSecondHalf();
        });
    m_contextMenuRequests = m_statusNotifierItem->observeContextMenuRequests(
        [this](int x, int y) { m_menu->popup(QPoint(x, y)); });
    m_trayChanges = m_statusNotifierItem->observeTrayChanges([this] { followTrays(); });
    // Qt's XEmbed icon waits for the answer: made while a StatusNotifierItem tray is about to
    // take the icon, it would be a second icon, and could settle Qt on the wrong protocol.
    m_settling = m_statusNotifierItem->observeSettling([this] {
        followTrays();
        Q_EMIT settled();
    });
}

StatusItem::~StatusItem() {
    // The menu, which goes after the policy, sends events on its way out: a gesture still being
    // watched must not ask the policy about them.
    qApp->removeEventFilter(this);
}

void StatusItem::awaitSecondHalf() {
    // GNOME's tray extension turns a double click into Activate; until it has seen the item
    // answer one, it may make the first double click two Activates, on the press and on the
    // release. Its later double clicks, however quick, are one each, and so toggle.
    m_firstGestureSeen = true;
    m_policy->firstClickHandled(
        std::chrono::milliseconds(QGuiApplication::styleHints()->mouseDoubleClickInterval()));
    // Keys or a click in between make it two gestures, whatever the clock says.
    qApp->installEventFilter(this);
}

void StatusItem::endGesture() {
    m_policy->endDoubleClick();
    qApp->removeEventFilter(this);
}

bool StatusItem::eventFilter(QObject*, QEvent* event) {
    // A gesture whose time is up needs watching no longer.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress ||
        !m_policy->isSecondHalfOfDoubleClick())
        endGesture();
    return false;
}

void StatusItem::show() {
    m_statusNotifierItem->start();
}

void StatusItem::followTrays() {
    // A tray that takes the icon up anew learns afresh how it answers.
    m_firstGestureSeen = false;
    endGesture();
    if (m_statusNotifierItem->isInTray()) {
        if (m_xembedIcon)
            m_xembedIcon->hide();
        return;
    }
    m_lastClick.reset();
    makeXEmbedIcon();
    // Qt's XEmbed icon embeds itself in a tray that comes later, or comes back.
    if (m_xembedIcon)
        m_xembedIcon->show();
}

void StatusItem::makeXEmbedIcon() {
    if (m_xembedIcon || m_qtTrayIsStatusNotifier ||
        QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // The first icon settles Qt's protocol: with no host on the bus, as the watcher last said,
    // XEmbed.
    if (m_statusNotifierItem->hostIsRegistered())
        return;
    auto icon = std::make_unique<QSystemTrayIcon>(trayIcon());
    // A host that came in the moment between the two questions: leave Qt's icon unused.
    if (qtMadeAStatusNotifierIcon()) {
        m_qtTrayIsStatusNotifier = true;
        return;
    }
    m_xembedIcon = std::move(icon);
    m_xembedIcon->setToolTip(title);
    m_xembedIcon->setContextMenu(m_menu.get());
    connect(m_xembedIcon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // On X11 the second of two quick clicks arrives as a double click, told by the
                // X server's times, and not as a second trigger. What the first click opened,
                // the rest of the double click leaves open (and what the first closed, it
                // opens again): people double-click tray icons.
                if (reason == QSystemTrayIcon::Trigger)
                    Q_EMIT clicked({});
                else if (reason == QSystemTrayIcon::DoubleClick)
                    Q_EMIT showRequested();
            });
}

bool StatusItem::isInTray() const {
    if (m_statusNotifierItem->isInTray())
        return true;
    // Asked only once Qt has settled on XEmbed, so that the question does not settle it.
    return m_xembedIcon && m_xembedIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool StatusItem::isSettled() const {
    return m_statusNotifierItem->isSettled();
}

std::optional<QRect> StatusItem::anchor() const {
    if (m_statusNotifierItem->isInTray()) {
        if (m_lastClick)
            return QRect(*m_lastClick, QSize(1, 1));
        return std::nullopt;
    }
    if (m_xembedIcon)
        return m_xembedIcon->geometry();
    return std::nullopt;
}
