#pragma once

#include "ServerSession.h"

#include <QObject>
#include <QString>

#include <memory>

class QDBusConnection;

// Tells the desktop through the notification service on the session bus
// (org.freedesktop.Notifications). Nothing here ever waits: each notification is an asynchronous
// call with a bounded wait for its answer, at most MaxPending calls are on their way at once (more
// are dropped while the service does not answer), and no service at all, or no bus, only means
// that nothing is shown.
//
// Connects to the bus at the first notification, never before, so that a program that never
// notifies never touches the bus.
class DesktopNotifier : public QObject, public ServerSession::Notifier
{
    Q_OBJECT
public:
    static constexpr int MaxPending = 4;
    static constexpr int DefaultReplyTimeoutMs = 10000;

    // On the session bus.
    explicit DesktopNotifier(QObject *parent = nullptr);
    // On `bus` (a private one, say).
    explicit DesktopNotifier(const QDBusConnection &bus, QObject *parent = nullptr);
    ~DesktopNotifier() override;

    // The label of the one action each notification offers (actionInvoked() when chosen); none
    // when empty, as for a host with no window to show.
    void setActionLabel(const QString &label);
    // The program's desktop entry (without ".desktop"), whose name and icon the desktop shows
    // with each notification; none by default.
    void setDesktopEntry(const QString &name);
    // How long an answer is waited for before the call counts as lost.
    void setReplyTimeout(int milliseconds);
    // Calls on their way: sent, neither answered nor timed out.
    int pendingCalls() const { return m_pending; }

    void notify(const QString &summary, const QString &body) override;

Q_SIGNALS:
    // The user chose the action of one of our notifications.
    void actionInvoked();

private Q_SLOTS:
    void onActionInvoked(uint id, const QString &action);

private:
    bool connectBus();

    std::unique_ptr<QDBusConnection> m_bus; // set by connectBus() unless given
    bool m_connected = false;
    QString m_actionLabel;
    QString m_desktopEntry;
    int m_replyTimeoutMs = DefaultReplyTimeoutMs;
    int m_pending = 0;
    // Whether the service reads the body as markup; assumed, as most do, until it has said.
    bool m_bodyMarkup = true;
    QList<uint> m_shown; // ids of our recent notifications, newest last
};
