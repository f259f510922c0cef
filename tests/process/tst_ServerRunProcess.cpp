// What the child is given: its argument vector, working directory and descriptors, what happens
// when it cannot be made or cannot be executed, and what it is sent on its terminal.
#include "ProcessTestSupport.h"
#include "PtyWriter.h"
#include "ServerRun.h"
#include "UniqueFd.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

using namespace ProcessTestSupport;

namespace {

int forkPtyCalls = 0;

pid_t failingForkPty(int *, char *, const struct termios *, const struct winsize *)
{
    ++forkPtyCalls;
    errno = EAGAIN;
    return -1;
}

pid_t countingForkPty(int *master, char *name, const struct termios *termp,
                      const struct winsize *winp)
{
    ++forkPtyCalls;
    return ::forkpty(master, name, termp, winp);
}

} // namespace

class TestServerRunProcess : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void argumentsAndDirectoryReachChild_data();
    void argumentsAndDirectoryReachChild();
    void scriptSeesPathArgumentsAndDirectory();
    void missingExecutableReportsThenEnds();
    void forkPtyFailureLeavesNothingOpen();
    void forkPtySeamIsUsedAndRestored();
    void childInheritsOnlyItsTerminal();
    void inputReachesTheChild();
    void writerNeverBlocksAndKeepsOrder();

private:
    QTemporaryDir m_dir;
};

void TestServerRunProcess::init()
{
    forkPtyCalls = 0;
    QVERIFY(m_dir.isValid());
}

void TestServerRunProcess::cleanup()
{
    ServerRun::setForkPty(nullptr);
    qunsetenv("VELMORA_PROBE_OUT");
}

void TestServerRunProcess::argumentsAndDirectoryReachChild_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QByteArrayList>("argv");

    QTest::newRow("plain") << "work" << QByteArrayList{"probe", "-d"};
    QTest::newRow("spaces") << "with space"
                            << QByteArrayList{"zero", "-d", "-nMy Server", "-p two  spaces ",
                                              "   "};
    QTest::newRow("quotes and shell characters")
        << "it's \"q\""
        << QByteArrayList{"zero", "-n'single'", "\"double\"", "back\\slash", "$HOME", "*", "a;b|c"};
    QTest::newRow("non-ASCII") << "Dé ñ 日本"
                               << QByteArrayList{"zéro", "-nServeur à Paris", "-p日本語",
                                                 "tab\there"};
    QTest::newRow("empty arguments kept") << "e" << QByteArrayList{"zero", "", "-d", ""};
}

void TestServerRunProcess::argumentsAndDirectoryReachChild()
{
    QFETCH(QString, directory);
    QFETCH(QByteArrayList, argv);

    const QString workDir = m_dir.filePath(directory);
    QVERIFY(QDir().mkpath(workDir));
    const QString report = m_dir.filePath("report-" + QString::number(argv.size()));
    qputenv("VELMORA_PROBE_OUT", QFile::encodeName(report));

    ServerRun run;
    RunLog log(&run);
    QVERIFY(run.start(PTY_PROBE, argv, QFile::encodeName(workDir)) > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);

    QCOMPARE(log.text, QStringLiteral("probe done\r\n"));
    const ProbeReport r = readProbeReport(report);
    QVERIFY(r.complete);
    QCOMPARE(r.argv, argv);
    QCOMPARE(r.cwd, QFile::encodeName(QFileInfo(workDir).canonicalFilePath()));
}

void TestServerRunProcess::scriptSeesPathArgumentsAndDirectory()
{
    const QString scriptDir = m_dir.filePath("game dir é");
    const QString workDir = m_dir.filePath("work 'dir' ü");
    QVERIFY(QDir().mkpath(scriptDir));
    QVERIFY(QDir().mkpath(workDir));
    const QString out = m_dir.filePath("seen");
    const QString script = writeScript(scriptDir, "run me",
                                       "printf '%s\\n' \"$0\" \"$@\" > '" + QFile::encodeName(out) +
                                           "'\npwd -P >> '" + QFile::encodeName(out) + "'\n");
    QVERIFY(!script.isEmpty());

    const QByteArray path = QFile::encodeName(script);
    const QByteArrayList argv{path, "-d", "-nA \"quoted\" name", "-pé", "-c16"};
    ServerRun run;
    RunLog log(&run);
    QVERIFY(run.start(path, argv, QFile::encodeName(workDir)) > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);

    QFile seen(out);
    QVERIFY(seen.open(QIODevice::ReadOnly));
    QCOMPARE(seen.readAll(), argv.join('\n') + '\n' +
                                 QFile::encodeName(QFileInfo(workDir).canonicalFilePath()) + '\n');
}

void TestServerRunProcess::missingExecutableReportsThenEnds()
{
    const QByteArray path = QFile::encodeName(m_dir.filePath("no such game"));
    ServerRun run;
    RunLog log(&run);
    const pid_t pid = run.start(path, {path, "-d"}, QFile::encodeName(m_dir.path()));
    QVERIFY(pid > 0);
    QCOMPARE(run.pid(), pid);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);

    QCOMPARE(log.text, QStringLiteral("Error - can't launch server\r\n"));
    QCOMPARE(log.ends, 1);
    QCOMPARE(log.failures, 0);
    QVERIFY(!log.dataAfterEnd);
    QVERIFY(run.isReaped());
    QVERIFY(!childProcesses().contains(pid));
    // The status a shell gives a command it cannot run, not that of a normal exit.
    QCOMPARE(run.exitStatus(), std::optional<ExitStatus>(ExitStatus{false, 127}));
}

void TestServerRunProcess::forkPtyFailureLeavesNothingOpen()
{
    const QMap<int, QString> before = openDescriptors();
    const QMap<pid_t, char> childrenBefore = childProcesses();
    ServerRun::setForkPty(&failingForkPty);

    ServerRun run;
    RunLog log(&run);
    QCOMPARE(run.start(PTY_PROBE, {"probe"}, "/"), pid_t(-1));
    QCOMPARE(forkPtyCalls, 1);
    QCOMPARE(run.pid(), pid_t(-1));
    QVERIFY(!run.isReaped());

    // Every later call on the failed run is harmless and reports nothing.
    run.readInBackgroundAndNotify();
    run.kill();
    run.closeOutput();
    QCoreApplication::processEvents();
    QCOMPARE(log.reads + log.ends + log.failures + log.finishes, 0);
    QCOMPARE(openDescriptors(), before);
    QCOMPARE(childProcesses(), childrenBefore);
}

void TestServerRunProcess::forkPtySeamIsUsedAndRestored()
{
    ServerRun::setForkPty(&countingForkPty);
    {
        ServerRun run;
        RunLog log(&run);
        QVERIFY(run.start("/bin/true", {"true"}, "/") > 0);
        QCOMPARE(forkPtyCalls, 1);
        // A run acts on its first start only.
        QCOMPARE(run.start("/bin/true", {"true"}, "/"), pid_t(-1));
        QCOMPARE(forkPtyCalls, 1);
        run.readInBackgroundAndNotify();
        QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);
    }
    ServerRun::setForkPty(nullptr);
    ServerRun run;
    RunLog log(&run);
    QVERIFY(run.start("/bin/true", {"true"}, "/") > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);
    QCOMPARE(forkPtyCalls, 1);
}

void TestServerRunProcess::childInheritsOnlyItsTerminal()
{
    // Descriptors of the launcher's own that are not close-on-exec must still stay behind.
    int leaky[2];
    QCOMPARE(::pipe(leaky), 0);
    const QMap<int, QString> before = openDescriptors();
    const QString report = m_dir.filePath("server-report");
    qputenv("VELMORA_PROBE_OUT", QFile::encodeName(report));

    auto *run = new ServerRun;
    RunLog log(run);
    QVERIFY(run->start(PTY_PROBE, {"probe"}, "/") > 0);

    // The run's own descriptors: the master and the pidfd, neither inherited by anything the
    // launcher starts later.
    QMap<int, QString> opened = openDescriptors();
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        opened.remove(it.key());
    QCOMPARE(opened.size(), 2);
    QStringList kinds;
    for (auto it = opened.cbegin(); it != opened.cend(); ++it) {
        kinds << it.value();
        QVERIFY2(::fcntl(it.key(), F_GETFD) & FD_CLOEXEC, qPrintable(it.value()));
        if (it.value() == "/dev/ptmx")
            QVERIFY(::fcntl(it.key(), F_GETFL) & O_NONBLOCK);
    }
    kinds.sort();
    QCOMPARE(kinds, QStringList({"/dev/ptmx", "anon_inode:[pidfd]"}));

    const QString gameReport = m_dir.filePath("game-report");
    qputenv("VELMORA_PROBE_OUT", QFile::encodeName(gameReport));
    QVERIFY(QProcess::startDetached(PTY_PROBE, {}, "/"));
    QTRY_VERIFY_WITH_TIMEOUT(readProbeReport(gameReport).complete, Patience);
    for (const QByteArray &fd : readProbeReport(gameReport).descriptors) {
        QVERIFY2(!fd.contains("ptmx") && !fd.contains("pidfd"), fd.constData());
    }

    run->readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);
    const ProbeReport r = readProbeReport(report);
    QVERIFY(r.complete);
    QCOMPARE(r.descriptors.size(), 3);
    const QByteArray terminal = r.descriptors.at(0).mid(2);
    QVERIFY2(terminal.startsWith("/dev/pts/"), terminal.constData());
    QCOMPARE(r.descriptors, QByteArrayList({"0 " + terminal, "1 " + terminal, "2 " + terminal}));

    delete run;
    QCoreApplication::processEvents();
    QCOMPARE(openDescriptors(), before);
    ::close(leaky[0]);
    ::close(leaky[1]);
}

void TestServerRunProcess::inputReachesTheChild()
{
    ServerRun run;
    QCOMPARE(run.writeInput("before\n"), PtyWriter::Write::Closed);
    RunLog log(&run);
    const QByteArrayList argv{"sh", "-c",
                              "read first; read second; echo \"got <$first> <$second>\""};
    QVERIFY(run.start("/bin/sh", argv, QFile::encodeName(m_dir.path())) > 0);
    run.readInBackgroundAndNotify();
    QCOMPARE(run.writeInput("hello there\n"), PtyWriter::Write::Sent);
    QCOMPARE(run.writeInput("Grüße\n"), PtyWriter::Write::Sent);
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);

    // The terminal echoes what it is given, then the child's answer follows.
    QVERIFY2(log.text.contains(QStringLiteral("got <hello there> <Grüße>\r\n")),
             qPrintable(log.text));
    QVERIFY(log.text.indexOf(QStringLiteral("hello there\r\n")) <
            log.text.indexOf(QStringLiteral("got <")));
    QCOMPARE(run.writeInput("after\n"), PtyWriter::Write::Closed);
}

// A reader that takes nothing: what the terminal cannot hold waits in the queue up to its limit,
// a command that would overflow it is refused whole, and once the other side reads, every byte
// taken arrives once and in order. Every write returns at once; a blocking one would hang here.
void TestServerRunProcess::writerNeverBlocksAndKeepsOrder()
{
    int masterFd = -1;
    int slaveFd = -1;
    QCOMPARE(::openpty(&masterFd, &slaveFd, nullptr, nullptr, nullptr), 0);
    const UniqueFd master(masterFd);
    const UniqueFd slave(slaveFd);
    termios raw{};
    QCOMPARE(::tcgetattr(slaveFd, &raw), 0);
    ::cfmakeraw(&raw);
    QCOMPARE(::tcsetattr(slaveFd, TCSANOW, &raw), 0);
    ::fcntl(masterFd, F_SETFL, ::fcntl(masterFd, F_GETFL) | O_NONBLOCK);
    ::fcntl(slaveFd, F_SETFL, ::fcntl(slaveFd, F_GETFL) | O_NONBLOCK);

    PtyWriter writer(masterFd);
    QCOMPARE(writer.write(QByteArray(PtyWriter::QueueLimit + 1, 'x')), PtyWriter::Write::Refused);
    QCOMPARE(writer.pending(), 0);

    QByteArray taken;
    PtyWriter::Write last = PtyWriter::Write::Sent;
    int queued = 0;
    for (int i = 0; last != PtyWriter::Write::Refused; ++i) {
        QVERIFY2(i < 2000, "the queue never filled");
        QByteArray command = QByteArray::number(i).rightJustified(6, '0');
        command += ' ' + QByteArray(1000, char('a' + i % 26)) + '\n';
        const qsizetype before = writer.pending();
        last = writer.write(command);
        if (last == PtyWriter::Write::Refused) {
            QCOMPARE(writer.pending(), before);
            QVERIFY(before + command.size() > PtyWriter::QueueLimit);
        } else {
            taken += command;
            queued += last == PtyWriter::Write::Queued;
        }
        QVERIFY(writer.pending() <= PtyWriter::QueueLimit);
    }
    QVERIFY(queued > 0);
    QVERIFY(writer.pending() > PtyWriter::QueueLimit - 1100);

    QByteArray arrived;
    char buffer[65536];
    const bool all = QTest::qWaitFor(
        [&] {
            ssize_t n;
            while ((n = ::read(slaveFd, buffer, sizeof buffer)) > 0)
                arrived.append(buffer, n);
            return arrived.size() >= taken.size() && writer.pending() == 0;
        },
        Patience);
    QVERIFY2(all,
             qPrintable(QStringLiteral("%1 of %2 bytes").arg(arrived.size()).arg(taken.size())));
    QVERIFY(arrived == taken);

    // Emptied, it takes commands again; closed, it takes none.
    QCOMPARE(writer.write("again\n"), PtyWriter::Write::Sent);
    writer.close();
    QCOMPARE(writer.write("closed\n"), PtyWriter::Write::Closed);
    QCOMPARE(writer.pending(), 0);
}

QTEST_GUILESS_MAIN(TestServerRunProcess)
#include "tst_ServerRunProcess.moc"
