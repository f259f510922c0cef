// How the session looks after a server: the rules as plain logic (what counts as a crash, the
// wait before a restart and giving up, telling an event once a minute), then the stop and the
// restart with the stand-in as a real server.
#include "NotificationThrottle.h"
#include "RestartPolicy.h"
#include "ServerSession.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

namespace {

constexpr int Patience = 30000;

struct Recorder : ServerSession::Console, ServerSession::Notifier
{
    QString output;
    QStringList lines; // the session's own
    QStringList told;  // summary | first line of the body
    void appendOutput(const QObject *, const StyledText &shown) override { output += shown.text; }
    void endOutput(const QObject *) override {}
    void appendLine(const QString &line) override { lines << line; }
    void notify(const QString &summary, const QString &body) override
    {
        told << summary + QStringLiteral(" | ") + body.section(u'\n', 0, 0);
    }
};

// `options` for the stand-in as the server, named "Crashy".
ServerLaunch standIn(const QString &options)
{
    const QByteArray path =
        qgetenv("VELMORA_BUILD_DIR") + "/Orvane/orvane.app/Contents/MacOS/orvane";
    ServerLaunch launch{path, {path, "-d", "-nCrashy"}, "/", QStringLiteral("Crashy")};
    for (const QString &option : options.split(u' ', Qt::SkipEmptyParts))
        launch.argv << option.toUtf8();
    return launch;
}

// Each pattern in turn matches the line at its place ('*' for any text).
bool matchLines(const QStringList &lines, const QStringList &patterns)
{
    if (lines.size() != patterns.size())
        return false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!QRegularExpression(QRegularExpression::wildcardToRegularExpression(
                                    patterns[i], QRegularExpression::UnanchoredWildcardConversion))
                 .match(lines[i])
                 .hasMatch())
            return false;
    }
    return true;
}

} // namespace

class ServerSupervisionTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void whatIsACrash_data();
    void whatIsACrash();
    void restartPolicy_data();
    void restartPolicy();
    void throttle_data();
    void throttle();
    void init();
    void stop_data();
    void stop();
    void crash_data();
    void crash();

private:
    QTemporaryDir m_dir;
    Recorder m_recorder;
    SupervisionSettings m_settings;
    std::unique_ptr<ServerSession> m_session;
};

void ServerSupervisionTest::whatIsACrash_data()
{
    QTest::addColumn<bool>("ended"); // absent: the launcher killed it
    QTest::addColumn<bool>("signaled");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("stopAsked");
    QTest::addColumn<bool>("crash");
    QTest::newRow("status 0") << true << false << 0 << false << false;
    QTest::newRow("status 1") << true << false << 1 << false << true;
    QTest::newRow("could not be run") << true << false << 127 << false << true;
    QTest::newRow("SIGSEGV") << true << true << int(SIGSEGV) << false << true;
    QTest::newRow("SIGTERM from someone else") << true << true << int(SIGTERM) << false << true;
    QTest::newRow("killed by the launcher") << false << false << 0 << false << false;
    QTest::newRow("status 1 while stopping") << true << false << 1 << true << false;
    QTest::newRow("SIGTERM while stopping") << true << true << int(SIGTERM) << true << false;
}

void ServerSupervisionTest::whatIsACrash()
{
    QFETCH(bool, ended);
    QFETCH(bool, signaled);
    QFETCH(int, code);
    QFETCH(bool, stopAsked);
    QFETCH(bool, crash);
    const auto status = ended ? std::optional(ExitStatus{signaled, code}) : std::nullopt;
    QCOMPARE(isCrash(status, stopAsked), crash);
}

void ServerSupervisionTest::restartPolicy_data()
{
    // Runs as "start-end" in seconds, "reset" for the host's own start; each crash's outcome as
    // its wait in seconds, or "no" when restarts are given up.
    QTest::addColumn<QString>("runs");
    QTest::addColumn<QString>("outcomes");
    QTest::newRow("doubling, then given up at the fifth") << "0-1 2-3 5-6 10-11 19-20"
                                                          << "1 2 4 8 no";
    QTest::newRow("at most 60 s, never 5 within 10 minutes")
        << "0-179 180-359 360-539 540-719 720-899 900-1079 1080-1259 1260-1439"
        << "1 2 4 8 16 32 60 60";
    QTest::newRow("a run of 10 minutes starts again at 1 s") << "0-1 2-3 5-605"
                                                             << "1 2 1";
    QTest::newRow("just short of 10 minutes does not") << "0-1 2-601"
                                                       << "1 2";
    QTest::newRow("fifth crash just within 10 minutes") << "0-0 1-150 151-300 301-450 451-599"
                                                        << "1 2 4 8 no";
    QTest::newRow("fifth crash 10 minutes after the first") << "0-0 1-150 151-300 301-450 451-600"
                                                            << "1 2 4 8 16";
    QTest::newRow("a start of the host's own forgets") << "0-1 2-3 5-6 10-11 reset 20-21"
                                                       << "1 2 4 8 1";
}

void ServerSupervisionTest::restartPolicy()
{
    QFETCH(QString, runs);
    QFETCH(QString, outcomes);
    RestartPolicy policy;
    QStringList seen;
    for (const QString &run : runs.split(u' ')) {
        if (run == u"reset") {
            policy.reset();
            continue;
        }
        const RestartPolicy::Decision decision =
            policy.crashed(run.section(u'-', 0, 0).toLongLong() * 1000,
                           run.section(u'-', 1, 1).toLongLong() * 1000);
        seen << (decision.restart ? QString::number(decision.delaySeconds) : QStringLiteral("no"));
    }
    QCOMPARE(seen.join(u' '), outcomes);
}

void ServerSupervisionTest::throttle_data()
{
    // Events as "name@second"; what is let through as 1, what is held back as 0.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("told");
    QTest::newRow("same event within a minute") << "a@0 a@59"
                                                << "1 0";
    QTest::newRow("a minute later") << "a@0 a@60"
                                    << "1 1";
    QTest::newRow("a held-back event does not extend the minute") << "a@0 a@50 a@61"
                                                                  << "1 0 1";
    QTest::newRow("other events go through") << "a@0 b@1 a@2 c@3"
                                             << "1 1 0 1";
}

void ServerSupervisionTest::throttle()
{
    QFETCH(QString, events);
    QFETCH(QString, told);
    NotificationThrottle throttle;
    QStringList seen;
    for (const QString &event : events.split(u' '))
        seen << QString::number(
            throttle.admit(event.section(u'@', 0, 0), event.section(u'@', 1).toLongLong() * 1000));
    QCOMPARE(seen.join(u' '), told);
}

void ServerSupervisionTest::init()
{
    m_recorder = {};
    m_settings = {};
    m_settings.restartOnCrash = true; // so that an end taken for a crash would show
    m_session = std::make_unique<ServerSession>();
    m_session->setConsole(&m_recorder);
    m_session->setNotifier(&m_recorder);
    m_session->setSupervisionSettings([this] { return m_settings; });
    m_session->setRestartSecond(std::chrono::milliseconds(10));
    m_session->setLogFolder(m_dir.filePath(QString::fromLatin1(QTest::currentDataTag())));
}

void ServerSupervisionTest::stop_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QString>("quit");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<int>("stops");
    QTest::addColumn<bool>("saved"); // the server said it saved and stopped
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("told");
    QTest::newRow("timeout 0 kills at once")
        << "--term-delay 5000"
        << "quit" << 0 << 1 << false << QStringList() << QStringList();
    QTest::newRow("saves on SIGTERM")
        << "--term-delay 300"
        << "" << 10 << 1 << true
        << QStringList{"Stopping: sent SIGTERM, waiting up to 10 s", "Server stopped after *"}
        << QStringList();
    QTest::newRow("saves on the quit command")
        << "--commands --quit-delay 300 --ignore-term"
        << "quit" << 10 << 1 << true
        << QStringList{"Stopping: sent the quit command and SIGTERM, waiting up to 10 s",
                       "Server stopped after *"}
        << QStringList();
    QTest::newRow("dies of SIGTERM: stopped, no crash")
        << ""
        << "" << 10 << 1 << false
        << QStringList{"Stopping: sent SIGTERM, waiting up to 10 s", "Server stopped after *"}
        << QStringList();
    QTest::newRow("ignores SIGTERM: killed")
        << "--ignore-term"
        << "" << 1 << 1 << false
        << QStringList{"Stopping: sent SIGTERM, waiting up to 1 s",
                       "Server did not stop within 1 s: killed"}
        << QStringList{"The server “Crashy” was killed | Server did not stop within 1 s: killed"};
    QTest::newRow("its helpers keep the terminal: killed")
        << "--children 1 --term-delay 100"
        << "" << 1 << 1 << true
        << QStringList{"Stopping: sent SIGTERM, waiting up to 1 s",
                       "Server did not stop within 1 s: killed"}
        << QStringList{"The server “Crashy” was killed | Server did not stop within 1 s: killed"};
    QTest::newRow("a second stop kills at once")
        << "--ignore-term"
        << "" << 60 << 2 << false
        << QStringList{"Stopping: sent SIGTERM, waiting up to 60 s", "Stopped at once: killed"}
        << QStringList();
}

void ServerSupervisionTest::stop()
{
    QFETCH(QString, options);
    QFETCH(QString, quit);
    QFETCH(int, timeout);
    QFETCH(int, stops);
    QFETCH(bool, saved);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, told);
    m_settings.quitCommand = quit;
    m_settings.stopTimeoutSeconds = timeout;
    QVERIFY(m_session->start(standIn(options)));
    const pid_t pid = m_session->pid();
    QTRY_VERIFY_WITH_TIMEOUT(m_recorder.output.contains(QStringLiteral("Server ready.")), Patience);
    for (int i = 0; i < stops; ++i)
        m_session->stop();
    QCOMPARE(m_session->isStopping(), timeout > 0 && stops == 1);
    QTRY_VERIFY_WITH_TIMEOUT(m_session->activeRunCount() == 0, Patience);
    QCOMPARE(m_session->state(), ServerSession::State::Stopped);
    QVERIFY2(matchLines(m_recorder.lines, lines), qPrintable(m_recorder.lines.join(u'\n')));
    QCOMPARE(m_recorder.output.contains(QStringLiteral("Saving before stopping\nServer stopped.")),
             saved);
    QCOMPARE(m_recorder.told, told);
    QCOMPARE(::kill(pid, 0), -1); // reaped: nothing of it survives
}

void ServerSupervisionTest::crash_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<bool>("restart");
    QTest::addColumn<bool>("notify");
    QTest::addColumn<int>("runs");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("told");
    QTest::newRow("status 0 is no crash")
        << "--exit" << true << true << 1 << QStringList{"Server exited normally"} << QStringList();
    QTest::newRow("restart off: told, not restarted")
        << "--exit-code 3" << false << true << 1 << QStringList{"Server exited with status 3"}
        << QStringList{"The server “Crashy” crashed | Server exited with status 3"};
    QTest::newRow("notifications off")
        << "--exit-code 3" << false << false << 1 << QStringList{"Server exited with status 3"}
        << QStringList();
    const QString signal = QStringLiteral("Server was killed by signal 10 (User defined signal 1)");
    QTest::newRow("restarted until given up, each event told once")
        << "--exit-signal 10" << true << true << 5
        << QStringList{signal, "Restarting in 1 s (crash 1 of 5 within 10 minutes)",
                       signal, "Restarting in 2 s (crash 2 of 5 within 10 minutes)",
                       signal, "Restarting in 4 s (crash 3 of 5 within 10 minutes)",
                       signal, "Restarting in 8 s (crash 4 of 5 within 10 minutes)",
                       signal, "Crashed 5 times within 10 minutes: not restarting"}
        << QStringList{"The server “Crashy” crashed | " + signal,
                       "The server “Crashy” was restarted | It had crashed: " + signal,
                       "The server “Crashy” is down | " + signal};
}

void ServerSupervisionTest::crash()
{
    QFETCH(QString, options);
    QFETCH(bool, restart);
    QFETCH(bool, notify);
    QFETCH(int, runs);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, told);
    m_settings.restartOnCrash = restart;
    m_settings.notify = notify;
    QVERIFY(m_session->start(standIn(options)));
    QTRY_VERIFY_WITH_TIMEOUT(m_recorder.lines.size() == lines.size() && !m_session->isActive(),
                             Patience);
    QTRY_VERIFY_WITH_TIMEOUT(m_session->activeRunCount() == 0, Patience);
    QCOMPARE(m_recorder.lines, lines);
    QCOMPARE(m_session->state(),
             runs > 1 ? ServerSession::State::GaveUp : ServerSession::State::Stopped);
    QCOMPARE(m_recorder.told, told);
    // Each run has a log of its own.
    QCOMPARE(QDir(m_session->logFolder()).entryList(QDir::Files).size(), runs);
}

QTEST_GUILESS_MAIN(ServerSupervisionTest)
#include "tst_ServerSupervision.moc"
