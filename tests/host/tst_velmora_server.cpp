// velmora-server as a host would use it: real processes, a launcher folder of its own beside
// the stand-in game, private preferences, runtime and state folders. The detached host always;
// the transient systemd unit where a user manager answers.
#include "HostClient.h"
#include "HostStarter.h"
#include "HostTestSupport.h"
#include "LauncherFixture.h"
#include "ProcessTestSupport.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

using ProcessTestSupport::Patience;
using ProcessTestSupport::processDead;

namespace {

struct Ran
{
    int status = -1;
    QString out;
    QString err;
};

// The number after `label` in `text` ("process 123"), 0 when there is none.
pid_t numberAfter(const QString &text, const QString &label)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QRegularExpression::escape(label) + QStringLiteral(" (\\d+)"))
            .match(text);
    return match.hasMatch() ? pid_t(match.captured(1).toInt()) : 0;
}

pid_t parentOf(pid_t pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    return pid_t(line.mid(line.lastIndexOf(')') + 2).split(' ').value(1).toInt());
}

} // namespace

class VelmoraServerTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();
    void detachedHostLifecycle();
    void hostKilledTakesServerAndIsReplaced();
    void foregroundStopsOnSignal_data();
    void foregroundStopsOnSignal();
    void startSaysWhyNot();
    void protocolOverStandardStreams();
    void systemdUserUnit();

private:
    Ran server(const QStringList &arguments, int timeout = Patience);
    QProcess *spawn(const QStringList &arguments);
    QString program() const { return m_folder.path() + QStringLiteral("/velmora-server"); }

    QTemporaryDir m_folder;
    QProcessEnvironment m_env;
    std::unique_ptr<HostTestSupport::PrivateRuntime> m_runtime;
    QList<QProcess *> m_spawned;
};

void VelmoraServerTest::initTestCase()
{
    LauncherFixture::makeLauncherFolder(m_folder.path());
    QVERIFY(QFile::exists(program()));
}

void VelmoraServerTest::init()
{
    m_runtime = std::make_unique<HostTestSupport::PrivateRuntime>();
    LauncherFixture::clearPreferences();
    LauncherFixture::storePreferences({{QStringLiteral("server_options"), "--commands"},
                                       {QStringLiteral("server_description"), "Cli"}});
    m_env = QProcessEnvironment::systemEnvironment();
}

void VelmoraServerTest::cleanup()
{
    server({QStringLiteral("stop")});
    for (QProcess *process : std::as_const(m_spawned)) {
        process->kill();
        process->waitForFinished();
        delete process;
    }
    m_spawned.clear();
    m_runtime.reset();
}

Ran VelmoraServerTest::server(const QStringList &arguments, int timeout)
{
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(program(), arguments);
    Ran ran;
    if (!process.waitForFinished(timeout)) {
        process.kill();
        process.waitForFinished();
        return ran;
    }
    ran.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

QProcess *VelmoraServerTest::spawn(const QStringList &arguments)
{
    auto *process = new QProcess;
    m_spawned << process;
    process->setProcessEnvironment(m_env);
    process->start(program(), arguments);
    return process;
}

void VelmoraServerTest::answersWithoutDisplay_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("language");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("says");
    const QString launcher = QStringLiteral("velmora-launcher");
    const QString host = QStringLiteral("velmora-server");
    QTest::newRow("launcher --help")
        << launcher << QStringList{"--help"} << "C" << 0 << "Usage: velmora-launcher";
    QTest::newRow("launcher --version")
        << launcher << QStringList{"--version"} << "C" << 0 << "velmora-launcher 1.";
    QTest::newRow("server --help")
        << host << QStringList{"--help"} << "C" << 0 << "attach [--protocol]";
    QTest::newRow("server -v") << host << QStringList{"-v"} << "C" << 0 << "velmora-server 1.";
    QTest::newRow("server --help in German")
        << host << QStringList{"--help"} << "de_DE.UTF-8" << 0 << "Aufruf: velmora-server";
    QTest::newRow("unknown command") << host << QStringList{"frobnicate"} << "C" << 2 << "";
    QTest::newRow("send without text") << host << QStringList{"send"} << "C" << 2 << "";
}

void VelmoraServerTest::answersWithoutDisplay()
{
    QFETCH(QString, executable);
    QFETCH(QStringList, arguments);
    QFETCH(QString, language);
    QFETCH(int, status);
    QFETCH(QString, says);
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        m_env.remove(QLatin1String(name));
    m_env.insert(QStringLiteral("LC_ALL"), language);
    QProcess process;
    process.setProcessEnvironment(m_env);
    // The launcher as built; the host from the launcher folder.
    process.start((executable == u"velmora-server" ? m_folder.path()
                                                   : qEnvironmentVariable("VELMORA_BUILD_DIR")) +
                      u'/' + executable,
                  arguments);
    QVERIFY(process.waitForFinished(Patience));
    QCOMPARE(process.exitCode(), status);
    QVERIFY2(QString::fromUtf8(process.readAllStandardOutput()).contains(says),
             qPrintable(process.readAllStandardError()));
}

void VelmoraServerTest::detachedHostLifecycle()
{
    const Ran started = server({QStringLiteral("start"), QStringLiteral("--detached")});
    QCOMPARE(started.status, 0);
    const pid_t pid = numberAfter(started.out, QStringLiteral("process"));
    QVERIFY2(pid > 0, qPrintable(started.out + started.err));

    const Ran status = server({QStringLiteral("status")});
    QCOMPARE(status.status, 0);
    QVERIFY(status.out.contains(QStringLiteral("State: running")));
    QCOMPARE(numberAfter(status.out, QStringLiteral("Process:")), pid);
    // The host outlives its starter in a session of its own, and the server is its child.
    const pid_t host = numberAfter(status.out, QStringLiteral("(process"));
    QCOMPARE(::getsid(host), host);
    QCOMPARE(parentOf(pid), host);
    // Never a second host or server.
    const Ran again = server({QStringLiteral("start"), QStringLiteral("--detached")});
    QCOMPARE(again.status, 0);
    QCOMPARE(numberAfter(again.out, QStringLiteral("process")), pid);

    QCOMPARE(server({QStringLiteral("send"), QStringLiteral("say"), QStringLiteral("sent")}).status,
             0);
    // Attached: the rows so far, then live; typed lines go to the server.
    QProcess *attach = spawn({QStringLiteral("attach")});
    QVERIFY(
        QTest::qWaitFor([&] { return attach->peek(1 << 20).contains("Console: sent"); }, Patience));
    attach->write("say typed\n");
    QVERIFY(QTest::qWaitFor([&] { return attach->peek(1 << 20).contains("Console: typed"); },
                            Patience));
    // A second attached client sees it too, and Ctrl+C detaches it.
    QProcess *second = spawn({QStringLiteral("attach")});
    QVERIFY(QTest::qWaitFor([&] { return second->peek(1 << 20).contains("Console: typed"); },
                            Patience));
    ::kill(pid_t(second->processId()), SIGINT);
    QVERIFY(second->waitForFinished(Patience));
    QCOMPARE(second->exitCode(), 0);
    // The end of input detaches; a client killed outright leaves it running as well.
    attach->closeWriteChannel();
    QVERIFY(attach->waitForFinished(Patience));
    QCOMPARE(attach->exitCode(), 0);
    QProcess *killed = spawn({QStringLiteral("attach")});
    QVERIFY(killed->waitForStarted(Patience) &&
            QTest::qWaitFor([&] { return killed->bytesAvailable() > 0; }, Patience));
    killed->kill();
    QVERIFY(killed->waitForFinished(Patience));
    QCOMPARE(server({QStringLiteral("status")}).status, 0);

    const Ran stopped = server({QStringLiteral("stop")});
    QCOMPARE(stopped.status, 0);
    QVERIFY(QTest::qWaitFor([&] { return processDead(pid) && processDead(host); }, Patience));
    const Ran after = server({QStringLiteral("status")});
    QCOMPARE(after.status, 3);
    QVERIFY2(after.out.contains(QStringLiteral("Last run: Stopped")), qPrintable(after.out));
    QCOMPARE(server({QStringLiteral("send"), QStringLiteral("late")}).status, 1);
}

void VelmoraServerTest::hostKilledTakesServerAndIsReplaced()
{
    QCOMPARE(server({QStringLiteral("start"), QStringLiteral("--detached")}).status, 0);
    const Ran status = server({QStringLiteral("status")});
    const pid_t pid = numberAfter(status.out, QStringLiteral("Process:"));
    const pid_t host = numberAfter(status.out, QStringLiteral("(process"));
    QVERIFY(pid > 0 && host > 0);
    ::kill(host, SIGKILL);
    QVERIFY(QTest::qWaitFor([&] { return processDead(pid); }, Patience));
    // Its socket and lock are still there; the next host takes their place.
    QCOMPARE(server({QStringLiteral("status")}).status, 3);
    const Ran next = server({QStringLiteral("start"), QStringLiteral("--detached")});
    QCOMPARE(next.status, 0);
    QVERIFY(numberAfter(next.out, QStringLiteral("process")) != pid);
}

void VelmoraServerTest::foregroundStopsOnSignal_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
}

void VelmoraServerTest::foregroundStopsOnSignal()
{
    QFETCH(int, signal);
    QProcess *run = spawn({QStringLiteral("run")});
    QVERIFY(
        QTest::qWaitFor([&] { return run->peek(1 << 20).contains("Server ready."); }, Patience));
    const Ran status = server({QStringLiteral("status")});
    QVERIFY(status.out.contains(QStringLiteral("in the foreground")));
    const pid_t pid = numberAfter(status.out, QStringLiteral("Process:"));
    ::kill(pid_t(run->processId()), signal);
    QVERIFY(run->waitForFinished(Patience));
    QCOMPARE(run->exitStatus(), QProcess::NormalExit);
    QCOMPARE(run->exitCode(), 0);
    QVERIFY(processDead(pid));
    QVERIFY(run->readAllStandardOutput().endsWith(" \n")); // the separator closes the run
}

void VelmoraServerTest::startSaysWhyNot()
{
    const QString game = LauncherFixture::gameExecutableOf(program());
    QVERIFY(QFile::rename(game, game + QStringLiteral(".away")));
    const Ran started = server({QStringLiteral("start"), QStringLiteral("--detached")});
    QVERIFY(QFile::rename(game + QStringLiteral(".away"), game));
    QCOMPARE(started.status, 1);
    QVERIFY2(started.err.contains(game), qPrintable(started.err));
    QCOMPARE(server({QStringLiteral("status")}).status, 3);
}

void VelmoraServerTest::protocolOverStandardStreams()
{
    QCOMPARE(server({QStringLiteral("start"), QStringLiteral("--detached")}).status, 0);
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd relayEnd(pair[1]);
    QProcess *relay = new QProcess;
    m_spawned << relay;
    relay->setProcessEnvironment(m_env);
    const int fd = relayEnd.get();
    relay->setChildProcessModifier([fd] {
        ::dup2(fd, STDIN_FILENO);
        ::dup2(fd, STDOUT_FILENO);
    });
    relay->start(program(), {QStringLiteral("attach"), QStringLiteral("--protocol")});
    QVERIFY(relay->waitForStarted(Patience));
    relayEnd.reset();
    HostClient client;
    QSignalSpy history(&client, &HostClient::historyReceived);
    client.open(UniqueFd(pair[0]), UniqueFd(), true);
    QTRY_VERIFY_WITH_TIMEOUT(history.size() == 1 && client.isRunning(), Patience);
    QSignalSpy answered(&client, &HostClient::commandAnswered);
    client.command(QStringLiteral("say relayed"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(answered.size() == 1, Patience);
    QCOMPARE(answered.first().at(1).toBool(), true);
    client.detach();
    QVERIFY(relay->waitForFinished(Patience));
    QCOMPARE(relay->exitCode(), 0);
    QCOMPARE(server({QStringLiteral("status")}).status, 0);
}

void VelmoraServerTest::systemdUserUnit()
{
    // The user's own runtime folder: the manager's socket is there, and so is the host's.
    m_runtime.reset();
    m_env = QProcessEnvironment::systemEnvironment();
    if (!HostStarter::userManagerReachable())
        QSKIP("no systemd user manager answers here ($XDG_RUNTIME_DIR/systemd/private): the "
              "detached host is tested instead");
    if (server({QStringLiteral("status")}).status != 3)
        QSKIP("a server host of this user runs already");
    const Ran started = server({QStringLiteral("start")}, 90000);
    QCOMPARE(started.status, 0);
    QVERIFY2(started.out.contains(QLatin1String(HostStarter::UnitName)), qPrintable(started.out));
    QByteArray active;
    QString whyNot;
    ProcessTestSupport::runTool(QStringLiteral("systemctl"),
                                {QStringLiteral("--user"), QStringLiteral("is-active"),
                                 QLatin1String(HostStarter::UnitName)},
                                m_env, &active, &whyNot);
    QCOMPARE(active.trimmed(), QByteArray("active"));
    QCOMPARE(server({QStringLiteral("stop")}).status, 0);
    QCOMPARE(server({QStringLiteral("status")}).status, 3);
}

VELMORA_LAUNCHER_TEST_MAIN(VelmoraServerTest)
#include "tst_velmora_server.moc"
