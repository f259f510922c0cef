// The dedicated server driven through the whole launcher window: the argument vector and working
// directory a real child receives, Start/Stop and the console, runs that end by themselves or
// never start, closing the window, Play beside a server, many cycles without leaks, decoding, and
// keeping the password out of sight.
#include "LauncherFixture.h"

#include "ConsoleView.h"
#include "LauncherPaths.h"
#include "Preferences.h"
#include "PtyTestSupport.h"
#include "ServerRun.h"
#include "SettingsBinding.h"
#include "SettingsKeys.h"
#include "ui_Launcher.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMainWindow>
#include <QPushButton>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace LauncherFixture;
using PtyTestSupport::childProcesses;
using PtyTestSupport::openDescriptors;

namespace {

// Generous: two cores shared with other builds, and sanitizer builds fork slowly.
constexpr int Patience = 30000;

const QString Separator = QStringLiteral(" ");
// The pseudo-terminal turns each line feed into CR LF, and the launcher passes the CR on.
const QString LaunchError = QStringLiteral("Error - can't launch server\r");

QStringList strings(const QJsonValue &array)
{
    QStringList out;
    for (const QJsonValue &v : array.toArray())
        out << v.toString();
    return out;
}

bool processGone(pid_t pid)
{
    return ::kill(pid, 0) == -1 && errno == ESRCH;
}

// Captures every message while alive, debug categories included.
class MessageCapture
{
public:
    MessageCapture()
    {
        s_messages.clear();
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
        m_previous = qInstallMessageHandler(&MessageCapture::handle);
    }
    ~MessageCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    static QStringList messages() { return s_messages; }

private:
    static void handle(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        s_messages << message;
    }
    static inline QStringList s_messages;
    QtMessageHandler m_previous = nullptr;
};

} // namespace

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
    void serverEndsByItself_data();
    void serverEndsByItself();
    void missingGame_data();
    void missingGame();
    void forkPtyFailure();
    void closingTheWindowKillsTheServer_data();
    void closingTheWindowKillsTheServer();
    void playWhileServerRuns();
    void outputAfterStop_data();
    void outputAfterStop();
    void manyCyclesLeaveNothingBehind();
    void serverInheritsOnlyItsTerminal();

    void decoding_data();
    void decoding();
    void passwordStaysPrivate_data();
    void passwordStaysPrivate();

private:
    QString scriptLauncher(const QString &folder, const QByteArray &body);
    QJsonObject waitForRecord(const QString &file, bool game = false);
    static QStringList lines(const Window &w) { return w.interface->ui().console->lines(); }
    static QString title(const Window &w) { return w.interface->ui().multiplayer->text(); }
    static bool waitForLine(const Window &w, const QString &line)
    {
        return QTest::qWaitFor([&] { return lines(w).contains(line); }, Patience);
    }
    // Every run's output has ended and its child is reaped; the runs themselves are gone too.
    static bool drained(const Window &w)
    {
        if (!QTest::qWaitFor([&] { return w.launcher()->activeRunCount() == 0; }, Patience))
            return false;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return true;
    }

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

// A launcher folder whose game executable is a shell script.
QString ServerTest::scriptLauncher(const QString &folder, const QByteArray &body)
{
    const QString root = m_dir.filePath(folder);
    const QString exeDir = root + QStringLiteral("/Orvane/orvane.app/Contents/MacOS");
    QDir().mkpath(exeDir);
    PtyTestSupport::writeScript(exeDir, QStringLiteral("orvane"), body);
    return root + QStringLiteral("/velmora-launcher");
}

QJsonObject ServerTest::waitForRecord(const QString &file, bool game)
{
    // An empty object fails the caller's comparisons.
    if (!QTest::qWaitFor([&] { return QFile::exists(file); }, Patience))
        qWarning("no record at %s", qPrintable(file));
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject record = QJsonDocument::fromJson(f.readAll()).object();
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
    QTest::newRow("nothing set") << absent << absent << absent << none << QStringList{"-d"};
    QTest::newRow("everything empty") << ""
                                      << ""
                                      << "" << QVariant(0) << QStringList{"-d"};
    QTest::newRow("every setting, in order")
        << "+map arena"
        << "Friday night"
        << "hunter2" << QVariant(16)
        << QStringList{"-d", "+map", "arena", "-nFriday night", "-phunter2", "-c16"};
    QTest::newRow("leading, trailing and repeated spaces")
        << "  +map   arena  -x " << absent << absent << none
        << QStringList{"-d", "+map", "arena", "-x"};
    QTest::newRow("options of only spaces")
        << "    " << absent << absent << none << QStringList{"-d"};
    QTest::newRow("tabs and quotes stay inside pieces")
        << "a\tb \"x y\"" << absent << absent << none << QStringList{"-d", "a\tb", "\"x", "y\""};
    QTest::newRow("description of only spaces")
        << absent << "   " << absent << none << QStringList{"-d", "-n   "};
    QTest::newRow("password of one space")
        << absent << absent << " " << none << QStringList{"-d", "-p "};
    QTest::newRow("inner spaces stay one argument")
        << absent << "  big  room "
        << "open  sesame now" << none << QStringList{"-d", "-n  big  room ", "-popen  sesame now"};
    QTest::newRow("non-ASCII") << "--name=Jürgen"
                               << "Ünïcødé ☃"
                               << "pässwörd" << none
                               << QStringList{"-d", "--name=Jürgen", "-nÜnïcødé ☃", "-ppässwörd"};
    QTest::newRow("maxclients 0") << absent << absent << absent << QVariant(0) << QStringList{"-d"};
    QTest::newRow("maxclients negative")
        << absent << absent << absent << QVariant(-3) << QStringList{"-d"};
    QTest::newRow("maxclients 16")
        << absent << absent << absent << QVariant(16) << QStringList{"-d", "-c16"};
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
    w->launcher()->multiplayerAction();
    const pid_t pid = w->launcher()->server;
    QVERIFY(pid > 0);
    const QJsonObject rec = waitForRecord(record);
    QCOMPARE(strings(rec.value(QStringLiteral("arguments"))), expected);
    QCOMPARE(rec.value(QStringLiteral("argv0")).toString(),
             LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(m_launcher)));
    QCOMPARE(rec.value(QStringLiteral("mode")).toString(), QStringLiteral("server"));
    QCOMPARE(rec.value(QStringLiteral("pid")).toInteger(), qint64(pid));

    w->launcher()->multiplayerAction();
    QVERIFY(drained(*w));
}

void ServerTest::workingDirectory_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("spaces") << "My Games/Velmora Launcher";
    QTest::newRow("quotes") << "it's \"quoted\"";
    QTest::newRow("non-ASCII") << "Spiele/Ünïcødé ☃";
    QTest::newRow("trailing space and backslash") << "odd\\ folder ";
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
    QVERIFY(waitForLine(*w, QStringLiteral("Server ready.\r")));

    w->launcher()->multiplayerAction();
    QVERIFY(drained(*w));
}

// The script ignores every catchable ending signal, so only SIGKILL stops it. A grandchild keeps
// the terminal open until the killed script is reaped and a while longer, so the first run's
// output ends while the second run is already serving. The grandchild exists before the script
// says it has started, so a Stop on that line cannot come first.
static const QByteArray lingeringServer = R"(trap '' HUP INT TERM QUIT
( while kill -0 $$ 2>/dev/null; do sleep 0.05; done; sleep 0.5; echo "run $$ late" ) &
echo "run $$ started"
exec sleep 1000
)";

void ServerTest::startStopAndStartAgain()
{
    const auto w = openWindow(scriptLauncher(QStringLiteral("lingering"), lingeringServer));
    Launcher *launcher = w->launcher();
    QCOMPARE(title(*w), QStringLiteral("Start"));

    launcher->multiplayerAction();
    const pid_t first = launcher->server;
    QVERIFY(first > 0);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 started\r").arg(first)));

    // A start while one runs changes nothing.
    launcher->setServerActive(true);
    QCOMPARE(launcher->server, first);
    QCOMPARE(launcher->activeRunCount(), 1);

    launcher->multiplayerAction();
    QCOMPARE(launcher->server, pid_t(-1));
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(lines(*w).last(), Separator);
    // A stop while none runs changes nothing.
    launcher->setServerActive(false);
    QCOMPARE(lines(*w).count(Separator), 1);

    launcher->multiplayerAction();
    const pid_t second = launcher->server;
    QVERIFY(second > 0);
    QVERIFY(second != first);
    QCOMPARE(title(*w), QStringLiteral("Stop"));

    // The first run's end arrives now, and leaves the second server alone.
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 late\r").arg(first)));
    QTRY_COMPARE_WITH_TIMEOUT(launcher->activeRunCount(), 1, Patience);
    QVERIFY(processGone(first)); // killed although it ignores the rest, and reaped
    QCOMPARE(launcher->server, second);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QCOMPARE(::kill(second, 0), 0);
    QCOMPARE(lines(*w).count(Separator), 1);
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 started\r").arg(second)));

    launcher->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QVERIFY(drained(*w));
    QVERIFY(processGone(second));
    const QStringList all = lines(*w);
    QCOMPARE(all.count(Separator), 2);
    QVERIFY(all.indexOf(QStringLiteral("run %1 late\r").arg(second)) > all.lastIndexOf(Separator));
}

void ServerTest::serverEndsByItself_data()
{
    QTest::addColumn<QString>("options");
    QTest::addColumn<QStringList>("lastLines"); // the run's last lines before the separator

    QTest::newRow("a few log lines")
        << "--lines 3 --interval 10"
        << QStringList{"[00:00:00] heartbeat 3: 0 players\r", "Server stopped.\r"};
    QTest::newRow("exit after the banner") << "--exit" << QStringList{"Server ready.\r"};
    QTest::newRow("failure status") << "--exit-code 3" << QStringList{"Server ready.\r"};
    QTest::newRow("last text without a line feed")
        << "--no-newline partial --then-exit" << QStringList{"Server ready.\r", "partial"};
}

void ServerTest::serverEndsByItself()
{
    QFETCH(QString, options);
    QFETCH(QStringList, lastLines);
    {
        Preferences prefs;
        prefs.setString(SettingsKeys::serverOptions, options);
        prefs.sync();
    }
    const auto w = openWindow(m_launcher);
    w->launcher()->multiplayerAction();
    const pid_t pid = w->launcher()->server;
    QVERIFY(pid > 0);

    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QCOMPARE(w->launcher()->server, pid_t(-1));
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));

    const QStringList all = lines(*w);
    QCOMPARE(all.first(), QStringLiteral("Orvane dedicated server (stand-in), pid %1\r").arg(pid));
    QCOMPARE(all.count(Separator), 1);
    QCOMPARE(all.last(), Separator);
    QCOMPARE(all.mid(all.size() - 1 - lastLines.size(), lastLines.size()), lastLines);
}

void ServerTest::missingGame_data()
{
    QTest::addColumn<QString>("breakage");
    QTest::newRow("game executable missing") << "missing";
    QTest::newRow("game executable not executable") << "not executable";
    QTest::newRow("game directory missing") << "no directory";
}

void ServerTest::missingGame()
{
    QFETCH(QString, breakage);
    const QString folder = m_dir.filePath(QStringLiteral("server broken ") + breakage);
    const QString exe = makeLauncherFolder(folder);
    const QString game = LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(exe));
    if (breakage == u"missing")
        QVERIFY(QFile::remove(game));
    else if (breakage == u"not executable")
        QVERIFY(QFile::setPermissions(game, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
    else
        QVERIFY(QDir(folder + QStringLiteral("/Orvane")).removeRecursively());

    const auto w = openWindow(exe);
    w->launcher()->multiplayerAction();
    const pid_t pid = w->launcher()->server;
    QVERIFY(pid > 0); // the child exists; only its exec fails
    QCOMPARE(title(*w), QStringLiteral("Stop"));

    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QVERIFY(drained(*w));
    QCOMPARE(lines(*w), (QStringList{LaunchError, Separator}));
    QCOMPARE(w->launcher()->server, pid_t(-1));
    QVERIFY(processGone(pid));
}

void ServerTest::forkPtyFailure()
{
    const auto w = openWindow(m_launcher);
    const int descriptors = openDescriptors().size();
    ServerRun::setForkPty(+[](int *, char *, const termios *, const winsize *) -> pid_t {
        errno = EAGAIN;
        return -1;
    });

    w->launcher()->multiplayerAction();
    QCOMPARE(w->launcher()->server, pid_t(-1));
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(lines(*w), QStringList{QStringLiteral("Error - can't launch server")});
    // Pressed again, the same: still no server, so the button asks for a start each time.
    w->launcher()->multiplayerAction();
    QCOMPARE(lines(*w), QStringList(2, QStringLiteral("Error - can't launch server")));
    QCOMPARE(w->launcher()->activeRunCount(), 0);
    QCOMPARE(openDescriptors().size(), descriptors);
    QVERIFY(childProcesses().isEmpty());

    // Once processes can be made again, Start works.
    ServerRun::setForkPty(nullptr);
    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server > 0);
    QCOMPARE(title(*w), QStringLiteral("Stop"));
    QVERIFY(waitForLine(*w, QStringLiteral("Server ready.\r")));
    w->launcher()->multiplayerAction();
    QVERIFY(drained(*w));
}

void ServerTest::closingTheWindowKillsTheServer_data()
{
    QTest::addColumn<bool>("script");
    QTest::addColumn<bool>("destroy"); // the launcher goes right after, as when the program ends
    QTest::newRow("stand-in, window kept") << false << false;
    QTest::newRow("stand-in, launcher destroyed") << false << true;
    QTest::newRow("hangup ignored, window kept") << true << false;
    QTest::newRow("hangup ignored, launcher destroyed") << true << true;
}

void ServerTest::closingTheWindowKillsTheServer()
{
    QFETCH(bool, script);
    QFETCH(bool, destroy);
    const QString exe =
        script
            ? scriptLauncher(QStringLiteral("stubborn"),
                             "trap '' HUP INT TERM QUIT\necho 'Server ready.'\nexec sleep 1000\n")
            : m_launcher;
    auto w = openWindow(exe);
    w->interface->window()->show();
    w->launcher()->multiplayerAction();
    const pid_t pid = w->launcher()->server;
    QVERIFY(pid > 0);
    QVERIFY(waitForLine(*w, QStringLiteral("Server ready.\r")));

    QVERIFY(w->interface->window()->close());
    QCOMPARE(w->terminateCalls, 1);
    QCOMPARE(w->launcher()->server, pid_t(-1));
    QCOMPARE(lines(*w).last(), Separator);
    if (destroy)
        w.reset();
    QVERIFY(QTest::qWaitFor([pid] { return processGone(pid); }, Patience));
}

void ServerTest::playWhileServerRuns()
{
    const QString serverRecord = m_dir.filePath(QStringLiteral("beside-server.json"));
    qputenv("ORVANE_RECORD", QFile::encodeName(serverRecord));
    const auto w = openWindow(m_launcher);
    w->launcher()->multiplayerAction();
    const pid_t server = w->launcher()->server;
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
        QCOMPARE(w->launcher()->server, server);
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

    w->launcher()->multiplayerAction();
    QVERIFY(drained(*w));
}

// Output still in the terminal after Stop is shown after the separator, and its end adds nothing.
void ServerTest::outputAfterStop_data()
{
    QTest::addColumn<bool>("flood");
    QTest::newRow("writer that outlives the server") << false;
    QTest::newRow("flood") << true;
}

void ServerTest::outputAfterStop()
{
    QFETCH(bool, flood);
    QString exe = m_launcher;
    if (flood) {
        Preferences prefs;
        prefs.setString(SettingsKeys::serverOptions, QStringLiteral("--flood 1000000000"));
        prefs.sync();
    } else {
        // Writes only once the killed server has been reaped, so every line comes after Stop.
        exe = scriptLauncher(QStringLiteral("after stop"), R"(trap '' HUP
( while kill -0 $$ 2>/dev/null; do sleep 0.05; done; for i in 1 2 3; do echo "after $i"; done ) &
echo serving
exec sleep 1000
)");
    }
    const auto w = openWindow(exe);
    w->launcher()->multiplayerAction();
    const pid_t pid = w->launcher()->server;
    QVERIFY(pid > 0);
    QVERIFY(QTest::qWaitFor([&] { return lines(*w).size() > (flood ? 20 : 0); }, Patience));

    w->launcher()->multiplayerAction();
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(lines(*w).last(), Separator);
    QVERIFY(drained(*w));
    QVERIFY(processGone(pid));
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(w->launcher()->server, pid_t(-1));

    const QStringList all = lines(*w);
    if (flood) {
        // The console keeps 201 lines, so a long tail may have pushed the separator out.
        QVERIFY(all.count(Separator) <= 1);
        QVERIFY(all.last().startsWith(u"flood "));
    } else {
        QCOMPARE(all, (QStringList{"serving\r", Separator, "after 1\r", "after 2\r", "after 3\r"}));
    }
}

void ServerTest::manyCyclesLeaveNothingBehind()
{
    const auto w = openWindow(m_launcher);
    Launcher *launcher = w->launcher();
    // One cycle first: the event dispatcher and friends open what they keep for good.
    launcher->multiplayerAction();
    launcher->multiplayerAction();
    QVERIFY(drained(*w));
    const QMap<int, QString> before = openDescriptors();

    for (int i = 0; i < 200; ++i) {
        launcher->multiplayerAction();
        QVERIFY(launcher->server > 0);
        // Every other run is killed before it could write, the rest once it has spoken.
        if (i % 2) {
            QVERIFY(waitForLine(*w, QStringLiteral("Orvane dedicated server (stand-in), pid %1\r")
                                        .arg(launcher->server)));
        }
        launcher->multiplayerAction();
        QCOMPARE(launcher->server, pid_t(-1));
        QVERIFY2(drained(*w), qPrintable(QStringLiteral("cycle %1").arg(i)));
    }
    QCOMPARE(title(*w), QStringLiteral("Start"));
    QCOMPARE(childProcesses(), (QMap<pid_t, char>()));
    QCOMPARE(openDescriptors().keys(), before.keys());
}

void ServerTest::serverInheritsOnlyItsTerminal()
{
    // A stopped run still draining holds its master when the next server starts: the new child
    // must get neither that nor anything else of the launcher's.
    const QString exe = scriptLauncher(QStringLiteral("inherit"), lingeringServer);
    const QString game = LauncherPaths::gameExecutable(LauncherPaths::gameDirectory(exe));
    const QString report = m_dir.filePath(QStringLiteral("inherit.report"));
    qputenv("VELMORA_PROBE_OUT", QFile::encodeName(report));
    const auto w = openWindow(exe);
    w->launcher()->multiplayerAction();
    const pid_t first = w->launcher()->server;
    QVERIFY(first > 0);
    QVERIFY(waitForLine(*w, QStringLiteral("run %1 started\r").arg(first)));
    w->launcher()->multiplayerAction();

    // The next start runs whatever lies at the game's path by then.
    QVERIFY(QFile::remove(game));
    QVERIFY(QFile::copy(QStringLiteral(PTY_PROBE), game));
    QVERIFY(QFile::setPermissions(game, QFile::permissions(QStringLiteral(PTY_PROBE))));
    QCOMPARE(w->launcher()->activeRunCount(), 1);
    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server > 0);
    QVERIFY(drained(*w));
    qunsetenv("VELMORA_PROBE_OUT");

    const PtyTestSupport::ProbeReport r = PtyTestSupport::readProbeReport(report);
    QVERIFY(r.complete);
    QCOMPARE(r.argv, (QByteArrayList{QFile::encodeName(game), "-d"}));
    QCOMPARE(r.descriptors.size(), 3);
    const QByteArray terminal = r.descriptors.at(0).mid(2);
    QVERIFY2(terminal.startsWith("/dev/pts/"), terminal.constData());
    QCOMPARE(r.descriptors, (QByteArrayList{"0 " + terminal, "1 " + terminal, "2 " + terminal}));
}

void ServerTest::decoding_data()
{
    QTest::addColumn<QByteArray>("script"); // empty: the stand-in with --binary
    QTest::addColumn<QString>("expected");  // the output's lines joined, separator excluded

    QTest::newRow("invalid bytes among valid ones")
        << QByteArray() << QStringLiteral("binary: \uFFFD\uFFFD\uFFFD café € end\r");
    // A line split across reads may show as several console lines; joined, it must read whole.
    QTest::newRow("sequences split across reads")
        << QByteArray(R"(printf 'split: caf\303'; sleep 0.2; printf '\251 \342\202'; sleep 0.2
printf '\254 end\n'
)") << QStringLiteral("split: café € end\r");
    QTest::newRow("7-bit text unchanged") << QByteArray(R"(printf 'tab\there ~{|}\033[0m\n')")
                                          << QStringLiteral("tab\there ~{|}\x1b[0m\r");
    QTest::newRow("truncated sequence at the end of output")
        << QByteArray(R"(printf 'tail \303')") << QStringLiteral("tail \uFFFD");
}

void ServerTest::decoding()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, expected);
    QString exe = m_launcher;
    if (script.isEmpty()) {
        Preferences prefs;
        prefs.setString(SettingsKeys::serverOptions, QStringLiteral("--binary --then-exit"));
        prefs.sync();
    } else {
        exe = scriptLauncher(QStringLiteral("decoding %1").arg(++m_serial), script);
    }
    const auto w = openWindow(exe);
    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server > 0);
    QTRY_COMPARE_WITH_TIMEOUT(title(*w), QStringLiteral("Start"), Patience);
    QVERIFY(drained(*w));

    QStringList all = lines(*w);
    QCOMPARE(all.last(), Separator);
    all.removeLast();
    if (script.isEmpty()) {
        // Past the banner: the stand-in's binary line comes right after "Server ready.".
        all = all.mid(all.indexOf(QStringLiteral("Server ready.\r")) + 1);
    }
    QCOMPARE(all.join(QString()), expected);
}

void ServerTest::passwordStaysPrivate_data()
{
    QTest::addColumn<bool>("openFileBefore"); // a preferences file that others could read
    QTest::newRow("new preferences file") << false;
    QTest::newRow("world-readable file from before") << true;
}

void ServerTest::passwordStaysPrivate()
{
    QFETCH(bool, openFileBefore);
    const QString secret = QStringLiteral("s3cret-Passw0rd");
    const QString file = QSettings(QSettings::NativeFormat, QSettings::UserScope,
                                   QStringLiteral("Velmora"), QStringLiteral("Launcher"))
                             .fileName();
    if (openFileBefore) {
        {
            Preferences prefs;
            prefs.setString(SettingsKeys::serverDescription, QStringLiteral("Old"));
            prefs.sync();
        }
        QCOMPARE(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    } else {
        QFile::remove(file);
    }

    const auto w = openWindow(m_launcher);
    MessageCapture capture;
    QLineEdit *edit = w->interface->ui().serverPasswordEdit;
    w->interface->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(w->interface->window()));
    edit->setFocus();
    QTest::keyClicks(edit, secret);
    w->interface->binding()->commitEditing();
    QCOMPARE(Preferences().stringForKey(SettingsKeys::serverPassword), secret);
    struct stat info = {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));

    w->launcher()->multiplayerAction();
    QVERIFY(w->launcher()->server > 0);
    QVERIFY(waitForLine(*w, QStringLiteral("Password: set\r")));
    w->launcher()->multiplayerAction();
    QVERIFY(drained(*w));

    for (const QString &line : lines(*w))
        QVERIFY2(!line.contains(secret), qPrintable(line));
    for (const QString &message : MessageCapture::messages())
        QVERIFY2(!message.contains(secret), "the password reached a log message");
}

int main(int argc, char **argv)
{
    QTemporaryDir config;
    usePrivatePreferences(config.path());
    QApplication app(argc, argv);
    ServerTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_server.moc"
