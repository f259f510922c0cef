// "Keep running when the launcher closes" through whole windows: Start starts a host of its own
// (velmora-server, a real process), closing leaves it running, and later windows attach to it.
#include "HostClient.h"
#include "HostTestSupport.h"
#include "ServerTestSupport.h"
#include "ui_Launcher.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QMainWindow>
#include <QProcess>

using namespace LauncherFixture;
using namespace ServerTestSupport;

class KeepRunningTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void serverOutlivesTheWindow();
    void startFindsAHostStartedElsewhere();
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
    QCheckBox *keep = first->interface->ui().keepRunningCheck;
    QVERIFY(keep->isChecked());
    QCOMPARE(keep->accessibleName(), QStringLiteral("Keep running when the launcher closes"));
    first->launcher()->multiplayerAction();
    QVERIFY(first->launcher()->isStartingHost());
    QVERIFY(waitForLine(*first, ReadyLine));
    QVERIFY(first->launcher()->host());
    QCOMPARE(title(*first), QStringLiteral("Stop"));
    QVERIFY(!keep->isEnabled());
    QCOMPARE(first->interface->ui().serverCloseNote->text(),
             QStringLiteral("Closing the launcher leaves the server running."));
    const pid_t pid = first->launcher()->server();
    QVERIFY(pid > 0);
    QCOMPARE(first->launcher()->activeRunCount(), 0); // not this process's server

    const QStringList shown = lines(*first);
    first->interface->window()->close();
    QCOMPARE(first->terminateCalls, 1);
    QVERIFY(lines(*first).last().startsWith(QStringLiteral("The server keeps running")));
    first.reset();
    QTest::qWait(300);
    QVERIFY(!processDead(pid));

    // A later window attaches to it: the rows as they stood, Stop, the command line.
    auto second = openWindow(exe);
    QTRY_COMPARE_WITH_TIMEOUT(title(*second), QStringLiteral("Stop"), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(lines(*second), shown, Patience);
    QCOMPARE(second->launcher()->server(), pid);
    typeCommand(*second, QStringLiteral("say from two"));
    QVERIFY(waitForLine(*second, QStringLiteral("Console: from two")));
    QCOMPARE(commandLine(*second)->text(), QString());
    // Open Log opens the host's log.
    const QString log = second->launcher()->logToOpen();
    QVERIFY2(log.startsWith(runtime.path(QStringLiteral("state"))), qPrintable(log));

    second->launcher()->multiplayerAction();
    QTRY_VERIFY_WITH_TIMEOUT(!second->launcher()->host(), Patience);
    QCOMPARE(title(*second), QStringLiteral("Start"));
    QCOMPARE(lines(*second).last(), Separator);
    QCOMPARE(second->launcher()->server(), pid_t(-1));
    QVERIFY(QTest::qWaitFor([&] { return processDead(pid); }, Patience));
}

void KeepRunningTest::startFindsAHostStartedElsewhere()
{
    HostTestSupport::PrivateRuntime runtime;
    QTemporaryDir folder;
    const QString exe = makeLauncherFolder(folder.path());
    clearPreferences();
    storePreferences({{QStringLiteral("server_options"), "--commands"}});
    auto w = openWindow(exe);
    const QString host = QFileInfo(exe).path() + QStringLiteral("/velmora-server");
    QCOMPARE(QProcess::execute(host, {QStringLiteral("start"), QStringLiteral("--detached")}), 0);
    // Start, with the check box off: no second server, the one that runs is shown.
    w->launcher()->multiplayerAction();
    QCOMPARE(w->launcher()->activeRunCount(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Stop"), Patience);
    QVERIFY(w->launcher()->host());
    QVERIFY(waitForLine(*w, ReadyLine));
    QCOMPARE(QProcess::execute(host, {QStringLiteral("stop")}), 0);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
}

VELMORA_LAUNCHER_TEST_MAIN(KeepRunningTest)
#include "tst_keeprunning.moc"
