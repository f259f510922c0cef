#include "DesktopNotifier.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString Path = QStringLiteral("/org/freedesktop/Notifications");
const QString ActionKey = QStringLiteral("default");
// Enough to find the notification whose action the user chose among those still on screen.
constexpr int RememberedIds = 16;

} // namespace

DesktopNotifier::DesktopNotifier(QObject *parent) : QObject(parent) {}

DesktopNotifier::DesktopNotifier(const QDBusConnection &bus, QObject *parent)
    : QObject(parent), m_bus(std::make_unique<QDBusConnection>(bus))
{}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::setActionLabel(const QString &label)
{
    m_actionLabel = label;
}

void DesktopNotifier::setDesktopEntry(const QString &name)
{
    m_desktopEntry = name;
}

void DesktopNotifier::setReplyTimeout(int milliseconds)
{
    m_replyTimeoutMs = milliseconds;
}

bool DesktopNotifier::connectBus()
{
    if (m_connected)
        return true;
    if (!m_bus)
        m_bus = std::make_unique<QDBusConnection>(QDBusConnection::sessionBus());
    if (!m_bus->isConnected())
        return false;
    m_connected = true;
    m_bus->connect(Service, Path, Service, QStringLiteral("ActionInvoked"), this,
                   SLOT(onActionInvoked(uint, QString)));
    // Asked once, without waiting; until it answers the body is written as markup.
    auto *capabilities = new QDBusPendingCallWatcher(
        m_bus->asyncCall(QDBusMessage::createMethodCall(Service, Path, Service,
                                                        QStringLiteral("GetCapabilities")),
                         m_replyTimeoutMs),
        this);
    connect(capabilities, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *call) {
                const QDBusPendingReply<QStringList> reply = *call;
                if (reply.isValid())
                    m_bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
                call->deleteLater();
            });
    return true;
}

void DesktopNotifier::notify(const QString &summary, const QString &body)
{
    // A service that does not answer is not asked again and again.
    if (m_pending >= MaxPending || !connectBus())
        return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(Service, Path, Service, QStringLiteral("Notify"));
    QStringList actions;
    if (!m_actionLabel.isEmpty())
        actions << ActionKey << m_actionLabel;
    QVariantMap hints;
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(1)));
    if (!m_desktopEntry.isEmpty())
        hints.insert(QStringLiteral("desktop-entry"), m_desktopEntry);
    call << QCoreApplication::applicationName() << uint(0) << m_desktopEntry << summary
         << (m_bodyMarkup ? body.toHtmlEscaped() : body) << actions << hints << int(-1);
    ++m_pending;
    auto *watcher = new QDBusPendingCallWatcher(m_bus->asyncCall(call, m_replyTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher *answered) {
                --m_pending;
                const QDBusPendingReply<uint> reply = *answered;
                if (reply.isValid()) {
                    m_shown.append(reply.value());
                    if (m_shown.size() > RememberedIds)
                        m_shown.removeFirst();
                }
                answered->deleteLater();
            });
}

void DesktopNotifier::onActionInvoked(uint id, const QString &action)
{
    // The service tells every client of every action: only ours count.
    if (action == ActionKey && m_shown.contains(id))
        Q_EMIT actionInvoked();
}
