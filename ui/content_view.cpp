#include "ui/content_view.h"

#include <functional>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include "model/root_folder_hint.h"
#include "model/root_folder_selection.h"
#include "platform/log.h"
#include "platform/notification_center.h"
#include "platform/qt_main_thread.h"
#include "platform/worker_thread.h"
#include "ui/conflict_sheet.h"
#include "ui/elided_label.h"
#include "ui/focus_ring.h"
#include "ui/key_repeat_guard.h"
#include "ui/live_label.h"
#include "ui/recents_list.h"
#include "ui/window_fit.h"

namespace {

constexpr int stackSpacing = 16;
constexpr int numberFieldMaximumWidth = 400;
// A lookup that answers within this time shows no sign of searching: most do.
constexpr int searchingIndicatorDelayMs = 300;

// "Clear recents" is borderless, as a toolbar button is: its text alone, underlined under
// the pointer. The focus ring shows when it has the keyboard.
const char* const borderlessStyle =
    "QPushButton { border: none; border-radius: 3px; padding: 3px 6px;"
    " background: transparent; color: palette(button-text); }"
    "QPushButton:hover { text-decoration: underline; }"
    "QPushButton:pressed { background: palette(midlight); }";

QString displayPath(const std::filesystem::path& location) {
    return QFile::decodeName(QByteArray::fromStdString(location.native()));
}

QFont footnoteFont(const QFont& base) {
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() * 0.85);
    return font;
}

QFont headlineFont(const QFont& base) {
    QFont font = base;
    font.setBold(true);
    return font;
}

// A red that stays readable on the light and the dark variant of the palette.
QColor errorColour(const QPalette& palette) {
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    return dark ? QColor(0xff, 0x6b, 0x61) : QColor(0xc4, 0x1e, 0x14);
}

// Where the README explains how to bind the hotkey.
const char* const hotkeyHelp = "https://zorvant.org/#the-hotkey";

// A short line that says what belongs where nothing is yet: quieter than the controls, and
// wrapped rather than cut where a translation or a large font needs more room.
QLabel* mutedNote(const QString& text, const char* name, QWidget* parent) {
    auto* note = new QLabel(text, parent);
    note->setObjectName(QLatin1String(name));
    note->setAccessibleName(text);
    note->setWordWrap(true);
    note->setFont(footnoteFont(parent->font()));
    note->setForegroundRole(QPalette::PlaceholderText);
    return note;
}

// The program's model reads its root folder on worker threads and hears back in the event loop.
FolderModelServices onWorkerThreads(FolderModelServices services,
                                    std::shared_ptr<MainThread> mainThread) {
    if (!services.startThread)
        services.startThread = startDetachedThread;
    if (!services.mainThread)
        services.mainThread = std::move(mainThread);
    return services;
}

// The content inside the panel's scroll area. The area asks its heightForWidth how tall the
// content must be at a width, and scrolls by what the answer exceeds the area. A widget whose
// text wraps would answer with the height at which every part has its preferred size; this one
// answers with the least height at which nothing needs scrolling, since the recents list can
// give up all but a row first.
class ContentBody : public QWidget {
public:
    explicit ContentBody(std::function<int()> recentsSpareHeight)
        : m_recentsSpareHeight(std::move(recentsSpareHeight)) {}

    int heightForWidth(int width) const override { return leastUnscrolledHeight(width); }

private:
    int leastUnscrolledHeight(int width) const {
        return QWidget::heightForWidth(width) - m_recentsSpareHeight();
    }

    // How much of its preferred height the recents list can give up.
    std::function<int()> m_recentsSpareHeight;
};

} // namespace

ContentView::ContentView(FolderModelServices services, std::shared_ptr<DesktopOpener> opener,
                         OpenDirectory openDirectory, QWidget* parent)
    : QWidget(parent), m_mainThread(std::make_shared<QtMainThread>(this)),
      m_model(std::make_shared<FolderModel>(onWorkerThreads(std::move(services), m_mainThread))),
      m_controller(std::make_shared<FolderController>(m_model, opener, std::move(openDirectory),
                                                      m_mainThread,
                                                      m_model->services().startThread)),
      m_flow(m_controller, opener) {
    setObjectName(QStringLiteral("contentView"));
    buildInterface();
    m_flow.setAnswerHandler([this] { lookupAnswered(); });
    m_searchingDelay.setSingleShot(true);
    m_searchingDelay.setInterval(searchingIndicatorDelayMs);
    connect(&m_searchingDelay, &QTimer::timeout, this, [this] {
        m_searching->show();
        setCursor(Qt::BusyCursor);
    });
    m_notAnsweringDelay.setSingleShot(true);
    setNotAnsweringDelay(notAnsweringDelay);
    connect(&m_notAnsweringDelay, &QTimer::timeout, this, [this] { m_flow.lookupTimedOut(); });
    m_rootCheckPatience.setSingleShot(true);
    connect(&m_rootCheckPatience, &QTimer::timeout, this, [this] {
        m_rootCheckOverdue = true;
        refresh();
    });
    // Whatever takes the keyboard is scrolled into view, when the panel is too small to show
    // all of its content at once.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now && m_body->isAncestorOf(now))
            m_scroller->ensureWidgetVisible(now);
    });

    // The model announces before it stores, so refresh once the change has landed.
    m_modelChanges = m_model->observeChanges([this](FolderModel::Field field) {
        if (field == FolderModel::Field::rootFolderBookmark) {
            // Whatever a lookup under the old root would find, nobody asked for it under the new.
            if (m_flow.isLookingUp()) {
                m_flow.abandonLookup();
                stopSearchingIndicator();
            }
            // Only a chosen folder assigns a bookmark once the model stands: whatever the error
            // line said about the root before is no longer so. A conflict's choice is still up
            // to the user (the dialog keeps the panel from the chooser meanwhile).
            if (!m_flow.showConflict)
                m_flow.errorMessage.reset();
            m_rootCheckPatience.stop();
            m_rootCheckOverdue = false;
        }
        scheduleRefresh();
    });
    m_focusRequests = NotificationCenter::defaultCenter().addObserver(
        focusRequestNotification(), [this] { focusNumberField(); });
    refresh();
}

ContentView::~ContentView() = default;

void ContentView::buildInterface() {
    // The content scrolls as a whole when the panel is smaller than it, on a small or
    // magnified screen. Until then the recents list gives up height first.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_scroller = new QScrollArea(this);
    m_scroller->setObjectName(QStringLiteral("contentScroller"));
    m_scroller->setFrameShape(QFrame::NoFrame);
    m_scroller->setWidgetResizable(true);
    m_scroller->setFocusPolicy(Qt::NoFocus);
    m_scroller->viewport()->setAutoFillBackground(false);
    outer->addWidget(m_scroller);
    m_body = new ContentBody([this] {
        return m_recents->isVisibleTo(m_body)
                   ? m_recents->sizeHint().height() - m_recents->minimumSizeHint().height()
                   : 0;
    });
    m_body->setObjectName(QStringLiteral("contentBody"));
    m_body->setAutoFillBackground(false);
    m_scroller->setWidget(m_body);

    auto* stack = new QVBoxLayout(m_body);
    stack->setSpacing(stackSpacing);

    auto* rootRow = new QHBoxLayout;
    m_selectRootButton = new QPushButton(tr("Select Root 'dockets' Folder"), m_body);
    m_selectRootButton->setObjectName(QStringLiteral("selectRootButton"));
    m_selectRootButton->setAutoDefault(false);
    // Buttons take the keyboard only by Tab, so that clicking one leaves focus in the field.
    m_selectRootButton->setFocusPolicy(Qt::TabFocus);
    m_selectRootButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_selectRootButton, &QPushButton::clicked, this, &ContentView::selectRootFolder);
    m_rootPath = new ElidedLabel(m_body);
    m_rootPath->setObjectName(QStringLiteral("rootPathLabel"));
    m_rootPath->setFont(footnoteFont(font()));
    m_rootPath->setForegroundRole(QPalette::PlaceholderText);
    // At the leading edge also while the path beside it is hidden (no root folder yet).
    // Whether the root's file server has answered yet, while that is in doubt.
    m_rootStatus = new QLabel(m_body);
    m_rootStatus->setObjectName(QStringLiteral("rootStatusLabel"));
    m_rootStatus->setFont(footnoteFont(font()));
    m_rootStatus->setForegroundRole(QPalette::PlaceholderText);
    m_rootStatus->hide();
    rootRow->addWidget(m_selectRootButton, 0, Qt::AlignLeft);
    rootRow->addWidget(m_rootPath, 1);
    rootRow->setAlignment(m_rootPath, Qt::AlignVCenter);
    rootRow->addWidget(m_rootStatus);
    // The notes under the button go with it, closer than the controls are to each other.
    auto* rootGroup = new QVBoxLayout;
    rootGroup->setSpacing(4);
    rootGroup->addLayout(rootRow);
    m_noRootNote =
        mutedNote(tr("Choose the folder that holds the a-… bucket folders."), "noRootNote", m_body);
    rootGroup->addWidget(m_noRootNote);
    m_chooserNote = new QLabel(m_body);
    m_chooserNote->setObjectName(QStringLiteral("chooserNote"));
    m_chooserNote->setWordWrap(true);
    m_chooserNote->setFont(footnoteFont(font()));
    m_chooserNote->setTextFormat(Qt::PlainText);
    m_chooserNote->hide();
    rootGroup->addWidget(m_chooserNote);
    stack->addLayout(rootGroup);

    m_numberField = new QLineEdit(m_body);
    m_numberField->setObjectName(QStringLiteral("numberField"));
    m_numberField->setPlaceholderText(tr("Enter folder number"));
    m_numberField->setAccessibleName(tr("Enter folder number"));
    m_numberField->setMaximumWidth(numberFieldMaximumWidth);
    m_numberField->setClearButtonEnabled(false);
    connect(m_numberField, &QLineEdit::textEdited, this,
            [this](const QString& text) { m_model->setFolderNumber(text.toStdString()); });
    connect(m_numberField, &QLineEdit::returnPressed, this, &ContentView::submitNumber);
    KeyRepeatGuard::forApplication().guard(m_numberField);
    stack->addWidget(m_numberField);

    m_errorLine = new LiveLabel(m_body);
    m_errorLine->setObjectName(QStringLiteral("errorLabel"));
    m_errorLine->setWordWrap(true);
    m_errorLine->setFont(footnoteFont(font()));
    QPalette errorPalette = m_errorLine->palette();
    errorPalette.setColor(QPalette::WindowText, errorColour(errorPalette));
    m_errorLine->setPalette(errorPalette);
    stack->addWidget(m_errorLine);

    m_openButton = new QPushButton(tr("Open Folder"), m_body);
    m_openButton->setObjectName(QStringLiteral("openFolderButton"));
    m_openButton->setDefault(true);
    m_openButton->setFocusPolicy(Qt::TabFocus);
    QPalette prominent = m_openButton->palette();
    prominent.setColor(QPalette::Button, prominent.color(QPalette::Highlight));
    prominent.setColor(QPalette::ButtonText, prominent.color(QPalette::HighlightedText));
    m_openButton->setPalette(prominent);
    connect(m_openButton, &QPushButton::clicked, this, &ContentView::pressOpenFolder);
    KeyRepeatGuard::forApplication().guard(m_openButton);

    // Beside the button, so that it comes and goes without moving anything.
    m_searching = new QLabel(tr("Searching…"), m_body);
    m_searching->setObjectName(QStringLiteral("searchingLabel"));
    m_searching->setFont(footnoteFont(font()));
    m_searching->setForegroundRole(QPalette::PlaceholderText);
    m_searching->hide();
    auto* openRow = new QHBoxLayout;
    openRow->addWidget(m_openButton);
    openRow->addWidget(m_searching);
    openRow->addStretch(1);
    stack->addLayout(openRow);

    m_divider = new QFrame(m_body);
    m_divider->setObjectName(QStringLiteral("recentsDivider"));
    m_divider->setFrameShape(QFrame::HLine);
    m_divider->setFrameShadow(QFrame::Sunken);
    stack->addWidget(m_divider);

    m_recentsHeader = new QLabel(tr("Recent dockets"), m_body);
    m_recentsHeader->setObjectName(QStringLiteral("recentsHeader"));
    m_recentsHeader->setFont(headlineFont(font()));
    stack->addWidget(m_recentsHeader);

    m_recents = new RecentsList(m_body);
    m_recents->setActivationHandler([this](const RecentDocket& docket) { reopenRecent(docket); });
    connect(m_recents, &RecentsList::rowsChanged, this, &ContentView::orderTabChain);
    stack->addWidget(m_recents);

    m_clearRow = new QWidget(m_body);
    auto* clearLayout = new QHBoxLayout(m_clearRow);
    clearLayout->setContentsMargins(0, 0, 0, 0);
    clearLayout->addStretch();
    m_clearButton = new QPushButton(tr("Clear recents"), m_clearRow);
    m_clearButton->setObjectName(QStringLiteral("clearRecentsButton"));
    m_clearButton->setFlat(true);
    m_clearButton->setStyleSheet(QString::fromLatin1(borderlessStyle));
    m_clearButton->setAutoDefault(false);
    m_clearButton->setFocusPolicy(Qt::TabFocus);
    connect(m_clearButton, &QPushButton::clicked, this, &ContentView::clearRecents);
    clearLayout->addWidget(m_clearButton);
    stack->addWidget(m_clearRow);
    m_noRecentsNote =
        mutedNote(tr("The dockets you open will be listed here."), "noRecentsNote", m_body);
    stack->addWidget(m_noRecentsNote);
    // Spare height goes below the last control, so that everything sits at the top.
    stack->addStretch(1);
    // One short line: the panel is all a user without a tray has, and has no room to spare.
    m_trayRow = new QWidget(m_body);
    m_trayRow->setObjectName(QStringLiteral("trayRow"));
    auto* trayLayout = new QHBoxLayout(m_trayRow);
    trayLayout->setContentsMargins(0, 0, 0, 0);
    auto* trayNote =
        mutedNote(tr("No tray icon: start Zorvant again, or use <a href=\"%1\">a shortcut</a>.")
                      .arg(QLatin1String(hotkeyHelp)),
                  "trayNote", m_trayRow);
    trayNote->setAccessibleName(tr("No tray icon: start Zorvant again, or use a shortcut."));
    trayNote->setTextFormat(Qt::RichText);
    trayNote->setOpenExternalLinks(true);
    trayNote->setTextInteractionFlags(Qt::TextBrowserInteraction);
    trayLayout->addWidget(trayNote, 1);
    m_shortcutButton = new QPushButton(tr("Keyboard Shortcut…"), m_trayRow);
    m_shortcutButton->setObjectName(QStringLiteral("keyboardShortcutButton"));
    // As quiet as the line it belongs to.
    m_shortcutButton->setFlat(true);
    m_shortcutButton->setStyleSheet(QString::fromLatin1(borderlessStyle));
    m_shortcutButton->setFont(footnoteFont(font()));
    m_shortcutButton->setAutoDefault(false);
    m_shortcutButton->setFocusPolicy(Qt::TabFocus);
    connect(m_shortcutButton, &QPushButton::clicked, this, &ContentView::keyboardShortcutRequested);
    trayLayout->addWidget(m_shortcutButton, 0, Qt::AlignVCenter);
    m_trayRow->hide();
    stack->addWidget(m_trayRow);
    m_shortcutNote = new LiveLabel(m_body);
    m_shortcutNote->setObjectName(QStringLiteral("shortcutNote"));
    m_shortcutNote->setWordWrap(true);
    m_shortcutNote->setFont(footnoteFont(font()));
    m_shortcutNote->setMessage(std::nullopt);
    stack->addWidget(m_shortcutNote);
    new FocusRing(m_body);

    m_conflictSheet = new ConflictSheet(
        tr("Found both Legacy and J dockets. Which one would you like to open?"), this);
    m_conflictSheet->setChoiceHandler(
        [this](const ConflictChoice& choice) { chooseConflict(choice); });
}

void ContentView::scheduleRefresh() {
    if (m_refreshPending)
        return;
    m_refreshPending = true;
    QTimer::singleShot(0, this, [this] {
        m_refreshPending = false;
        refresh();
    });
}

void ContentView::refresh() {
    // A root whose share has not answered (yet) is shown all the same: it is kept.
    const auto& root = m_model->rootFolderURL() ? m_model->rootFolderURL()
                       : m_model->rootStatus() != FolderModel::RootStatus::none
                           ? m_model->bookmarkedRoot()
                           : std::nullopt;
    m_rootPath->setVisible(root.has_value());
    if (root)
        m_rootPath->setFullText(displayPath(*root));
    const bool checking = m_model->rootStatus() == FolderModel::RootStatus::checking;
    if (!checking) {
        m_rootCheckPatience.stop();
        m_rootCheckOverdue = false;
    } else if (!m_rootCheckOverdue && !m_rootCheckPatience.isActive()) {
        m_rootCheckPatience.start();
    }
    switch (m_model->rootStatus()) {
    case FolderModel::RootStatus::checking:
        m_rootStatus->setText(m_rootCheckOverdue ? tr("Not answering") : tr("Checking…"));
        break;
    case FolderModel::RootStatus::notAnswering:
        m_rootStatus->setText(tr("Not answering"));
        break;
    default:
        m_rootStatus->clear();
    }
    m_rootStatus->setVisible(!m_rootStatus->text().isEmpty());
    m_noRootNote->setVisible(!root.has_value());

    const QString number = QString::fromStdString(m_model->folderNumber());
    if (m_numberField->text() != number)
        m_numberField->setText(number);

    m_errorLine->setMessage(m_flow.errorMessage
                                ? std::optional(QString::fromStdString(*m_flow.errorMessage))
                                : std::nullopt);

    const auto& dockets = m_model->recentDockets();
    const bool hasRecents = !dockets.empty();
    m_recents->setDockets(dockets);
    for (QWidget* part : {static_cast<QWidget*>(m_divider), static_cast<QWidget*>(m_recentsHeader),
                          static_cast<QWidget*>(m_recents), m_clearRow})
        part->setVisible(hasRecents);
    m_noRecentsNote->setVisible(!hasRecents);

    if (m_flow.showConflict && !m_conflictSheet->isPresented()) {
        m_body->setEnabled(false);
        m_conflictSheet->present(m_flow.conflictChoices());
    }
}

void ContentView::setTrayMissing(bool missing) {
    m_trayRow->setVisible(missing);
    orderTabChain();
}

void ContentView::setShortcutNote(const QString& line, bool failed) {
    QPalette palette = m_body->palette();
    if (failed)
        palette.setColor(QPalette::WindowText, errorColour(palette));
    m_shortcutNote->setPalette(palette);
    m_shortcutNote->setMessage(line.isEmpty() ? std::nullopt : std::optional(line));
    m_shortcutNoteClosings = line.isEmpty() ? 0 : 2;
}

void ContentView::showChooserOutcome(const QString& note, bool refused) {
    m_chooserNote->setText(note);
    m_chooserNote->setAccessibleName(note);
    QPalette palette = m_body->palette();
    if (refused)
        palette.setColor(QPalette::WindowText, errorColour(palette));
    m_chooserNote->setPalette(palette);
    m_chooserNote->setVisible(!note.isEmpty());
}

void ContentView::orderTabChain() {
    // Rows are made after the controls around them, some only once scrolled to: Tab follows
    // the panel from top to bottom all the same.
    std::vector<QWidget*> chain{m_selectRootButton, m_numberField, m_openButton};
    for (QPushButton* row : m_recents->rows())
        chain.push_back(row);
    chain.push_back(m_clearButton);
    chain.push_back(m_shortcutButton);
    for (std::size_t i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}

void ContentView::focusNumberField() {
    if (m_conflictSheet->isPresented())
        return;
    m_numberField->setFocus(Qt::OtherFocusReason);
    // Ready for a new number: typing replaces the old one, which stays until then.
    m_numberField->selectAll();
}

void ContentView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    focusNumberField();
}

void ContentView::hideEvent(QHideEvent* event) {
    // A lookup still running when the panel closes is given up: the user has moved on, and a
    // folder must not pop up long after.
    m_flow.abandonLookup();
    stopSearchingIndicator();
    // A panel that closes takes its dialog with it, as if it had been dismissed.
    if (m_conflictSheet->isPresented())
        m_conflictSheet->dismiss();
    if (m_shortcutNoteClosings > 0 && --m_shortcutNoteClosings == 0)
        m_shortcutNote->setMessage(std::nullopt);
    QWidget::hideEvent(event);
}

void ContentView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && m_conflictSheet->isPresented()) {
        m_conflictSheet->dismiss();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ContentView::submitNumber() {
    m_flow.openFolder();
    lookupStarted();
}

void ContentView::pressOpenFolder() {
    m_flow.openFolderButton();
    lookupStarted();
}

void ContentView::reopenRecent(const RecentDocket& docket) {
    m_flow.reopenRecent(docket);
    lookupStarted();
}

void ContentView::lookupStarted() {
    refresh();
    if (!m_flow.isLookingUp())
        return;
    if (!m_searching->isVisible())
        m_searchingDelay.start();
    // Each lookup has its own time: a new one replaces the one that was waiting.
    m_notAnsweringDelay.start();
}

void ContentView::setNotAnsweringDelay(std::chrono::milliseconds delay) {
    m_notAnsweringDelay.setInterval(static_cast<int>(delay.count()));
    m_rootCheckPatience.setInterval(static_cast<int>(delay.count()));
}

void ContentView::lookupAnswered() {
    stopSearchingIndicator();
    refresh();
}

void ContentView::stopSearchingIndicator() {
    m_searchingDelay.stop();
    m_notAnsweringDelay.stop();
    m_searching->hide();
    if (testAttribute(Qt::WA_SetCursor))
        unsetCursor();
}

void ContentView::clearRecents() {
    // A lookup still running would record its docket into the list just cleared.
    m_flow.abandonLookup();
    stopSearchingIndicator();
    m_model->clearRecents();
    refresh();
    // The button went with the list: rather than leave the keyboard to Qt's next guess, put
    // it where the next number goes.
    focusNumberField();
}

void ContentView::chooseConflict(const ConflictChoice& choice) {
    m_flow.choose(choice);
    m_body->setEnabled(true);
    refresh();
    if (isVisible())
        focusNumberField();
}

void ContentView::takeChosenFolder(const std::filesystem::path& location) {
    // A lookup still running was asked for under the old root; the new one is on its way.
    m_flow.abandonLookup();
    stopSearchingIndicator();
    // The chooser's names pass through QString, so a name that is not valid in the locale's
    // encoding can come back as a location that does not exist; and a typed name can be one
    // that does not exist, or a file. Either way it is no folder to bookmark: the chooser has
    // failed, and the panel says so, since the root the user sees has not changed. Finding out
    // asks the file system, so it is done on a worker, with a look for buckets while there.
    struct Findings {
        std::filesystem::file_type type = std::filesystem::file_type::none;
        std::optional<RootFolderHint> hint;
    };
    auto findings = std::make_shared<Findings>();
    const bool asked = m_model->inBackground(
        [findings, location] {
            std::error_code error;
            findings->type = std::filesystem::status(location, error).type();
            if (findings->type == std::filesystem::file_type::directory)
                findings->hint = rootFolderHint(location);
        },
        [view = QPointer<ContentView>(this), findings, location] {
            if (!view)
                return;
            const QString path = displayPath(location);
            if (findings->type == std::filesystem::file_type::directory) {
                QString note;
                if (findings->hint) {
                    const QString above = displayPath(findings->hint->suggestedRoot);
                    note = findings->hint->kind == RootFolderHint::Kind::bucket
                               ? tr("This looks like a bucket folder. The dockets root is "
                                    "probably the folder above it: %1")
                                     .arg(above)
                               : tr("This looks like a docket folder inside a bucket. The "
                                    "dockets root is probably %1")
                                     .arg(above);
                }
                view->showChooserOutcome(note, false);
                handleRootFolderSelection(std::vector{location}, *view->m_model);
                return;
            }
            const bool missing = findings->type == std::filesystem::file_type::not_found;
            view->showChooserOutcome(missing ? tr("Not changed: %1 does not exist.").arg(path)
                                             : tr("Not changed: %1 is not a folder.").arg(path),
                                     true);
            handleRootFolderSelection(
                FolderPickerError{"the chosen location " + fileURL(location, false) +
                                  (missing ? " does not exist" : " is not a folder")},
                *view->m_model);
        });
    if (!asked)
        handleRootFolderSelection(
            FolderPickerError{"no thread could be had to read the chosen folder"}, *m_model);
}

void ContentView::selectRootFolder() {
    if (m_chooser)
        return;
    m_isSelectingRoot = true;
    m_chooser = new QFileDialog(window(), tr("Select Root 'dockets' Folder"));
    m_chooser->setObjectName(QStringLiteral("folderChooser"));
    m_chooser->setFileMode(QFileDialog::Directory);
    m_chooser->setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own chooser on every desktop, read-only: GTK's, which the platform theme would give
    // on GNOME and XFCE, runs inside this process and creates a typed folder that does not
    // exist when Return is pressed, and its inline completion turns a typed "Dockets/" into
    // "Dockets/a-". Qt's refuses a typed folder that does not exist, and read-only it offers
    // no way to create, rename or delete anything in the share.
    m_chooser->setOption(QFileDialog::DontUseNativeDialog, true);
    m_chooser->setOption(QFileDialog::ReadOnly, true);
    m_chooser->setAcceptMode(QFileDialog::AcceptOpen);
    const auto& root = m_model->rootFolderURL();
    m_chooser->setDirectory(root ? displayPath(root->parent_path())
                                 : QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
    connect(m_chooser, &QFileDialog::finished, this, [this](int result) {
        const QStringList files =
            result == QDialog::Accepted ? m_chooser->selectedFiles() : QStringList();
        m_chooser->deleteLater();
        m_chooser = nullptr;
        m_isSelectingRoot = false;
        if (files.isEmpty())
            handleRootFolderSelection(FolderPickerOutcome{}, *m_model);
        else
            takeChosenFolder(QFile::encodeName(files.front()).toStdString());
        Q_EMIT folderChooserClosed();
    });
    Q_EMIT folderChooserShown();
    m_chooser->open();
    keepDialogOnScreen(m_chooser, window());
}
