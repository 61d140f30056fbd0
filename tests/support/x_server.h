#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>

// An X server of the test's own (Xvfb, on a display number nobody else has), for what only
// happens on a real X server: Qt's xcb platform, its XEmbed tray icon, its screen reader
// bridge. The test's own process stays on the offscreen platform; the programs it starts
// join this server through environment().
class XServer {
public:
    // Starts the server and returns once it takes clients.
    XServer();
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    // Whether the server came up and takes clients.
    bool isRunning() const { return !m_display.isEmpty(); }
    QString display() const { return m_display; }

    // The test's environment for a program of this server's: the xcb platform, no desktop and
    // no platform theme of the machine's, and no test results file of its own.
    QProcessEnvironment environment() const;

    // Starts trayer, an XEmbed tray, and returns once it holds the tray's selection; whether
    // it came.
    bool startXEmbedTray();
    // What the tray said on its way, for a test's failure message.
    QString trayOutput();

private:
    QProcess m_server;
    QProcess m_tray;
    QString m_display;
};
