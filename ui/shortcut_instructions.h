#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;

// How to give Zorvant a keyboard shortcut by hand, on a desktop where a program cannot set
// one up itself: where the desktop's shortcut settings are, and the command to bind, ready to
// copy.
class ShortcutInstructions : public QDialog {
    Q_OBJECT
public:
    // currentDesktop: XDG_CURRENT_DESKTOP, which picks the desktop's own steps; every
    // desktop's are listed when it names none Zorvant knows.
    ShortcutInstructions(const QString& currentDesktop, const QString& command,
                         QWidget* parent = nullptr);

    // The steps shown for the desktop, one per line.
    static QString stepsFor(const QString& currentDesktop);

private:
    QLineEdit* m_command = nullptr;
};
