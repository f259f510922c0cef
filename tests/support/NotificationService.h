#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>

// A desktop notification service for tests, on a private session bus (a dbus-daemon that
// activates nothing). start() starts the bus; registerService() puts the service on it, which
// records every Notify call and, told to hang, never answers them.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        uint id;
        QString summary, body;
        QStringList actions;
        QVariantMap hints;
    };

    ~NotificationService() override;
    bool start();
    QByteArray address() const { return m_address; }
    // A connection of its own to the bus, for the code under test.
    QDBusConnection client() const;
    bool registerService();
    bool hanging = false;
    QList<Call> calls;

public Q_SLOTS:
    uint Notify(const QString &, uint, const QString &, const QString &summary, const QString &body,
                const QStringList &actions, const QVariantMap &hints, int,
                const QDBusMessage &message);
    QStringList GetCapabilities() { return {"actions", "body", "body-markup"}; }

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QByteArray m_address;
};
