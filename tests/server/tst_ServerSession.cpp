// The Server pane's controller driven with no window at all, as a host without a display does:
// real children on real terminals, rows recorded through the session's console interface.
#include "ProcessTestSupport.h"
#include "ServerSession.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using ProcessTestSupport::writeScript;

namespace {

constexpr int Patience = 10000;

// What a front end would show: output rows as they arrive and the session's own lines.
struct RecordingConsole : ServerSession::Console
{
    QString text;
    int ended = 0;
    void appendOutput(const QObject *, const StyledText &shown) override { text += shown.text; }
    void endOutput(const QObject *) override { ++ended; }
    void appendLine(const QString &line) override { text += QStringLiteral("[%1]\n").arg(line); }
};

QString contentsOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

ServerLaunch shellServer(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    return {file, {file}, "/"};
}

} // namespace

class ServerSessionTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void runWithoutWindow();
    void commandsReachTheServer();
    void failedStartChangesNothing();
    void fileSizeLimitEndsTheLogOnly();

private:
    QTemporaryDir m_dir;
    RecordingConsole m_console;
    std::unique_ptr<ServerSession> m_session;
};

void ServerSessionTest::init()
{
    m_console = {};
    m_session = std::make_unique<ServerSession>();
    m_session->setConsole(&m_console);
    m_session->setLogFolder(m_dir.filePath(QStringLiteral("logs")));
}

void ServerSessionTest::runWithoutWindow()
{
    const QString script = writeScript(m_dir.path(), QStringLiteral("ends.sh"),
                                       "printf '\\033[31mred\\033[0m\\nbye\\n'; exit 3\n");
    QSignalSpy running(m_session.get(), &ServerSession::runningChanged);
    QVERIFY(m_session->start(shellServer(script)));
    QVERIFY(m_session->pid() > 0);
    QVERIFY(!m_session->start(shellServer(script))); // one server at a time
    QTRY_VERIFY_WITH_TIMEOUT(m_session->activeRunCount() == 0, Patience);

    // Escapes out, the exit in words, the separator; the log holds the same rows.
    QCOMPARE(m_console.text, QStringLiteral("red\nbye\n[Server exited with status 3]\n\n \n"));
    QCOMPARE(m_console.ended, 1);
    QCOMPARE(running.size(), 2);
    QCOMPARE(running.last().first().toBool(), false);
    QCOMPARE(m_session->pid(), pid_t(-1));
    const QString log = m_session->logToOpen();
    QVERIFY(log.startsWith(m_dir.filePath(QStringLiteral("logs"))));
    m_session.reset(); // the writer finishes
    QCOMPARE(contentsOf(log), QStringLiteral("red\nbye\nServer exited with status 3\n \n"));
}

void ServerSessionTest::commandsReachTheServer()
{
    const QString script = writeScript(m_dir.path(), QStringLiteral("echo.sh"),
                                       "read line; echo \"got $line\"; sleep 30\n");
    QVERIFY(m_session->start(shellServer(script)));
    QVERIFY(m_session->sendCommand(QStringLiteral("say hi")));
    // The session's echo, in the console and the log; the terminal's own is off.
    QTRY_VERIFY_WITH_TIMEOUT(m_console.text.contains(QStringLiteral("got say hi")), Patience);
    QCOMPARE(m_console.text, QStringLiteral("[> say hi]\ngot say hi\n"));
    m_session->flushLog(m_session->logToOpen());
    QTRY_COMPARE_WITH_TIMEOUT(contentsOf(m_session->logToOpen()),
                              QStringLiteral("> say hi\ngot say hi\n"), Patience);
    m_session->stop();
    QVERIFY(!m_session->isRunning());
    QVERIFY(!m_session->sendCommand(QStringLiteral("late")));
    QTRY_VERIFY_WITH_TIMEOUT(m_session->activeRunCount() == 0, Patience);
    QVERIFY(!m_console.text.contains(QStringLiteral("exited"))); // a stop is not an exit
}

void ServerSessionTest::failedStartChangesNothing()
{
    ServerRun::setForkPty([](int *, char *, const termios *, const winsize *) -> pid_t {
        errno = EAGAIN;
        return -1;
    });
    QSignalSpy running(m_session.get(), &ServerSession::runningChanged);
    QVERIFY(!m_session->start(shellServer(QStringLiteral("/bin/true"))));
    ServerRun::setForkPty(nullptr);
    QCOMPARE(m_console.text, QStringLiteral("[Error - can't launch server]\n"));
    QCOMPARE(running.size(), 0);
    QCOMPARE(m_session->activeRunCount(), 0);
}

void ServerSessionTest::fileSizeLimitEndsTheLogOnly()
{
    // As the launcher runs: a write past the limit fails instead of ending the process.
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit saved = {};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit small = saved;
    small.rlim_cur = 65536;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const QString script = writeScript(m_dir.path(), QStringLiteral("flood.sh"),
                                       "yes 'a flood of lines' | head -n 20000; sleep 30\n");
    QSignalSpy failed(m_session.get(), &ServerSession::logFailed);
    QVERIFY(m_session->start(shellServer(script)));
    const bool told = failed.wait(Patience);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    QVERIFY(told);
    QVERIFY2(failed.first().first().toString().contains(QStringLiteral("File too large")),
             qPrintable(failed.first().first().toString()));
    QVERIFY(m_session->isRunning());
    m_session->stop();
}

QTEST_GUILESS_MAIN(ServerSessionTest)
#include "tst_ServerSession.moc"
