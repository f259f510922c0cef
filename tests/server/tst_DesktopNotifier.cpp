// Desktop notifications over a private session bus: without a service, with one that never
// answers, and with one that shows them and reports the user's choice of action.
#include "DesktopNotifier.h"
#include "NotificationService.h"

#include <QSignalSpy>
#include <QTest>

namespace {
constexpr int Patience = 30000;
}

class DesktopNotifierTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void noServiceNeverWaits();
    void hangingServiceNeverWaits();
    void notifiesAndReportsItsOwnAction();

private:
    NotificationService m_service;
};

void DesktopNotifierTest::initTestCase()
{
    QString whyNot;
    QVERIFY2(m_service.start(&whyNot), qPrintable(whyNot));
}

void DesktopNotifierTest::noServiceNeverWaits()
{
    DesktopNotifier notifier(m_service.client());
    notifier.notify(QStringLiteral("crashed"), QStringLiteral("status 3"));
    QCOMPARE(notifier.pendingCalls(), 1); // on its way, not waited for
    QTRY_COMPARE_WITH_TIMEOUT(notifier.pendingCalls(), 0, Patience);
}

void DesktopNotifierTest::hangingServiceNeverWaits()
{
    QVERIFY(m_service.registerService());
    m_service.setHanging(true);
    DesktopNotifier notifier(m_service.client());
    notifier.setReplyTimeout(500);
    for (int i = 0; i < DesktopNotifier::MaxPending + 2; ++i)
        notifier.notify(QStringLiteral("crashed %1").arg(i), QString());
    QCOMPARE(notifier.pendingCalls(), DesktopNotifier::MaxPending);
    // The calls beyond the limit were dropped, not queued; the others time out.
    QTRY_COMPARE_WITH_TIMEOUT(m_service.calls().size(), DesktopNotifier::MaxPending, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(notifier.pendingCalls(), 0, Patience);
    m_service.setHanging(false);
    notifier.notify(QStringLiteral("again"), QString());
    QTRY_COMPARE_WITH_TIMEOUT(m_service.calls().last().summary, QStringLiteral("again"), Patience);
}

void DesktopNotifierTest::notifiesAndReportsItsOwnAction()
{
    QVERIFY(m_service.registerService());
    DesktopNotifier notifier(m_service.client());
    notifier.setActionLabel(QStringLiteral("Show server"));
    notifier.setDesktopEntry(QStringLiteral("velmora-launcher"));
    QSignalSpy chosen(&notifier, &DesktopNotifier::actionInvoked);
    const qsizetype before = m_service.calls().size();
    notifier.notify(QStringLiteral("The server “A & B” crashed"), QStringLiteral("<status> & 3"));
    QTRY_COMPARE_WITH_TIMEOUT(notifier.pendingCalls(), 0, Patience);
    QCOMPARE(m_service.calls().size(), before + 1);
    const NotificationService::Call call = m_service.calls().last();
    QCOMPARE(call.summary, QStringLiteral("The server “A & B” crashed"));
    QCOMPARE(call.body, QStringLiteral("&lt;status&gt; &amp; 3")); // the service reads markup
    QCOMPARE(call.actions, (QStringList{"default", "Show server"}));
    QCOMPARE(call.hints.value(QStringLiteral("desktop-entry")).toString(),
             QStringLiteral("velmora-launcher"));

    // Another program's notification, and another action, are not ours.
    m_service.invokeAction(call.id + 100, QStringLiteral("default"));
    m_service.invokeAction(call.id, QStringLiteral("other"));
    m_service.invokeAction(call.id, QStringLiteral("default"));
    QTRY_COMPARE_WITH_TIMEOUT(chosen.size(), 1, Patience);
    QTest::qWait(100);
    QCOMPARE(chosen.size(), 1);
}

QTEST_GUILESS_MAIN(DesktopNotifierTest)
#include "tst_DesktopNotifier.moc"
