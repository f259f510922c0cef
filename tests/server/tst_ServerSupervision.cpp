// How the session looks after a server: the rules as plain logic (what counts as a crash, the
// wait before a restart and giving up, telling an event once a minute), then the stop and the
// restart with the stand-in as a real server.
#include "ServerSession.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

// The session's own lines and, as "told: SUMMARY", its notifications, in order.
struct Recorder : ServerSession::Console, ServerSession::Notifier
{
    QString output;
    QStringList events;
    void appendOutput(const QObject *, const StyledText &shown) override { output += shown.text; }
    void endOutput(const QObject *) override {}
    void appendLine(const QString &line) override { events << line; }
    void notify(const QString &summary, const QString &) override { events << "told: " + summary; }
};

using Status = std::optional<ExitStatus>;

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
    void supervised_data();
    void supervised();
};

void ServerSupervisionTest::whatIsACrash_data()
{
    QTest::addColumn<Status>("status"); // absent: killed by the launcher
    QTest::addColumn<bool>("stopAsked");
    QTest::addColumn<bool>("crash");
    QTest::newRow("status 0") << Status(ExitStatus{false, 0}) << false << false;
    QTest::newRow("status 127") << Status(ExitStatus{false, 127}) << false << true;
    QTest::newRow("someone's SIGTERM") << Status(ExitStatus{true, SIGTERM}) << false << true;
    QTest::newRow("launcher's SIGKILL") << Status() << false << false;
    QTest::newRow("status 1 on a stop") << Status(ExitStatus{false, 1}) << true << false;
    QTest::newRow("SIGTERM on a stop") << Status(ExitStatus{true, SIGTERM}) << true << false;
}

void ServerSupervisionTest::whatIsACrash()
{
    QFETCH(Status, status);
    QFETCH(bool, stopAsked);
    QFETCH(bool, crash);
    QCOMPARE(isCrash(status, stopAsked), crash);
}

void ServerSupervisionTest::restartPolicy_data()
{
    // Runs as "start-end" in seconds ("reset": the host's own start); each crash's wait, or "no".
    QTest::addColumn<QString>("runs");
    QTest::addColumn<QString>("waits");
    QTest::newRow("doubling, given up at 5") << "0-1 2-3 5-6 10-11 19-20"
                                             << "1 2 4 8 no";
    QTest::newRow("60 s at most") << "0-170 180-350 360-530 540-710 720-890 900-1070 1080-1250"
                                  << "1 2 4 8 16 32 60";
    QTest::newRow("a 10-minute run resets") << "0-1 2-3 5-605 606-607"
                                            << "1 2 1 2";
    QTest::newRow("9:59 does not") << "0-1 2-601"
                                   << "1 2";
    QTest::newRow("5th at 9:59") << "0-0 1-150 151-300 301-450 451-599"
                                 << "1 2 4 8 no";
    QTest::newRow("5th at 10:00") << "0-0 1-150 151-300 301-450 451-600"
                                  << "1 2 4 8 16";
    QTest::newRow("host's start") << "0-1 2-3 5-6 10-11 reset 20-21"
                                  << "1 2 4 8 1";
}

void ServerSupervisionTest::restartPolicy()
{
    QFETCH(QString, runs);
    QFETCH(QString, waits);
    RestartPolicy policy;
    QStringList seen;
    for (const QString &run : runs.split(u' ')) {
        if (run == u"reset") {
            policy.reset();
            continue;
        }
        const RestartPolicy::Decision decision = policy.crashed(
            run.section(u'-', 0, 0).toLongLong() * 1000, run.section(u'-', 1).toLongLong() * 1000);
        seen << (decision.restart ? QString::number(decision.delaySeconds) : "no");
    }
    QCOMPARE(seen.join(u' '), waits);
}

void ServerSupervisionTest::throttle_data()
{
    QTest::addColumn<QString>("events"); // "name@second"
    QTest::addColumn<QString>("told");   // 1 for each one let through
    QTest::newRow("within a minute") << "a@0 a@59 b@59"
                                     << "1 0 1";
    QTest::newRow("a minute on, held back ones not counting") << "a@0 a@50 a@60"
                                                              << "1 0 1";
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

void ServerSupervisionTest::supervised_data()
{
    // The stand-in's options, the settings (the quit command is "quit"; with a timeout, Stop is
    // pressed once the server is ready) and the events ('*' ends a line's known part).
    QTest::addColumn<QString>("options");
    QTest::addColumn<int>("timeout");
    QTest::addColumn<bool>("restart");
    QTest::addColumn<QStringList>("events");
    const auto stopping = [](int timeout) {
        return QString("Stopping: sent the quit command and SIGTERM, waiting up to %1 s")
            .arg(timeout);
    };
    const QString killed = "Server did not stop within 1 s: killed";
    const QString told = "told: The server “Crashy” was killed";
    QTest::newRow("saves on SIGTERM")
        << "--term-delay 300" << 9 << true << QStringList{stopping(9), "Server stopped after *"};
    QTest::newRow("saves on quit") << "--commands --quit-delay 300 --ignore-term" << 9 << true
                                   << QStringList{stopping(9), "Server stopped after *"};
    QTest::newRow("ignores SIGTERM")
        << "--ignore-term" << 1 << true << QStringList{stopping(1), killed, told};
    QTest::newRow("helpers keep the terminal")
        << "--children 1 --interval 60000 --term-delay 100" << 1 << true
        << QStringList{stopping(1), killed, told};
    QTest::newRow("status 0 is no crash")
        << "--exit" << 0 << true << QStringList{"Server exited normally"};
    QTest::newRow("no restart") << "--exit-code 3" << 0 << false
                                << QStringList{"Server exited with status 3",
                                               "told: The server “Crashy” crashed"};
    const QString how = "Server was killed by signal 10 (User defined signal 1)";
    QStringList events{how, "Restarting in 1 s (crash 1 of 5 within 10 minutes)",
                       "told: The server “Crashy” crashed",
                       "told: The server “Crashy” was restarted"};
    for (int wait : {2, 4, 8})
        events << how
               << QString("Restarting in %1 s (crash %2 of 5 within 10 minutes)")
                      .arg(wait)
                      .arg(events.size() / 2);
    QTest::newRow("restarted until given up, each event told once")
        << "--exit-signal 10" << 0 << true
        << (events << how << "Crashed 5 times within 10 minutes: not restarting"
                   << "told: The server “Crashy” is down");
}

void ServerSupervisionTest::supervised()
{
    QFETCH(QString, options);
    QFETCH(int, timeout);
    QFETCH(bool, restart);
    QFETCH(QStringList, events);
    QTemporaryDir logs;
    Recorder recorder;
    ServerSession session;
    session.setConsole(&recorder);
    session.setNotifier(&recorder);
    session.setSupervisionSettings([&] {
        SupervisionSettings settings;
        settings.quitCommand = QStringLiteral("quit");
        settings.stopTimeoutSeconds = timeout;
        settings.restartOnCrash = restart;
        return settings;
    });
    session.setRestartSecond(std::chrono::milliseconds(10));
    session.setLogFolder(logs.path());
    const QByteArray path =
        qgetenv("VELMORA_BUILD_DIR") + "/Orvane/orvane.app/Contents/MacOS/orvane";
    ServerLaunch launch{path, {path, "-d", "-nCrashy"}, "/", QStringLiteral("Crashy")};
    for (const QString &option : options.split(u' '))
        launch.argv << option.toUtf8();
    QVERIFY(session.start(launch));
    const pid_t pid = session.pid();
    if (timeout > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(recorder.output.contains("Server ready."), 30000);
        session.stop();
        QVERIFY(session.isStopping());
    }
    QTRY_VERIFY_WITH_TIMEOUT(!session.isActive() && session.activeRunCount() == 0, 30000);
    QCOMPARE(recorder.events.size(), events.size());
    for (qsizetype i = 0; i < events.size(); ++i)
        QVERIFY2(events[i].endsWith(u'*') ? recorder.events[i].startsWith(events[i].chopped(1))
                                          : recorder.events[i] == events[i],
                 qPrintable(recorder.events[i]));
    const bool gaveUp = events.last().endsWith(u"down");
    QCOMPARE(session.state(),
             gaveUp ? ServerSession::State::GaveUp : ServerSession::State::Stopped);
    QCOMPARE(QDir(logs.path()).entryList(QDir::Files).size(), gaveUp ? 5 : 1); // a log a run
    QCOMPARE(::kill(pid, 0), -1); // reaped: nothing of it survives
}

QTEST_GUILESS_MAIN(ServerSupervisionTest)
#include "tst_ServerSupervision.moc"
