#include "MutterDisplayModes.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>

#include <algorithm>

namespace {

const QString Service = QStringLiteral("org.gnome.Mutter.DisplayConfig");
const QString Path = QStringLiteral("/org/gnome/Mutter/DisplayConfig");

// serial, monitors, logical monitors, properties.
const QString StateSignature =
    QStringLiteral("ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv}");

// Connector, vendor, product, serial: what identifies a monitor in mutter's replies.
struct MonitorIdentity
{
    QString connector, vendor, product, serial;
    bool operator==(const MonitorIdentity &other) const
    {
        return connector == other.connector && vendor == other.vendor && product == other.product &&
               serial == other.serial;
    }
};

MonitorIdentity readIdentity(const QDBusArgument &arg)
{
    MonitorIdentity identity;
    arg.beginStructure();
    arg >> identity.connector >> identity.vendor >> identity.product >> identity.serial;
    arg.endStructure();
    return identity;
}

struct Monitor
{
    MonitorIdentity identity;
    QList<ModeDescription> modes;
};

QList<Monitor> readMonitors(const QDBusArgument &arg)
{
    QList<Monitor> monitors;
    arg.beginArray();
    while (!arg.atEnd()) {
        Monitor monitor;
        arg.beginStructure();
        monitor.identity = readIdentity(arg);
        arg.beginArray();
        while (!arg.atEnd()) {
            QString id;
            int width = 0;
            int height = 0;
            double refresh = 0.0;
            double preferredScale = 0.0;
            QList<double> supportedScales;
            QVariantMap properties;
            arg.beginStructure();
            arg >> id >> width >> height >> refresh >> preferredScale >> supportedScales >>
                properties;
            arg.endStructure();
            monitor.modes.append(ListedDisplayModes::mode(width, height, refresh));
        }
        arg.endArray();
        QVariantMap properties;
        arg >> properties;
        arg.endStructure();
        monitors.append(monitor);
    }
    arg.endArray();
    return monitors;
}

QList<MonitorIdentity> readShownIdentities(const QDBusArgument &arg)
{
    QList<MonitorIdentity> shown;
    arg.beginArray();
    while (!arg.atEnd()) {
        int x = 0;
        int y = 0;
        double scale = 0.0;
        uint transform = 0;
        bool primary = false;
        arg.beginStructure();
        arg >> x >> y >> scale >> transform >> primary;
        arg.beginArray();
        while (!arg.atEnd())
            shown.append(readIdentity(arg));
        arg.endArray();
        QVariantMap properties;
        arg >> properties;
        arg.endStructure();
    }
    arg.endArray();
    return shown;
}

} // namespace

MutterDisplayModes::MutterDisplayModes(const QDeadlineTimer &deadline)
    : MutterDisplayModes(QDBusConnection::sessionBus(), deadline)
{}

MutterDisplayModes::MutterDisplayModes(const QDBusConnection &bus, const QDeadlineTimer &deadline)
{
    if (!bus.isConnected())
        return;
    const qint64 left = deadline.remainingTime();
    if (left == 0)
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("GetCurrentState"));
    // No auto-start: a desktop without mutter answers at once that nobody owns the name.
    call.setAutoStartService(false);
    const QDBusMessage reply =
        bus.call(call, QDBus::Block, left < 0 ? -1 : static_cast<int>(std::max<qint64>(left, 1)));
    readState(reply);
}

bool MutterDisplayModes::readState(const QDBusMessage &reply)
{
    if (reply.type() != QDBusMessage::ReplyMessage || reply.signature() != StateSignature)
        return false;
    const QList<QVariant> arguments = reply.arguments();
    if (arguments.size() != 4)
        return false;
    const QList<Monitor> monitors = readMonitors(arguments.at(1).value<QDBusArgument>());
    const QList<MonitorIdentity> shown =
        readShownIdentities(arguments.at(2).value<QDBusArgument>());
    for (const Monitor &monitor : monitors) {
        if (shown.contains(monitor.identity))
            addDisplay(monitor.modes);
    }
    setAnswered(true);
    return true;
}
