// How runs end: by themselves, by kill, by being destroyed, with the launcher; reaping, draining
// after a kill, one read per request, runs that overlap, the whole group, and the exit status.
#include "ChildWatch.h"
#include "ProcessTestSupport.h"
#include "PtyReader.h"
#include "ServerRun.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

using namespace ProcessTestSupport;

Q_DECLARE_METATYPE(ExitStatus)

namespace {

bool isOurUnreapedChild(pid_t pid)
{
    return childProcesses().contains(pid);
}

// The process ids a run's helpers announced with "<role> <pid>" lines.
QList<pid_t> announcedPids(const QString &text, const QString &role)
{
    QList<pid_t> pids;
    for (const QString &line : text.split(QStringLiteral("\r\n"))) {
        const QStringList words = line.split(u' ');
        if (words.size() == 2 && words.at(0) == role)
            pids << pid_t(words.at(1).toInt());
    }
    return pids;
}

} // namespace

class TestServerRunLifecycle : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void serverEndingByItself();
    void oneReadPerRequest();
    void outputWrittenBeforeKillIsStillRead();
    void floodIsDrainedAfterKillWithoutStarvingTheLoop();
    void killReachesOnlyUnreapedChildren_data();
    void killReachesOnlyUnreapedChildren();
    void overlappingRunsReportOnlyTheirOwnReads();
    void destroyedRunIsStillReaped_data();
    void destroyedRunIsStillReaped();
    void manyCyclesLeaveNoZombieOrDescriptor_data();
    void manyCyclesLeaveNoZombieOrDescriptor();
    void killEndsTheWholeGroup_data();
    void killEndsTheWholeGroup();
    void exitStatus_data();
    void exitStatus();
    void serverDiesWithTheLauncher();

private:
    QByteArray script(const QString &name, const QByteArray &body)
    {
        return QFile::encodeName(writeScript(m_dir.path(), name, body));
    }
    QByteArray file(const QString &name) const { return QFile::encodeName(m_dir.filePath(name)); }

    QTemporaryDir m_dir;
};

void TestServerRunLifecycle::init()
{
    QVERIFY(m_dir.isValid());
}

void TestServerRunLifecycle::cleanup()
{
    ChildWatch::setPidfdAllowed(true);
}

void TestServerRunLifecycle::serverEndingByItself()
{
    const QByteArray path = script("ends", "echo hello\nexit 3\n");
    ServerRun run;
    RunLog log(&run, true, false);
    QVERIFY(run.start(path, {path}, "/") > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.ends == 1 && run.exitStatus(), Patience);
    QCOMPARE(log.text, QStringLiteral("hello\r\n"));
    QCOMPARE(log.failures, 0);

    // Ended but still open: neither reaped nor finished until the owner closes the output.
    QCoreApplication::processEvents();
    QCOMPARE(log.finishes, 0);
    QVERIFY(!run.isReaped());
    run.closeOutput();
    QTRY_COMPARE_WITH_TIMEOUT(log.finishes, 1, Patience);
    run.closeOutput();
    run.kill();
    QCoreApplication::processEvents();
    QCOMPARE(log.finishes, 1);
}

void TestServerRunLifecycle::oneReadPerRequest()
{
    const QByteArray go = file("go");
    const QByteArray path =
        script("two", "echo one\nwhile [ ! -e '" + go + "' ]; do sleep 0.01; done\necho two\n");
    ServerRun run;
    RunLog log(&run, false);
    QVERIFY(run.start(path, {path}, "/") > 0);
    run.readInBackgroundAndNotify();
    run.readInBackgroundAndNotify();
    QTRY_COMPARE_WITH_TIMEOUT(log.reads, 1, Patience);
    QCOMPARE(log.text, QStringLiteral("one\r\n"));

    // "two" is written and the child gone, but nothing was requested after the first chunk.
    QVERIFY(QFile(QString::fromLocal8Bit(go)).open(QIODevice::WriteOnly));
    QTRY_VERIFY_WITH_TIMEOUT(run.exitStatus(), Patience);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(log.reads, 1);
    QCOMPARE(log.ends, 0);

    run.readInBackgroundAndNotify();
    QTRY_COMPARE_WITH_TIMEOUT(log.reads, 2, Patience);
    QCOMPARE(log.text, QStringLiteral("one\r\ntwo\r\n"));
    run.readInBackgroundAndNotify();
    QTRY_COMPARE_WITH_TIMEOUT(log.ends, 1, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(log.finishes, 1, Patience);
}

void TestServerRunLifecycle::outputWrittenBeforeKillIsStillRead()
{
    const QByteArray ready = file("ready");
    const QByteArray path =
        script("writer", "i=0\nwhile [ $i -lt 100 ]; do echo \"line $i\"; i=$((i+1)); done\n"
                         ": > '" +
                             ready + "'\nexec sleep 1000\n");
    ServerRun run;
    RunLog log(&run);
    QVERIFY(run.start(path, {path}, "/") > 0);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromLocal8Bit(ready)), Patience);

    run.kill();
    QTRY_VERIFY_WITH_TIMEOUT(run.exitStatus(), Patience);
    run.kill();

    run.readInBackgroundAndNotify();
    QTRY_COMPARE_WITH_TIMEOUT(log.finishes, 1, Patience);
    QCOMPARE(log.failures, 0);
    QCOMPARE(log.ends, 1);
    QString expected;
    for (int i = 0; i < 100; ++i)
        expected += QStringLiteral("line %1\r\n").arg(i);
    QCOMPARE(log.text, expected);
}

void TestServerRunLifecycle::floodIsDrainedAfterKillWithoutStarvingTheLoop()
{
    const QByteArray path = script("flood", "while :; do echo flood; done\n");
    ServerRun run;
    RunLog log(&run);
    qsizetype largest = 0;
    connect(&run, &ServerRun::readCompleted, this,
            // The flood is ASCII: one character per byte read.
            [&largest](ServerRun *, const QString &text, ServerRun::Read) {
                largest = qMax(largest, text.size());
            });
    QVERIFY(run.start(path, {path}, "/") > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.reads >= 3, Patience);

    // Posted work still runs while every chunk re-arms the read at once.
    bool otherWorkRan = false;
    QTimer::singleShot(0, this, [&otherWorkRan] { otherWorkRan = true; });
    const int readsBefore = log.reads;
    QTRY_VERIFY_WITH_TIMEOUT(otherWorkRan, Patience);
    QVERIFY(log.ends == 0);

    run.kill();
    QTRY_COMPARE_WITH_TIMEOUT(log.finishes, 1, Patience);
    QVERIFY(log.reads >= readsBefore);
    QCOMPARE(log.ends, 1);
    QCOMPARE(log.failures, 0);
    QVERIFY(largest <= PtyReader::ChunkSize);
    QVERIFY(log.text.startsWith(QStringLiteral("flood\r\nflood\r\n")));
    QVERIFY(!log.text.contains(QChar::ReplacementCharacter));
}

void TestServerRunLifecycle::killReachesOnlyUnreapedChildren_data()
{
    QTest::addColumn<bool>("pidfd");
    QTest::newRow("pidfd") << true;
    QTest::newRow("polling") << false;
}

void TestServerRunLifecycle::killReachesOnlyUnreapedChildren()
{
    QFETCH(bool, pidfd);
    ChildWatch::setPidfdAllowed(pidfd);

    const pid_t quick = ::fork();
    if (quick == 0)
        ::_exit(0);
    QVERIFY(quick > 0);
    {
        ChildWatch watch(quick);
        QCOMPARE(watch.usesPidfd(), pidfd);
        QTRY_VERIFY_WITH_TIMEOUT(watch.isReaped(), Patience);
        QVERIFY(!watch.sendKill());
        errno = 0;
        QCOMPARE(::waitpid(quick, nullptr, WNOHANG), pid_t(-1));
        QCOMPARE(errno, ECHILD);
    }

    const pid_t waiting = ::fork();
    if (waiting == 0) {
        ::pause();
        ::_exit(0);
    }
    QVERIFY(waiting > 0);
    ChildWatch watch(waiting);
    int reaps = 0;
    connect(&watch, &ChildWatch::reaped, this, [&reaps] { ++reaps; });
    QVERIFY(!watch.tryReap());
    QVERIFY(watch.sendKill());
    QTRY_VERIFY_WITH_TIMEOUT(watch.isReaped(), Patience);
    QCOMPARE(reaps, 1);
    QVERIFY(!watch.sendKill());
    QVERIFY(!isOurUnreapedChild(waiting));
}

void TestServerRunLifecycle::overlappingRunsReportOnlyTheirOwnReads()
{
    // The first run's output outlives its killed process group: a background helper in a session
    // of its own keeps the terminal open until told to write its last line.
    const QByteArray go = file("late-go");
    const QByteArray first =
        script("first", "setsid sh -c 'echo A-start; while [ ! -e \"$1\" ]; do sleep 0.01; done; "
                        "echo A-late' sh '" +
                            go + "' &\nexec sleep 1000\n");
    const QByteArray second = script("second", "echo B-out\nexec sleep 1000\n");
    auto cleanupHelper =
        qScopeGuard([&go] { QFile(QString::fromLocal8Bit(go)).open(QIODevice::WriteOnly); });

    ServerRun a;
    RunLog logA(&a);
    QVERIFY(a.start(first, {first}, "/") > 0);
    a.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(logA.text.contains("A-start"), Patience);
    a.kill();
    QTRY_VERIFY_WITH_TIMEOUT(a.exitStatus(), Patience);
    QCOMPARE(logA.ends, 0);

    ServerRun b;
    RunLog logB(&b);
    QVERIFY(b.start(second, {second}, "/") > 0);
    b.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(logB.text.contains("B-out"), Patience);

    QVERIFY(QFile(QString::fromLocal8Bit(go)).open(QIODevice::WriteOnly));
    QTRY_COMPARE_WITH_TIMEOUT(logA.finishes, 1, Patience);
    QCOMPARE(logA.ends, 1);
    QCOMPARE(logA.text, QStringLiteral("A-start\r\nA-late\r\n"));
    QCOMPARE(logB.text, QStringLiteral("B-out\r\n"));
    QCOMPARE(logB.ends, 0);
    QVERIFY(!b.isReaped());

    b.kill();
    QTRY_COMPARE_WITH_TIMEOUT(logB.finishes, 1, Patience);
    QCOMPARE(logB.text, QStringLiteral("B-out\r\n"));
    QCOMPARE(logA.foreignReports + logB.foreignReports, 0);
}

void TestServerRunLifecycle::destroyedRunIsStillReaped_data()
{
    killReachesOnlyUnreapedChildren_data();
}

void TestServerRunLifecycle::destroyedRunIsStillReaped()
{
    QFETCH(bool, pidfd);
    ChildWatch::setPidfdAllowed(pidfd);
    const QMap<int, QString> before = openDescriptors();
    const QByteArray path = script("sleeper", "exec sleep 1000\n");

    auto run = std::make_unique<ServerRun>();
    const pid_t pid = run->start(path, {path}, "/");
    QVERIFY(pid > 0);
    run->readInBackgroundAndNotify();
    // Dropping the run hangs up the child's terminal; the child dies of it and is reaped later.
    run.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!isOurUnreapedChild(pid), Patience);
    QTRY_COMPARE_WITH_TIMEOUT(openDescriptors(), before, Patience);
}

void TestServerRunLifecycle::manyCyclesLeaveNoZombieOrDescriptor_data()
{
    QTest::addColumn<bool>("pidfd");
    QTest::addColumn<int>("cycles");
    QTest::newRow("pidfd") << true << 200;
    QTest::newRow("polling") << false << 40;
}

void TestServerRunLifecycle::manyCyclesLeaveNoZombieOrDescriptor()
{
    QFETCH(bool, pidfd);
    QFETCH(int, cycles);
    ChildWatch::setPidfdAllowed(pidfd);
    const QByteArray talker = script("talker", "echo up\nexec sleep 1000\n");
    const QByteArray quitter = script("quitter", "echo bye\n");
    const QMap<int, QString> before = openDescriptors();
    const QMap<pid_t, char> childrenBefore = childProcesses();

    // Waits by qWaitFor, which looks again every 10 ms: QTRY_ looks every 50 ms, which over these
    // cycles would be most of the test's time.
    for (int i = 0; i < cycles; ++i) {
        // Kill before any read, kill after the first chunk, or let the child end by itself.
        const int variant = i % 3;
        const QByteArray &path = variant == 2 ? quitter : talker;
        auto *run = new ServerRun;
        RunLog log(run);
        const pid_t pid = run->start(path, {path}, "/");
        QVERIFY(pid > 0);
        if (variant == 0)
            run->kill();
        run->readInBackgroundAndNotify();
        if (variant == 1) {
            QVERIFY(QTest::qWaitFor([&] { return log.reads > 0; }, Patience));
            run->kill();
        }
        QVERIFY2(QTest::qWaitFor([&] { return log.finishes == 1; }, Patience),
                 qPrintable(QString::number(i)));
        run->kill();
        delete run;
        QCOMPARE(log.failures, 0);
        errno = 0;
        QCOMPARE(::waitpid(pid, nullptr, WNOHANG), pid_t(-1));
        QCOMPARE(errno, ECHILD);
    }
    QCoreApplication::processEvents();
    QCOMPARE(childProcesses(), childrenBefore);
    QCOMPARE(openDescriptors(), before);
}

// Every process of the run's group goes with kill(), also helpers that ignore the hang-up and
// SIGTERM, and also once the server itself has ended while a helper still holds the terminal.
void TestServerRunLifecycle::killEndsTheWholeGroup_data()
{
    QTest::addColumn<bool>("serverExitsFirst");
    QTest::addColumn<bool>("pidfd");
    QTest::newRow("server running") << false << true;
    QTest::newRow("server exited, helpers still printing") << true << true;
    QTest::newRow("server exited, polling") << true << false;
}

void TestServerRunLifecycle::killEndsTheWholeGroup()
{
    QFETCH(bool, serverExitsFirst);
    QFETCH(bool, pidfd);
    ChildWatch::setPidfdAllowed(pidfd);
    const QByteArray helper =
        script("helper", "trap '' HUP TERM\necho \"$1 $$\"\n"
                         "while :; do sleep 0.05; echo \"$1 $$ tick\"; done\n");
    const QByteArray path =
        script("spawner", "trap '' HUP TERM\n'" + helper +
                              "' child &\n"
                              "sh -c \"'" +
                              helper + "' grandchild & exec sleep 1000\" &\n" +
                              (serverExitsFirst ? "exit 0\n" : "exec sleep 1000\n"));
    ServerRun run;
    RunLog log(&run);
    int exits = 0;
    connect(&run, &ServerRun::serverExited, this, [&exits] { ++exits; });
    const pid_t pid = run.start(path, {path}, "/");
    QVERIFY(pid > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(!announcedPids(log.text, "child").isEmpty() &&
                                 !announcedPids(log.text, "grandchild").isEmpty(),
                             Patience);
    const pid_t child = announcedPids(log.text, "child").first();
    const pid_t grandchild = announcedPids(log.text, "grandchild").first();
    QCOMPARE(::getpgid(child), pid);
    QCOMPARE(::getpgid(grandchild), pid);
    if (serverExitsFirst) {
        QTRY_COMPARE_WITH_TIMEOUT(exits, 1, Patience);
        QCOMPARE(run.exitStatus(), std::optional<ExitStatus>(ExitStatus{false, 0}));
        // Kept a zombie while the output flows: its id, and the group's, stay this run's.
        QCOMPARE(childProcesses().value(pid), 'Z');
        const qsizetype before = log.text.size();
        QTRY_VERIFY_WITH_TIMEOUT(log.text.size() > before, Patience);
        QCOMPARE(log.ends, 0);
    }

    run.kill();
    QTRY_COMPARE_WITH_TIMEOUT(log.finishes, 1, Patience);
    QCOMPARE(log.ends, 1);
    QVERIFY(processDead(child));
    QVERIFY(processDead(grandchild));
    QVERIFY(!isOurUnreapedChild(pid));
    QVERIFY(!run.ownExitStatus() == !serverExitsFirst);
}

void TestServerRunLifecycle::exitStatus_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("killed"); // kill() while the server runs
    QTest::addColumn<ExitStatus>("status");
    QTest::addColumn<bool>("own"); // ownExitStatus() tells the same

    QTest::newRow("status 0") << QByteArray("exit 0") << false << ExitStatus{false, 0} << true;
    QTest::newRow("status 3") << QByteArray("exit 3") << false << ExitStatus{false, 3} << true;
    QTest::newRow("status 255") << QByteArray("exit 255") << false << ExitStatus{false, 255}
                                << true;
    QTest::newRow("its own SIGTERM")
        << QByteArray("kill -TERM $$") << false << ExitStatus{true, SIGTERM} << true;
    QTest::newRow("SIGKILL from elsewhere")
        << QByteArray("kill -KILL $$") << false << ExitStatus{true, SIGKILL} << true;
    QTest::newRow("stopped by kill()")
        << QByteArray("exec sleep 1000") << true << ExitStatus{true, SIGKILL} << false;
}

void TestServerRunLifecycle::exitStatus()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, killed);
    QFETCH(ExitStatus, status);
    QFETCH(bool, own);
    const QByteArray path = script("status", "echo up\n" + body + "\n");
    ServerRun run;
    RunLog log(&run, true, false);
    const pid_t pid = run.start(path, {path}, "/");
    QVERIFY(pid > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.reads > 0, Patience);
    if (killed) {
        QVERIFY(!run.exitStatus());
        run.kill();
    }
    QTRY_VERIFY_WITH_TIMEOUT(run.exitStatus() && log.ends == 1, Patience);
    QCOMPARE(*run.exitStatus(), status);
    QCOMPARE(run.ownExitStatus().has_value(), own);
    // Not reaped before the output is closed, and reaped right after.
    QVERIFY(!run.isReaped());
    QCOMPARE(childProcesses().value(pid), 'Z');
    run.closeOutput();
    QVERIFY(run.isReaped());
    QVERIFY(!isOurUnreapedChild(pid));
    QCOMPARE(*run.exitStatus(), status);
    QTRY_COMPARE_WITH_TIMEOUT(log.finishes, 1, Patience);
}

// A launcher that dies without a word (SIGKILL, say) takes its server along: here the launcher
// is a forked copy of this test that starts a server and ends at once.
void TestServerRunLifecycle::serverDiesWithTheLauncher()
{
    const QByteArray pidFile = file("server.pid");
    const QByteArray path =
        script("orphan", "trap '' HUP TERM\necho $$ > '" + pidFile + ".tmp'\nmv '" + pidFile +
                             ".tmp' '" + pidFile + "'\nexec sleep 1000\n");
    const pid_t launcher = ::fork();
    if (launcher == 0) {
        ServerRun run;
        if (run.start(path, {path}, "/") <= 0)
            ::_exit(1);
        while (::access(pidFile.constData(), F_OK) != 0)
            ::usleep(10000);
        // The server holds the terminal's slave; this process ends without closing anything.
        ::_exit(0);
    }
    QVERIFY(launcher > 0);
    int status = 0;
    QCOMPARE(::waitpid(launcher, &status, 0), launcher);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QFile f(QString::fromLocal8Bit(pidFile));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const pid_t server = pid_t(f.readAll().trimmed().toInt());
    QVERIFY(server > 0);
    QTRY_VERIFY_WITH_TIMEOUT(processDead(server), Patience);
}

QTEST_GUILESS_MAIN(TestServerRunLifecycle)
#include "tst_ServerRunLifecycle.moc"
