#include "NotificationService.h"

#include "ProcessTestSupport.h"

#include <QFile>

#include <csignal>
#include <sys/prctl.h>

NotificationService::~NotificationService()
{
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    m_bus.kill();
    m_bus.waitForFinished();
}

bool NotificationService::start()
{
    QFile config(m_dir.filePath(QStringLiteral("bus.conf")));
    config.open(QIODevice::WriteOnly);
    config.write(
        "<busconfig><type>session</type><listen>unix:dir=" + QFile::encodeName(m_dir.path()) +
        "</listen><policy context=\"default\"><allow send_destination=\"*\"/>"
        "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>");
    config.close();
    m_bus.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_bus.start(QStringLiteral("dbus-daemon"), {"--config-file=" + config.fileName(), "--nofork",
                                                "--nopidfile", "--print-address=1"});
    m_address = ProcessTestSupport::readFirstLine(m_bus, ProcessTestSupport::Patience);
    return QDBusConnection::connectToBus(QString::fromUtf8(m_address), QStringLiteral("service"))
        .isConnected();
}

QDBusConnection NotificationService::client() const
{
    return QDBusConnection::connectToBus(QString::fromUtf8(m_address), QStringLiteral("client"));
}

bool NotificationService::registerService()
{
    QDBusConnection bus(QStringLiteral("service"));
    const QString path = QStringLiteral("/org/freedesktop/Notifications");
    return bus.objectRegisteredAt(path) == this ||
           (bus.registerObject(path, this, QDBusConnection::ExportAllContents) &&
            bus.registerService(QStringLiteral("org.freedesktop.Notifications")));
}

uint NotificationService::Notify(const QString &, uint, const QString &, const QString &summary,
                                 const QString &body, const QStringList &actions,
                                 const QVariantMap &hints, int, const QDBusMessage &message)
{
    calls.append({uint(calls.size()) + 1, summary, body, actions, hints});
    message.setDelayedReply(hanging); // and never answered
    return calls.last().id;
}
