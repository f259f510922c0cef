#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

// A desktop notification service for tests, on a private session bus of its own (a dbus-daemon
// that can activate nothing, so no real service ever answers). The service object lives on a
// connection of the test's process and records every Notify call; told to hang, it takes calls
// and never answers them. Call order: start(), then client() for the code under test and
// registerService() whenever a service is to be there.
class NotificationService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call
    {
        uint id;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
    };

    NotificationService();
    ~NotificationService() override;

    // Starts the bus; false with the reason when it does not start.
    bool start(QString *whyNot);
    QByteArray address() const { return m_address; }
    // A connection of its own to the bus, for the code under test.
    QDBusConnection client() const;
    // Puts the service on the bus, unless it is there already.
    bool registerService();

    void setHanging(bool hanging) { m_hanging = hanging; }
    const QList<Call> &calls() const { return m_calls; }
    // The user chose `action` on notification `id`.
    void invokeAction(uint id, const QString &action) { Q_EMIT ActionInvoked(id, action); }

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
                const QString &summary, const QString &body, const QStringList &actions,
                const QVariantMap &hints, int expireTimeout, const QDBusMessage &message);
    QStringList GetCapabilities();

Q_SIGNALS:
    void ActionInvoked(uint id, const QString &actionKey);

private:
    QTemporaryDir m_dir;
    QProcess m_bus;
    QByteArray m_address;
    bool m_hanging = false;
    QList<Call> m_calls;
};
