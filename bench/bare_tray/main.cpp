// The baseline for Zorvant's startup and memory: a bare Qt tray program of the same shape,
// a tray icon and one hidden 420 × 420 frameless window holding a few widgets, and nothing
// else.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QVBoxLayout>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QWidget panel(nullptr, Qt::Tool | Qt::FramelessWindowHint);
    panel.setFixedSize(420, 420);
    auto* layout = new QVBoxLayout(&panel);
    layout->addWidget(new QPushButton(QStringLiteral("Choose"), &panel));
    layout->addWidget(new QLineEdit(&panel));
    layout->addWidget(new QLabel(QStringLiteral("Ready"), &panel));
    layout->addStretch();

    QSystemTrayIcon icon(QApplication::style()->standardIcon(QStyle::SP_DirIcon));
    icon.show();
    return QApplication::exec();
}
