#include "support/desktop_portal.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include "support/tray_host.h"

namespace {

constexpr int timeoutMs = 10000;

} // namespace

DesktopPortal::DesktopPortal()
    : m_bus(QStringLiteral("desktop-portal")), m_address(m_bus.address()),
      m_connectionName(m_bus.connectionName()) {}

DesktopPortal::~DesktopPortal() {
    stop();
}

void DesktopPortal::start(const QStringList& options) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), m_address);
    m_portal.setProcessEnvironment(environment);
    m_portal.start(QStringLiteral("/usr/bin/python3"),
                   QStringList{QStringLiteral(ZORVANT_PORTAL_SCRIPT)} + options);
    // It says so once it has its name on the bus.
    while (m_portal.waitForReadyRead(timeoutMs) && !m_portal.canReadLine()) {
    }
    m_portal.readLine();
}

void DesktopPortal::stop() {
    if (m_portal.state() == QProcess::NotRunning)
        return;
    m_portal.terminate();
    m_portal.waitForFinished(timeoutMs);
}

void DesktopPortal::reset() {
    control(QStringLiteral("Reset"));
}

void DesktopPortal::rememberBinding(const QString& id, const QString& trigger) {
    control(QStringLiteral("RememberBinding"), {id, trigger});
}

QJsonArray DesktopPortal::calls(const QString& method) {
    const QByteArray json = control(QStringLiteral("Calls")).arguments().value(0).toByteArray();
    QJsonArray found;
    for (const QJsonValue call : QJsonDocument::fromJson(json).array()) {
        if (method.isEmpty() || call.toObject().value(QStringLiteral("method")) == method)
            found.append(call);
    }
    return found;
}

QStringList DesktopPortal::sessions() {
    return control(QStringLiteral("Sessions")).arguments().value(0).toStringList();
}

void DesktopPortal::setBindAnswer(unsigned response, const QString& trigger, bool hold) {
    control(QStringLiteral("SetBindAnswer"), {response, trigger, hold});
}

void DesktopPortal::answerHeldBind(int index, unsigned response, const QString& trigger) {
    control(QStringLiteral("AnswerHeldBind"), {static_cast<unsigned>(index), response, trigger});
}

void DesktopPortal::holdLists(bool hold) {
    control(QStringLiteral("HoldLists"), {hold});
}

void DesktopPortal::behaveAsPlasma() {
    control(QStringLiteral("BehaveAsPlasma"));
}

void DesktopPortal::setKeyInSettings(const QString& token, const QString& id,
                                     const QString& trigger) {
    control(QStringLiteral("SetKeyInSettings"), {token, id, trigger});
}

QJsonObject DesktopPortal::components() {
    const QByteArray json =
        control(QStringLiteral("Components")).arguments().value(0).toByteArray();
    return QJsonDocument::fromJson(json).object();
}

void DesktopPortal::answerHeldLists() {
    control(QStringLiteral("AnswerHeldLists"));
}

void DesktopPortal::activate(const QString& session, const QString& id, const QString& token) {
    control(QStringLiteral("Activate"), {session, id, qulonglong(1234), token});
}

void DesktopPortal::closeSession(const QString& session) {
    control(QStringLiteral("CloseSession"), {session});
}

QDBusMessage DesktopPortal::control(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/control"),
        QStringLiteral("org.zorvant.test.PortalControl"), method);
    message.setArguments(arguments);
    QDBusPendingCall pending = QDBusConnection(m_connectionName).asyncCall(message, timeoutMs);
    waitUntil([&] { return pending.isFinished(); });
    return pending.reply();
}
