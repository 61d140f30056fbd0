#pragma once

#include <chrono>
#include <memory>

#include <QTimer>
#include <QWidget>

#include "model/folder_model.h"
#include "platform/desktop_opener.h"
#include "platform/signal.h"
#include "resolve/folder_controller.h"
#include "resolve/open_flow.h"

class ConflictSheet;
class ElidedLabel;
class LiveLabel;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QtMainThread;
class RecentsList;

// The whole interface of the panel: the root folder chooser and its path, the number field,
// the error line, "Open Folder", the recent dockets and the conflict dialog. It owns the
// program's model and controller; what it shows follows the model and the open flow's state,
// and its controls only forward to them.
class ContentView : public QWidget {
    Q_OBJECT
public:
    // Lookups read the folders under the root through `openDirectory`.
    ContentView(FolderModelServices services, std::shared_ptr<DesktopOpener> opener,
                OpenDirectory openDirectory = ::openDirectory, QWidget* parent = nullptr);
    ~ContentView() override;

    const std::shared_ptr<FolderModel>& model() const { return m_model; }
    const OpenFlow& flow() const { return m_flow; }
    const FolderController& controller() const { return *m_controller; }

    bool isSelectingRoot() const { return m_isSelectingRoot; }

    // Where no tray shows the icon, the panel says how to bring it back once closed, and
    // offers "Keyboard Shortcut…".
    void setTrayMissing(bool missing);

    // What became of "Keyboard Shortcut…": shown until the panel has closed twice, so that it
    // is still there after a trip to the desktop's settings. An empty line clears it.
    void setShortcutNote(const QString& line, bool failed);

    // How long a lookup, or the root's check, may wait for the file server before the panel
    // says that it does not answer (and gives the lookup up).
    static constexpr std::chrono::milliseconds notAnsweringDelay{10000};
    // A shorter wait, for tests.
    void setNotAnsweringDelay(std::chrono::milliseconds delay);
    // The folder chooser, while it is up.
    QFileDialog* folderChooser() const { return m_chooser; }

Q_SIGNALS:
    void folderChooserShown();
    // After the chooser's outcome has been handed on.
    void folderChooserClosed();
    // The panel's "Keyboard Shortcut…", offered where there is no tray and so no menu.
    void keyboardShortcutRequested();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildInterface();
    void scheduleRefresh();
    void refresh();
    void orderTabChain();
    void focusNumberField();

    void submitNumber();
    void pressOpenFolder();
    void reopenRecent(const RecentDocket& docket);
    void clearRecents();
    void chooseConflict(const ConflictChoice& choice);
    void selectRootFolder();
    void takeChosenFolder(const std::filesystem::path& location);
    void showChooserOutcome(const QString& note, bool refused);
    void lookupStarted();
    void lookupAnswered();
    void stopSearchingIndicator();

    // Declared first: the model and the controller hand their answers back through it.
    std::shared_ptr<QtMainThread> m_mainThread;
    std::shared_ptr<FolderModel> m_model;
    std::shared_ptr<FolderController> m_controller;
    OpenFlow m_flow;
    bool m_isSelectingRoot = false;
    bool m_refreshPending = false;

    QScrollArea* m_scroller = nullptr;
    QWidget* m_body = nullptr;
    QPushButton* m_selectRootButton = nullptr;
    ElidedLabel* m_rootPath = nullptr;
    QLabel* m_rootStatus = nullptr;
    QLabel* m_noRootNote = nullptr;
    // Why a chosen folder was refused, or what it looks like when it may be the wrong one.
    QLabel* m_chooserNote = nullptr;
    QLineEdit* m_numberField = nullptr;
    LiveLabel* m_errorLine = nullptr;
    QPushButton* m_openButton = nullptr;
    QLabel* m_searching = nullptr;
    QFrame* m_divider = nullptr;
    QLabel* m_recentsHeader = nullptr;
    RecentsList* m_recents = nullptr;
    QWidget* m_clearRow = nullptr;
    QPushButton* m_clearButton = nullptr;
    QLabel* m_noRecentsNote = nullptr;
    QWidget* m_trayRow = nullptr;
    QPushButton* m_shortcutButton = nullptr;
    LiveLabel* m_shortcutNote = nullptr;
    // How many more closings of the panel the shortcut's note stays for.
    int m_shortcutNoteClosings = 0;
    ConflictSheet* m_conflictSheet = nullptr;
    QFileDialog* m_chooser = nullptr;

    // Shows that a search is running once it has taken more than a moment.
    QTimer m_searchingDelay;
    // Gives a search up once it has waited too long for the file server.
    QTimer m_notAnsweringDelay;
    // The same patience for the root's check: past it, the root's share is said not to answer.
    QTimer m_rootCheckPatience;
    bool m_rootCheckOverdue = false;

    Connection m_modelChanges;
    Connection m_focusRequests;
};
