// Desktop notifications over a private session bus: without a service, with one that never
// answers, and with one that shows them and reports the user's choice of action.
#include "DesktopNotifier.h"
#include "NotificationService.h"

#include <QSignalSpy>
#include <QTest>

class DesktopNotifierTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void neverWaitsAndReportsItsOwnAction();
};

void DesktopNotifierTest::neverWaitsAndReportsItsOwnAction()
{
    NotificationService service;
    QVERIFY(service.start());
    DesktopNotifier notifier(service.client());
    notifier.setReplyTimeout(500);
    notifier.notify("no service yet", QString());
    QCOMPARE(notifier.pendingCalls(), 1); // on its way, not waited for
    QTRY_COMPARE_WITH_TIMEOUT(notifier.pendingCalls(), 0, 30000);

    // A service that never answers: the calls beyond the limit are dropped, the others time out.
    QVERIFY(service.registerService());
    service.hanging = true;
    for (int i = 0; i < DesktopNotifier::MaxPending + 2; ++i)
        notifier.notify(QString::number(i), QString());
    QCOMPARE(notifier.pendingCalls(), DesktopNotifier::MaxPending);
    QTRY_COMPARE_WITH_TIMEOUT(notifier.pendingCalls(), 0, 30000);
    QCOMPARE(service.calls.size(), DesktopNotifier::MaxPending);

    service.hanging = false;
    notifier.setActionLabel("Show server");
    notifier.setDesktopEntry("velmora-launcher");
    QSignalSpy chosen(&notifier, &DesktopNotifier::actionInvoked);
    notifier.notify("The server “A & B” crashed", "<status> & 3");
    QTRY_COMPARE_WITH_TIMEOUT(notifier.pendingCalls(), 0, 30000);
    const NotificationService::Call call = service.calls.last();
    QCOMPARE(call.summary, "The server “A & B” crashed");
    QCOMPARE(call.body, "&lt;status&gt; &amp; 3"); // the service reads markup
    QCOMPARE(call.actions, (QStringList{"default", "Show server"}));
    QCOMPARE(call.hints.value("desktop-entry").toString(), "velmora-launcher");
    // Another program's notification, and another action, are not ours.
    Q_EMIT service.ActionInvoked(call.id + 1, "default");
    Q_EMIT service.ActionInvoked(call.id, "other");
    Q_EMIT service.ActionInvoked(call.id, "default");
    QTRY_COMPARE_WITH_TIMEOUT(chosen.size(), 1, 30000);
}

QTEST_GUILESS_MAIN(DesktopNotifierTest)
#include "tst_DesktopNotifier.moc"
