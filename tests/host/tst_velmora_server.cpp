// velmora-server as a host would use it, in a launcher folder and private folders of its own: the
// detached host always, the transient systemd unit where a user manager answers.
#include "HostClient.h"
#include "HostStarter.h"
#include "HostTestSupport.h"
#include "LauncherFixture.h"
#include "ProcessTestSupport.h"

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
    QString out, err;
};

// The number after `label` in `text` ("process 123"), 0 when there is none.
pid_t numberAfter(const QString &text, const char *label)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QRegularExpression::escape(label) + QStringLiteral(" (\\d+)"))
            .match(text);
    return match.hasMatch() ? pid_t(match.captured(1).toInt()) : 0;
}

// Waits until `process` has written `text` on its standard output.
bool shows(QProcess *process, const char *text)
{
    return QTest::qWaitFor([&] { return process->peek(1 << 22).contains(text); }, Patience);
}

// Waits until `process` has ended with `status`.
bool endsWith(QProcess *process, int status)
{
    return process->waitForFinished(Patience) && process->exitStatus() == QProcess::NormalExit &&
           process->exitCode() == status;
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
    void foregroundStopsOnSigterm();
    void startSaysWhyNot();
    void protocolOverStandardStreams();
    void systemdUserUnit();

private:
    Ran server(const QStringList &arguments, int timeout = Patience);
    QProcess *spawn(const QStringList &arguments, const std::function<void()> &inChild = {});
    QString program() const { return m_folder.path() + QStringLiteral("/velmora-server"); }

    QTemporaryDir m_folder;
    QProcessEnvironment m_env;
    std::unique_ptr<HostTestSupport::PrivateRuntime> m_runtime;
    QList<QProcess *> m_spawned;
};

void VelmoraServerTest::initTestCase()
{
    LauncherFixture::makeLauncherFolder(m_folder.path());
}

void VelmoraServerTest::init()
{
    m_runtime = std::make_unique<HostTestSupport::PrivateRuntime>();
    LauncherFixture::clearPreferences();
    LauncherFixture::storePreferences({{QStringLiteral("server_options"), "--commands"}});
    m_env = QProcessEnvironment::systemEnvironment();
}

void VelmoraServerTest::cleanup()
{
    server({"stop"});
    qDeleteAll(std::exchange(m_spawned, {})); // each ends its process
    m_runtime.reset();
}

Ran VelmoraServerTest::server(const QStringList &arguments, int timeout)
{
    QProcess *process = spawn(arguments);
    Ran ran;
    if (process->waitForFinished(timeout) && process->exitStatus() == QProcess::NormalExit)
        ran.status = process->exitCode();
    ran.out = QString::fromUtf8(process->readAllStandardOutput());
    ran.err = QString::fromUtf8(process->readAllStandardError());
    return ran;
}

QProcess *VelmoraServerTest::spawn(const QStringList &arguments,
                                   const std::function<void()> &inChild)
{
    auto *process = new QProcess;
    m_spawned << process;
    process->setProcessEnvironment(m_env);
    if (inChild)
        process->setChildProcessModifier(inChild);
    process->start(program(), arguments);
    return process;
}

void VelmoraServerTest::answersWithoutDisplay_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("says");
    const QString launcher = qEnvironmentVariable("VELMORA_BUILD_DIR") + "/velmora-launcher";
    const auto row = [](const char *name, const QString &program, const char *argument,
                        const char *language, const char *says) {
        QTest::newRow(name) << program << QString(argument) << QString(language) << QString(says);
    };
    row("launcher --help", launcher, "--help", "C", "Usage: velmora-launcher");
    row("launcher -v", launcher, "-v", "C", "velmora-launcher 1.");
    row("server --help", program(), "--help", "C", "attach [--protocol]");
    row("server --version", program(), "--version", "C", "velmora-server 1.");
    row("server --help in German", program(), "--help", "de_DE.UTF-8", "Aufruf: velmora-server");
}

void VelmoraServerTest::answersWithoutDisplay()
{
    QFETCH(QString, program);
    QFETCH(QString, argument);
    QFETCH(QString, language);
    QFETCH(QString, says);
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        m_env.remove(QLatin1String(name));
    m_env.insert(QStringLiteral("LC_ALL"), language);
    QProcess process;
    process.setProcessEnvironment(m_env);
    process.start(program, {argument});
    QVERIFY(endsWith(&process, 0));
    QVERIFY2(QString::fromUtf8(process.readAllStandardOutput()).contains(says),
             qPrintable(process.readAllStandardError()));
}

void VelmoraServerTest::detachedHostLifecycle()
{
    const Ran started = server({"start", "--detached"});
    QCOMPARE(started.status, 0);
    pid_t pid = numberAfter(started.out, "process");
    Ran status = server({"status"});
    QVERIFY(status.status == 0 && status.out.contains(u"State: running"));
    QCOMPARE(numberAfter(status.out, "Process:"), pid);
    // The host outlives its starter in a session of its own; never a second one.
    const pid_t host = numberAfter(status.out, "(process");
    QCOMPARE(::getsid(host), host);
    QCOMPARE(numberAfter(server({"start", "--detached"}).out, "process"), pid);
    QCOMPARE(server({"send", "say", "sent"}).status, 0);
    // Attached: the rows so far, then live; typed lines go to the server.
    QProcess *attach = spawn({"attach"});
    QVERIFY(shows(attach, "Console: sent"));
    attach->write("say typed\n");
    QVERIFY(shows(attach, "Console: typed"));
    // Ctrl+C detaches, and so does the end of input, leaving the server running.
    QProcess *second = spawn({"attach"});
    QVERIFY(shows(second, "Console: typed"));
    ::kill(pid_t(second->processId()), SIGINT);
    QVERIFY(endsWith(second, 0));
    attach->closeWriteChannel();
    QVERIFY(endsWith(attach, 0));

    // A host killed outright takes its server along; its socket and lock stay behind, and the
    // next host takes their place.
    ::kill(host, SIGKILL);
    QVERIFY(QTest::qWaitFor([&] { return processDead(pid); }, Patience));
    QCOMPARE(server({"status"}).status, 3);
    QCOMPARE(server({"start", "--detached"}).status, 0);
    pid = numberAfter(server({"status"}).out, "Process:");

    QCOMPARE(server({"stop"}).status, 0);
    QVERIFY(QTest::qWaitFor([&] { return processDead(pid); }, Patience));
    status = server({"status"});
    QVERIFY2(status.status == 3 && status.out.contains(u"Last run: Stopped"),
             qPrintable(status.out));
    QCOMPARE(server({"send", "late"}).status, 1);
}

// SIGINT and SIGHUP come through the same object as SIGTERM (TerminationSignals, tst_server).
void VelmoraServerTest::foregroundStopsOnSigterm()
{
    QProcess *run = spawn({"run"});
    QVERIFY(shows(run, "Server ready."));
    const Ran status = server({"status"});
    QVERIFY(status.out.contains(u"in the foreground"));
    const pid_t pid = numberAfter(status.out, "Process:");
    ::kill(pid_t(run->processId()), SIGTERM);
    QVERIFY(endsWith(run, 0));
    QVERIFY(processDead(pid));
    QVERIFY(run->readAllStandardOutput().endsWith(" \n")); // the separator closes the run
}

void VelmoraServerTest::startSaysWhyNot()
{
    const QString game = LauncherFixture::gameExecutableOf(program());
    QVERIFY(QFile::rename(game, game + QStringLiteral(".away")));
    const Ran started = server({"start", "--detached"});
    QVERIFY(QFile::rename(game + QStringLiteral(".away"), game));
    QVERIFY2(started.status == 1 && started.err.contains(game), qPrintable(started.err));
    QCOMPARE(server({"status"}).status, 3);
}

void VelmoraServerTest::protocolOverStandardStreams()
{
    QCOMPARE(server({"start", "--detached"}).status, 0);
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd relayEnd(pair[1]);
    const int fd = relayEnd.get();
    QProcess *relay = spawn({"attach", "--protocol"}, [fd] {
        ::dup2(fd, STDIN_FILENO);
        ::dup2(fd, STDOUT_FILENO);
    });
    QVERIFY(relay->waitForStarted(Patience));
    relayEnd.reset();
    HostClient client;
    QSignalSpy history(&client, &HostClient::historyReceived);
    client.open(UniqueFd(pair[0]), UniqueFd(), true);
    QTRY_VERIFY_WITH_TIMEOUT(history.size() == 1 && client.isRunning(), Patience);
    QSignalSpy answered(&client, &HostClient::commandAnswered);
    client.command(QStringLiteral("say relayed"), 100);
    QTRY_VERIFY_WITH_TIMEOUT(answered.size() == 1 && answered.first().at(1).toBool(), Patience);
    client.detach();
    QVERIFY(endsWith(relay, 0));
    QCOMPARE(server({"status"}).status, 0);
}

void VelmoraServerTest::systemdUserUnit()
{
    // The user's own runtime folder: the manager's socket is there, and so is the host's.
    m_runtime.reset();
    m_env = QProcessEnvironment::systemEnvironment();
    if (!HostStarter::userManagerReachable())
        QSKIP("no systemd user manager answers here ($XDG_RUNTIME_DIR/systemd/private): the "
              "detached host is tested instead");
    if (server({"status"}).status != 3)
        QSKIP("a server host of this user runs already");
    const Ran started = server({"start"}, 90000);
    QVERIFY2(started.out.contains(QLatin1String(HostStarter::UnitName)), qPrintable(started.err));
    QProcess systemctl;
    systemctl.start(QStringLiteral("systemctl"), {"--user", "is-active", HostStarter::UnitName});
    QVERIFY(systemctl.waitForFinished(Patience));
    QCOMPARE(systemctl.readAllStandardOutput().trimmed(), QByteArray("active"));
    QCOMPARE(server({"stop"}).status, 0);
    QCOMPARE(server({"status"}).status, 3);
}

VELMORA_LAUNCHER_TEST_MAIN(VelmoraServerTest)
#include "tst_velmora_server.moc"
