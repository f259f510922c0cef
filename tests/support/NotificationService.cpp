#include "NotificationService.h"

#include "ProcessTestSupport.h"

#include <QFile>

#include <csignal>
#include <sys/prctl.h>

namespace {

const QString ServiceConnection = QStringLiteral("velmora-test-notification-service");
const QString ClientConnection = QStringLiteral("velmora-test-notification-client");

} // namespace

NotificationService::NotificationService() = default;

NotificationService::~NotificationService()
{
    QDBusConnection::disconnectFromBus(ClientConnection);
    QDBusConnection::disconnectFromBus(ServiceConnection);
    m_bus.kill();
    m_bus.waitForFinished();
}

bool NotificationService::start(QString *whyNot)
{
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    if (!config.open(QIODevice::WriteOnly) ||
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                    "<auth>EXTERNAL</auth><policy context=\"default\">"
                                    "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                                    "<allow own=\"*\"/></policy>"
                                    "</busconfig>")
                         .arg(m_dir.path())
                         .toUtf8()) < 0) {
        *whyNot = QStringLiteral("cannot write the bus configuration");
        return false;
    }
    config.close();
    m_bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_bus.start(QStringLiteral("dbus-daemon"),
                {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                 QStringLiteral("--nopidfile"), QStringLiteral("--print-address=1")});
    m_address = ProcessTestSupport::readFirstLine(m_bus, ProcessTestSupport::Patience);
    if (m_address.isEmpty()) {
        *whyNot = QStringLiteral("dbus-daemon did not start: ") + m_bus.errorString();
        return false;
    }
    return QDBusConnection::connectToBus(QString::fromUtf8(m_address), ServiceConnection)
        .isConnected();
}

QDBusConnection NotificationService::client() const
{
    return QDBusConnection::connectToBus(QString::fromUtf8(m_address), ClientConnection);
}

bool NotificationService::registerService()
{
    QDBusConnection bus(ServiceConnection);
    if (bus.objectRegisteredAt(QStringLiteral("/org/freedesktop/Notifications")) == this)
        return true;
    return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                              QDBusConnection::ExportAllSlots |
                                  QDBusConnection::ExportAllSignals) &&
           bus.registerService(QStringLiteral("org.freedesktop.Notifications"));
}

uint NotificationService::Notify(const QString &, uint, const QString &, const QString &summary,
                                 const QString &body, const QStringList &actions,
                                 const QVariantMap &hints, int, const QDBusMessage &message)
{
    const uint id = uint(m_calls.size()) + 1;
    m_calls.append({id, summary, body, actions, hints});
    if (m_hanging)
        message.setDelayedReply(true); // and never answered
    return id;
}

QStringList NotificationService::GetCapabilities()
{
    return {QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")};
}
