// "Keep running when the launcher closes" through whole windows: Start starts a host of its own
// (velmora-server, a real process), closing leaves it running, and later windows attach to it.
#include "HostTestSupport.h"
#include "ServerTestSupport.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QCheckBox>
#include <QMainWindow>

using namespace LauncherFixture;
using namespace ServerTestSupport;

class KeepRunningTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void serverOutlivesTheWindow();
};

void KeepRunningTest::serverOutlivesTheWindow()
{
    HostTestSupport::PrivateRuntime runtime;
    QTemporaryDir folder;
    const QString exe = makeLauncherFolder(folder.path());
    clearPreferences();
    storePreferences({{QStringLiteral("server_options"), "--commands"},
                      {QStringLiteral("server_keeprunning"), 1}});
    auto first = openWindow(exe);
    auto early = openWindow(exe); // opened before any host runs
    QCheckBox *keep = first->interface->serverUi().keepRunningCheck;
    QVERIFY(keep->isChecked());
    QCOMPARE(keep->accessibleName(), QStringLiteral("Keep running when the launcher closes"));
    first->launcher()->multiplayerAction();
    QVERIFY(first->launcher()->isStartingHost());
    QVERIFY(waitForLine(*first, ReadyLine));
    QVERIFY(first->launcher()->host() && !keep->isEnabled());
    QCOMPARE(title(*first), QStringLiteral("Stop"));
    QCOMPARE(first->interface->serverUi().serverCloseNote->text(),
             QStringLiteral("Closing the launcher leaves the server running."));
    const pid_t pid = first->launcher()->server();
    QCOMPARE(first->launcher()->activeRunCount(), 0); // not this process's server

    // Start in a window that has not seen the host, even with the check box off: no second
    // server, the one that runs is shown.
    storePreferences({{QStringLiteral("server_keeprunning"), 0}});
    early->launcher()->multiplayerAction();
    QCOMPARE(early->launcher()->activeRunCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(early->launcher()->server(), pid, Patience);

    const QStringList shown = lines(*first);
    first->interface->window()->close();
    QCOMPARE(first->terminateCalls, 1);
    QVERIFY(lines(*first).last().startsWith(QStringLiteral("The server keeps running")));
    first.reset();
    QTest::qWait(300);
    QVERIFY(!processDead(pid));

    // A later window attaches to it: the rows as they stood, Stop, the command line; what it
    // sends shows in both attached windows.
    auto second = openWindow(exe);
    QTRY_COMPARE_WITH_TIMEOUT(title(*second), QStringLiteral("Stop"), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(lines(*second), shown, Patience);
    QCOMPARE(second->launcher()->server(), pid);
    typeCommand(*second, QStringLiteral("say from two"));
    QVERIFY(waitForLine(*early, QStringLiteral("Console: from two")));
    QVERIFY(waitForLine(*second, QStringLiteral("Console: from two")));
    // Open Log opens the host's log.
    const QString log = second->launcher()->logToOpen();
    QVERIFY2(log.startsWith(runtime.path(QStringLiteral("state"))), qPrintable(log));

    second->launcher()->multiplayerAction();
    QTRY_VERIFY_WITH_TIMEOUT(!second->launcher()->host() && !early->launcher()->host(), Patience);
    QCOMPARE(title(*early), QStringLiteral("Start"));
    QCOMPARE(lines(*second).last(), Separator);
    QCOMPARE(second->launcher()->server(), pid_t(-1));
    QVERIFY(QTest::qWaitFor([&] { return processDead(pid); }, Patience));
}

VELMORA_LAUNCHER_TEST_MAIN(KeepRunningTest)
#include "tst_keeprunning.moc"
