// The dedicated server driven through the whole launcher window: the argument vector and working
// directory a real child receives, Start/Stop and the console, runs that end by themselves (and
// how) or never start, closing the window, termination signals, Play beside a server, and the
// commands typed for it.
#include "LauncherFixture.h"

#include "ConsoleView.h"
#include "LauncherPaths.h"
#include "Preferences.h"
#include "ProcessTestSupport.h"
#include "RemoteHost.h"
#include "ServerCommands.h"
#include "ServerRun.h"
#include "ServerTestSupport.h"
#include "SettingsKeys.h"
#include "TerminationSignals.h"
#include "ui_Launcher.h"
#include "ui_ServerPane.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <unistd.h>

using namespace LauncherFixture;
using ProcessTestSupport::childProcesses;
using namespace ServerTestSupport;

class ServerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void argumentVector_data();
    void argumentVector();
    void workingDirectory_data();
    void workingDirectory();

    void startStopAndStartAgain();
    void exitStatusLine_data();
    void exitStatusLine();
    void serverEndsByItself_data();
    void serverEndsByItself();
    void missingGame_data();
    void missingGame();
    void forkPtyFailure();
    void closingTheWindowKillsTheServer_data();
    void closingTheWindowKillsTheServer();
    void serverExitedWhileItsHelpersPrint();
    void terminationSignalsReachTheEventLoop_data();
    void terminationSignalsReachTheEventLoop();
    void playWhileServerRuns();
    void commandsRoundTripAndHistory();
    void commandEndsTheServer_data();
    void commandEndsTheServer();
    void serverThatNeverReads();
    void keyboardReachesTheCommandLine();
    void serverOnAnotherMachine();

private:
    QJsonObject waitForRecord(const QString &file, bool game = false);

    QTemporaryDir m_dir;
    QString m_launcher; // a launcher folder with the stand-in
    QList<qint64> m_games;
    int m_serial = 0; // names files of rows whose tags are not fit for a file name
};

void ServerTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_launcher = makeLauncherFolder(m_dir.filePath(QStringLiteral("plain")));
    QVERIFY(QFileInfo(LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(m_launcher)))
                .isExecutable());
}

void ServerTest::init()
{
    clearPreferences();
}

void ServerTest::cleanup()
{
    ServerRun::setForkPty(nullptr);
    qunsetenv("ORVANE_RECORD");
    // Games started by Play run until closed.
    for (qint64 pid : std::as_const(m_games))
        ::kill(pid_t(pid), SIGKILL);
    m_games.clear();
    // Whatever a failed test left running: killed and reaped before the next test counts.
    if (!QTest::qWaitFor([] { return childProcesses().isEmpty(); }, Patience))
        qWarning("child processes still alive after the test");
}

QJsonObject ServerTest::waitForRecord(const QString &file, bool game)
{
    const QJsonObject record = LauncherFixture::waitForRecord(file);
    if (game)
        m_games << record.value(QStringLiteral("pid")).toInteger();
    return record;
}

void ServerTest::argumentVector_data()
{
    QTest::addColumn<QString>("options");     // null: absent
    QTest::addColumn<QString>("description"); // null: absent
    QTest::addColumn<QString>("password");    // null: absent
    QTest::addColumn<QVariant>("maxClients"); // invalid: absent
    QTest::addColumn<QStringList>("expected");

    const QString absent;
    const QVariant none;
    // The splitting and ordering rules are tst_commandline's, the argument vector's way through
    // the terminal and exec tst_ServerRunProcess's; these rows check that the window reads the
    // stored values and hands them to a real child whole.
    QTest::newRow("every setting, in order, non-ASCII")
        << "+map arena --name=Jürgen"
        << "Friday night ☃"
        << "pässwörd" << QVariant(16)
        << QStringList{"-d",         "+map", "arena", "--name=Jürgen", "-nFriday night ☃",
                       "-ppässwörd", "-c16"};
    QTest::newRow("maxclients not a number")
        << absent << absent << absent << QVariant(QStringLiteral("many")) << QStringList{"-d"};
}

void ServerTest::argumentVector()
{
    QFETCH(QString, options);
    QFETCH(QString, description);
    QFETCH(QString, password);
    QFETCH(QVariant, maxClients);
    QFETCH(QStringList, expected);
    {
        Preferences prefs;
        if (!options.isNull())
            prefs.setString(SettingsKeys::serverOptions, options);
        if (!description.isNull())
            prefs.setString(SettingsKeys::serverDescription, description);
        if (!password.isNull())
            prefs.setString(SettingsKeys::serverPassword, password);
        if (maxClients.typeId() == QMetaType::Int)
            prefs.setInteger(SettingsKeys::serverMaxClients, maxClients.toInt());
        else if (maxClients.isValid())
            prefs.setString(SettingsKeys::serverMaxClients, maxClients.toString());
        prefs.sync();
    }
    const QString record =
        m_dir.filePath(QStringLiteral("args-%1.json").arg(QTest::currentDataTag()));
    qputenv("ORVANE_RECORD", QFile::encodeName(record));

    const auto w = openWindow(m_launcher);
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0);
    const QJsonObject rec = waitForRecord(record);
    QCOMPARE(strings(rec.value(QStringLiteral("arguments"))), expected);
    QCOMPARE(rec.value(QStringLiteral("argv0")).toString(),
             LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(m_launcher)));
    QCOMPARE(rec.value(QStringLiteral("mode")).toString(), QStringLiteral("server"));
    QCOMPARE(rec.value(QStringLiteral("pid")).toInteger(), qint64(pid));

    QVERIFY(stopServer(*w));
}

void ServerTest::workingDirectory_data()
{
    QTest::addColumn<QString>("folder");
    // One folder with every odd character: quoting and encoding of paths are the lower layers'
    // (tst_commandline, tst_ServerRunProcess); this checks the game folder the window derives.
    QTest::newRow("spaces, quotes, non-ASCII, backslash, trailing space")
        << "My Games/it's \"quoted\" Ünïcødé ☃/odd\\ folder ";
}

void ServerTest::workingDirectory()
{
    QFETCH(QString, folder);
    const QString exe = makeLauncherFolder(m_dir.filePath(folder));
    const QString record = m_dir.filePath(QStringLiteral("cwd-%1.json").arg(++m_serial));
    qputenv("ORVANE_RECORD", QFile::encodeName(record));

    const auto w = openWindow(exe);
    w->launcher()->multiplayerAction();
    const QJsonObject rec = waitForRecord(record);
    const QString gameDir =
        QFileInfo(m_dir.filePath(folder) + QStringLiteral("/Orvane")).absoluteFilePath();
    QCOMPARE(rec.value(QStringLiteral("cwd")).toString(), gameDir);
    QCOMPARE(rec.value(QStringLiteral("argv0")).toString(),
             gameDir + QStringLiteral("/orvane.app/Contents/MacOS/orvane"));
    QCOMPARE(strings(rec.value(QStringLiteral("arguments"))), QStringList{"-d"});
    // The banner reaches the console too: the run works from here, not just starts.
    QVERIFY(waitForLine(*w, ReadyLine));

    QVERIFY(stopServer(*w));
}

void ServerTest::startStopAndStartAgain()
{
    const auto w = openWindow(makeLauncherFolderWithGame(
        m_dir.filePath(QStringLiteral("lingering")), serverScript(QStringLiteral("lingering.sh"))));
    Launcher *launcher = w->launcher();
    QCOMPARE(title(*w), QStringLiteral("Start"));

    const pid_t first = startServer(*w);
    QVERIFY(first > 0);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 started").arg(first)));

    // A start while one runs changes nothing.
    launcher->setServerActive(true);
    QCOMPARE(launcher->server(), first);
    QCOMPARE(launcher->activeRunCount(), 1);

    launcher->multiplayerAction();
    QCOMPARE(launcher->server(), pid_t(-1));
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(lines(*w).last(), Separator);
    // A stop while none runs changes nothing.
    launcher->setServerActive(false);
    QCOMPARE(lines(*w).count(Separator), 1);

    const pid_t second = startServer(*w);
    QVERIFY(second > 0);
    QVERIFY(second != first);
    QCOMPARE(title(*w), QStringLiteral("Stop"));

    // The first run's end arrives now, and leaves the second server alone.
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 late").arg(first)));
    QTRY_COMPARE_WITH_TIMEOUT(launcher->activeRunCount(), 1, Patience);
    QVERIFY(processGone(first)); // killed although it ignores the rest, and reaped
    QCOMPARE(launcher->server(), second);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QCOMPARE(::kill(second, 0), 0);
    QCOMPARE(lines(*w).count(Separator), 1);
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 started").arg(second)));

    launcher->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QVERIFY(drained(*w));
    QVERIFY(processGone(second));
    const QStringList all = lines(*w);
    QCOMPARE(all.count(Separator), 2);
    QVERIFY(all.indexOf(QStringLiteral("run %1 late").arg(second)) > all.lastIndexOf(Separator));
}

// The console's last line for each way a server can end by itself (tst_ServerRunLifecycle
// checks that the run reports these statuses).
void ServerTest::exitStatusLine_data()
{
    QTest::addColumn<bool>("signaled");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("line");
    QTest::newRow("status 0") << false << 0 << "Server exited normally";
    QTest::newRow("status 3") << false << 3 << "Server exited with status 3";
    QTest::newRow("status 255") << false << 255 << "Server exited with status 255";
    QTest::newRow("SIGTERM") << true << SIGTERM << "Server was killed by signal 15 (Terminated)";
    QTest::newRow("SIGKILL") << true << SIGKILL << "Server was killed by signal 9 (Killed)";
    QTest::newRow("SIGUSR1") << true << SIGUSR1
                             << "Server was killed by signal 10 (User defined signal 1)";
}

void ServerTest::exitStatusLine()
{
    QFETCH(bool, signaled);
    QFETCH(int, code);
    QFETCH(QString, line);
    QCOMPARE(Launcher::exitStatusLine(ExitStatus{signaled, code}), line);
}

// That the window puts the run's own ending after its output: a normal exit, a status after a
// last line without a line feed, and a signal.
void ServerTest::serverEndsByItself_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("lastLines"); // the run's last lines before the separator

    QTest::newRow("a few log lines") << "--lines 3 --interval 10"
                                     << QStringList{"[00:00:00] heartbeat 3: 0 players",
                                                    "Server stopped.", "Server exited normally"};
    QTest::newRow("last text without a line feed, failure status")
        << "--no-newline partial --exit-code 3"
        << QStringList{"Server ready.", "partial", "Server exited with status 3"};
    QTest::newRow("killed by SIGTERM")
        << "--exit-signal 15"
        << QStringList{"Server ready.", "Server was killed by signal 15 (Terminated)"};
}

void ServerTest::serverEndsByItself()
{
    QFETCH(QString, options);
    QFETCH(QStringList, lastLines);
    storePreferences({{SettingsKeys::serverOptions, options}});
    const auto w = openWindow(m_launcher);
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0);

    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QCOMPARE(w->launcher()->server(), pid_t(-1));
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));

    const QStringList all = lines(*w);
    QCOMPARE(all.first(), QStringLiteral("Orvane dedicated server (stand-in), pid %1").arg(pid));
    QCOMPARE(all.count(Separator), 1);
    QCOMPARE(all.last(), Separator);
    QCOMPARE(all.mid(all.size() - 1 - lastLines.size(), lastLines.size()), lastLines);
}

void ServerTest::missingGame_data()
{
    addBreakageRows();
}

void ServerTest::missingGame()
{
    QFETCH(QString, breakage);
    const QString exe = makeBrokenLauncherFolder(
        m_dir.filePath(QStringLiteral("server broken ") + breakage), breakage);
    QVERIFY(!exe.isEmpty());

    const auto w = openWindow(exe);
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0); // the child exists; only its exec fails
    QCOMPARE(title(*w), QStringLiteral("Stop"));

    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QVERIFY(drained(*w));
    // The child could not run the game: not a normal exit.
    QCOMPARE(lines(*w), (QStringList{LaunchError, QStringLiteral("Server exited with status 127"),
                                     Separator}));
    QCOMPARE(w->launcher()->server(), pid_t(-1));
    QVERIFY(processGone(pid));
}

// What the window shows when no process can be made; that the failed run leaves nothing open is
// tst_ServerRunProcess's.
void ServerTest::forkPtyFailure()
{
    const auto w = openWindow(m_launcher);
    ServerRun::setForkPty(+[](int *, char *, const termios *, const winsize *) -> pid_t {
        errno = EAGAIN;
        return -1;
    });

    w->launcher()->multiplayerAction();
    QCOMPARE(w->launcher()->server(), pid_t(-1));
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(lines(*w), QStringList{QStringLiteral("Error - can't launch server")});
    // Pressed again, the same: still no server, so the button asks for a start each time.
    w->launcher()->multiplayerAction();
    QCOMPARE(lines(*w), QStringList(2, QStringLiteral("Error - can't launch server")));
    QCOMPARE(w->launcher()->activeRunCount(), 0);

    // Once processes can be made again, Start works.
    ServerRun::setForkPty(nullptr);
    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server() > 0);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QVERIFY(waitForLine(*w, ReadyLine));
    QVERIFY(stopServer(*w));
}

void ServerTest::closingTheWindowKillsTheServer_data()
{
    QTest::addColumn<bool>("script");
    QTest::addColumn<bool>("destroy"); // the launcher goes right after, as when the program ends
    QTest::addColumn<bool>("helpers"); // the stand-in starts helpers that ignore the hang-up
    // The whole group's end is tst_ServerRunLifecycle's (killEndsTheWholeGroup); these rows check
    // that closing the window, and destroying the launcher right after, reach it.
    QTest::newRow("hangup ignored, window kept") << true << false << false;
    QTest::newRow("helpers, launcher destroyed") << false << true << true;
}

void ServerTest::closingTheWindowKillsTheServer()
{
    QFETCH(bool, script);
    QFETCH(bool, destroy);
    QFETCH(bool, helpers);
    if (helpers)
        storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--children 2")}});
    const QString exe =
        script ? makeLauncherFolderWithGame(m_dir.filePath(QStringLiteral("stubborn")),
                                            serverScript(QStringLiteral("stubborn.sh")))
               : m_launcher;
    auto w = openWindow(exe);
    w->interface->window()->show();
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0);
    QVERIFY(waitForLine(*w, ReadyLine));
    QList<pid_t> helperPids;
    if (helpers)
        QVERIFY(QTest::qWaitFor([&] { return (helperPids = announcedHelpers(*w)).size() == 4; },
                                Patience));

    QVERIFY(w->interface->window()->close());
    QCOMPARE(w->terminateCalls, 1);
    QCOMPARE(w->launcher()->server(), pid_t(-1));
    QCOMPARE(lines(*w).last(), Separator);
    if (destroy)
        w.reset();
    QVERIFY(QTest::qWaitFor([pid] { return processGone(pid); }, Patience));
    for (pid_t helper : std::as_const(helperPids))
        QVERIFY(QTest::qWaitFor([helper] { return processDead(helper); }, Patience));
}

// The server has ended but a helper of its still holds the terminal and prints: the run goes
// on, and Stop ends it with everything of it, adding no exit-status line.
void ServerTest::serverExitedWhileItsHelpersPrint()
{
    storePreferences(
        {{SettingsKeys::serverOptions, QStringLiteral("--children 1 --interval 50 --exit")}});
    const auto w = openWindow(m_launcher);
    Launcher *launcher = w->launcher();
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0);
    QList<pid_t> helperPids;
    QVERIFY(
        QTest::qWaitFor([&] { return (helperPids = announcedHelpers(*w)).size() == 2; }, Patience));
    // Ended, and held as a zombie so that its group cannot be taken by anyone else.
    QVERIFY(QTest::qWaitFor([pid] { return childProcesses().value(pid) == 'Z'; }, Patience));
    // Either helper may have announced itself first.
    const QString tick = QStringLiteral(" %1 tick 3").arg(helperPids.first());
    QVERIFY(QTest::qWaitFor(
        [&] {
            const QStringList all = lines(*w);
            return std::any_of(all.begin(), all.end(),
                               [&tick](const QString &line) { return line.endsWith(tick); });
        },
        Patience));
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QCOMPARE(launcher->server(), pid);

    launcher->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QVERIFY(drained(*w));
    for (pid_t helper : std::as_const(helperPids))
        QVERIFY(QTest::qWaitFor([helper] { return processDead(helper); }, Patience));
    QVERIFY(processGone(pid));
    const QStringList all = lines(*w);
    QCOMPARE(all.count(Separator), 1);
    for (const QString &line : all)
        QVERIFY2(!line.startsWith(u"Server exited") && !line.startsWith(u"Server was killed"),
                 qPrintable(line));
}

// SIGTERM, SIGINT and SIGHUP each arrive on the event loop, not inside the handler. That main.cpp
// closes the window on them, and the real launcher's exit, are e2e_signals_with_server's.
void ServerTest::terminationSignalsReachTheEventLoop_data()
{
    QTest::addColumn<int>("signal");
    for (int signal : TerminationSignals::Signals)
        QTest::addRow("%s", ::sigabbrev_np(signal)) << signal;
}

void ServerTest::terminationSignalsReachTheEventLoop()
{
    QFETCH(int, signal);
    TerminationSignals termination;
    QVERIFY(termination.isActive());
    QList<int> received;
    connect(&termination, &TerminationSignals::received, this,
            [&received](int number) { received << number; });
    QCOMPARE(::raise(signal), 0);
    QCOMPARE(received, QList<int>{});
    QTRY_COMPARE_WITH_TIMEOUT(received, QList<int>{signal}, Patience);
}

void ServerTest::playWhileServerRuns()
{
    const QString serverRecord = m_dir.filePath(QStringLiteral("beside-server.json"));
    qputenv("ORVANE_RECORD", QFile::encodeName(serverRecord));
    const auto w = openWindow(m_launcher);
    const pid_t server = startServer(*w);
    QVERIFY(server > 0);
    QCOMPARE(waitForRecord(serverRecord).value(QStringLiteral("mode")).toString(),
             QStringLiteral("server"));

    QList<qint64> games;
    for (int i = 0; i < 2; ++i) {
        const QString record = m_dir.filePath(QStringLiteral("beside-game-%1.json").arg(i));
        qputenv("ORVANE_RECORD", QFile::encodeName(record));
        w->launcher()->playAction();
        const QJsonObject rec = waitForRecord(record, true);
        QCOMPARE(rec.value(QStringLiteral("mode")).toString(), QStringLiteral("game"));
        games << rec.value(QStringLiteral("pid")).toInteger();
        QCOMPARE(w->terminateCalls, 0);
        QCOMPARE(w->launcher()->server(), server);
        QCOMPARE(title(*w), QStringLiteral("Stop"));
        // The game must not hold the server's terminal: it would keep the run from ever ending.
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(games.last()));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = fd.symLinkTarget();
            QVERIFY2(target != u"/dev/ptmx" && !target.startsWith(u"/dev/pts/"),
                     qPrintable(target));
        }
    }
    QVERIFY(games.at(0) != games.at(1));

    QVERIFY(stopServer(*w));
}

void ServerTest::commandsRoundTripAndHistory()
{
    storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--commands")}});
    const auto w = openWindow(m_launcher);
    QLineEdit *field = commandLine(*w);
    QCOMPARE(field->accessibleName(), QStringLiteral("Server command"));
    QVERIFY(!field->isEnabled());
    w->launcher()->multiplayerAction();
    QVERIFY(field->isEnabled());
    QVERIFY(waitForLine(*w, ReadyLine));

    typeCommand(*w, QStringLiteral("say hello there"));
    QCOMPARE(field->text(), QString());
    QVERIFY(waitForLine(*w, QStringLiteral("Console: hello there")));
    // The launcher's echo after its prompt mark comes first, a row of its own kind; the terminal
    // echoes nothing.
    const QStringList seen = lines(*w);
    const int echo = int(seen.indexOf(QStringLiteral("> say hello there")));
    QVERIFY(echo >= 0 && echo < seen.indexOf(QStringLiteral("Console: hello there")));
    QCOMPARE(w->interface->serverUi().console->model().kind(echo), ConsoleModel::RowKind::Command);
    QVERIFY(!seen.contains(QStringLiteral("say hello there")));
    typeCommand(*w, QStringLiteral("say Grüße ☃"));
    QVERIFY(waitForLine(*w, QStringLiteral("Console: Grüße ☃")));
    typeCommand(*w, QStringLiteral("players"));
    QVERIFY(waitForLine(*w, QStringLiteral("Players: 0")));
    typeCommand(*w, QStringLiteral("players")); // an immediate repeat
    typeCommand(*w, QStringLiteral("say secret hunter2"));
    QVERIFY(waitForLine(*w, QStringLiteral("Console: secret hunter2")));
    // A byte more than a terminal line: not sent, kept in the field, not in the history (below).
    const QString whole = "say " + QString(MaxTerminalLineBytes - 4, u'x');
    typeCommand(*w, whole + u'y');
    QCOMPARE(field->text(), whole + u'y');
    QVERIFY(waitForLine(*w, QStringLiteral("Command not sent: it is longer than the 4095 bytes "
                                           "the server's terminal takes in one line")));
    field->clear();

    // Up and Down in the field walk this session's commands, the repeat kept once.
    QTest::keyClicks(field, QStringLiteral("half"));
    const QStringList walk{"say secret hunter2", "players", "say Grüße ☃", "say hello there",
                           "say hello there"};
    for (const QString &expected : walk) {
        QTest::keyClick(field, Qt::Key_Up);
        QCOMPARE(field->text(), expected);
    }
    QTest::keyClick(field, Qt::Key_Down);
    QCOMPARE(field->text(), QStringLiteral("say Grüße ☃"));
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(field, Qt::Key_Down);
    QCOMPARE(field->text(), QStringLiteral("half"));
    QTest::keyClick(field, Qt::Key_Up);
    QTest::keyClick(field, Qt::Key_Return); // a recalled command is sent like a typed one
    QCOMPARE(field->text(), QString());
    QTRY_COMPARE_WITH_TIMEOUT(lines(*w).count(QStringLiteral("Console: secret hunter2")), 2,
                              Patience);
    typeCommand(*w, whole); // exactly a terminal line: it arrives whole
    QVERIFY(waitForLine(*w, "Console: " + whole.mid(4)));

    w->launcher()->multiplayerAction();
    QVERIFY(!field->isEnabled());
    QVERIFY(drained(*w));
    // Return in a disabled field (or with no server) sends nothing and keeps the text.
    field->setText(QStringLiteral("say late"));
    w->launcher()->sendServerCommand(field->text());
    QCOMPARE(field->text(), QStringLiteral("say late"));
    // Commands may hold passwords: they stay in memory.
    QFile prefs(preferencesFile());
    if (prefs.open(QIODevice::ReadOnly))
        QVERIFY(!prefs.readAll().contains("hunter2"));
}

void ServerTest::commandEndsTheServer_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("answer");
    QTest::newRow("quit") << "quit"
                          << "Server stopped.";
    QTest::newRow("exit status 3") << "exit 3"
                                   << "Exiting with status 3";
    QTest::newRow("signal 15") << "signal 15"
                               << "Raising signal 15";
}

void ServerTest::commandEndsTheServer()
{
    QFETCH(QString, command);
    QFETCH(QString, answer);
    storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--commands")}});
    const auto w = openWindow(m_launcher);
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0);
    QVERIFY(waitForLine(*w, ReadyLine));

    typeCommand(*w, command);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QVERIFY(!commandLine(*w)->isEnabled());
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));
    const QStringList all = lines(*w);
    QCOMPARE(all.last(), Separator);
    QCOMPARE(all.count(Separator), 1);
    QVERIFY(all.contains(answer));
    QVERIFY(all.indexOf(answer) > all.indexOf(command));
}

// A server that never reads its terminal: every Return comes straight back, commands wait in the
// launcher up to the limit, the one that would overflow it is refused with a line in the console
// and stays in the field, and Stop still works.
void ServerTest::serverThatNeverReads()
{
    storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--interval 60000")}});
    const auto w = openWindow(m_launcher);
    const pid_t pid = startServer(*w);
    QVERIFY(pid > 0);
    QVERIFY(waitForLine(*w, ReadyLine));

    QLineEdit *field = commandLine(*w);
    const QString big = QStringLiteral("say ") + QString(4000, u'x'); // within a terminal line
    const int limit = 1024 * 1024;
    int sent = 0;
    bool refused = false;
    while (!refused && sent <= 2 * limit / big.size()) {
        field->setText(big + QString::number(sent));
        QTest::keyClick(field, Qt::Key_Return);
        refused = !field->text().isEmpty();
        if (!refused)
            ++sent;
    }
    QVERIFY2(refused, "no command was refused");
    // The queue was full, not merely the terminal.
    QVERIFY(qint64(sent) * (big.size() + 3) >= limit - big.size() - 3);
    QCOMPARE(field->text(), big + QString::number(sent));
    const auto overflowLines = [&] {
        const QStringList all = lines(*w);
        return std::count_if(all.cbegin(), all.cend(), [](const QString &line) {
            return line.startsWith(u"Command not sent: the server is not reading its input (") &&
                   line.endsWith(u" KiB still waiting)");
        });
    };
    QCOMPARE(overflowLines(), 1);

    // A second try is refused the same way, and the window goes on working.
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!field->text().isEmpty());
    QCOMPARE(overflowLines(), 2);
    QCOMPARE(::kill(pid, 0), 0);
    w->launcher()->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));
}

void ServerTest::keyboardReachesTheCommandLine()
{
    storePreferences({{SettingsKeys::serverOptions, QStringLiteral("--commands")}});
    const auto w = openWindow(m_launcher);
    QMainWindow *window = w->interface->window();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    QLineEdit *field = commandLine(*w);
    ConsoleView *console = w->interface->serverUi().console;

    // Without a server Ctrl+2 shows the pane and leaves the disabled field alone.
    QTest::keyClick(window, Qt::Key_2, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(window->centralWidget(), w->launcher()->view2(), Patience);
    QVERIFY(!field->hasFocus());

    QTest::keyClick(window, Qt::Key_1, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(window->centralWidget(), w->launcher()->view1(), Patience);
    w->launcher()->multiplayerAction();
    QVERIFY(waitForLine(*w, ReadyLine));
    QTest::keyClick(window, Qt::Key_2, Qt::ControlModifier);
    QTRY_COMPARE_WITH_TIMEOUT(window->centralWidget(), w->launcher()->view2(), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(field->hasFocus(), Patience);

    // Tab goes from the console to the command line.
    console->setFocus(Qt::OtherFocusReason);
    QTRY_VERIFY(console->hasFocus());
    QTest::keyClick(console, Qt::Key_Tab);
    QTRY_VERIFY(field->hasFocus());
    QTest::keyClicks(field, QStringLiteral("say typed"));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(waitForLine(*w, QStringLiteral("Console: typed")));

    QVERIFY(stopServer(*w));
}

void ServerTest::serverOnAnotherMachine()
{
    // Port 1 here refuses at once: the window's attach and Start go through ssh and say so.
    storePreferences({{SettingsKeys::serverOn, QStringLiteral("ssh://127.0.0.1:1")}});
    const auto w = openWindow(m_launcher);
    QTRY_COMPARE_WITH_TIMEOUT(lines(*w).filter("refused the connection").size(), 1, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->remoteHost()->isConnecting());
    QTRY_COMPARE_WITH_TIMEOUT(lines(*w).filter("refused the connection").size(), 2, Patience);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QVERIFY(w->interface->serverUi().serverState->text().contains("refused the connection"));
}

VELMORA_LAUNCHER_TEST_MAIN(ServerTest)

#include "tst_server.moc"
