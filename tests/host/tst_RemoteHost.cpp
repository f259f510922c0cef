// The window's host on another machine, through a real sshd on the loopback interface: the
// "remote" velmora-server is the build's, with runtime, state and preferences of its own.
#include "LauncherFixture.h"
#include "ProcessTestSupport.h"
#include "RemoteHost.h"
#include "SshTestServer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

using ProcessTestSupport::Patience;

namespace {

struct TextConsole : ServerSession::Console
{
    QString text;
    void appendOutput(const QObject *, const StyledText &output) override { text += output.text; }
    void endOutput(const QObject *) override {}
    void appendLine(const QString &line) override { text += line + u'\n'; }
};

QStringList programsWithArgument(const QByteArray &text)
{
    QStringList programs;
    for (const QString &pid : QDir("/proc").entryList(QDir::Dirs)) {
        QFile file("/proc/" + pid + "/cmdline");
        if (file.open(QIODevice::ReadOnly) && file.peek(1 << 16).contains(text))
            programs << QFileInfo(QString::fromUtf8(file.readLine(4096).split('\0')[0])).fileName();
    }
    return programs;
}

} // namespace

class RemoteHostTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup() { remote("stop"); }
    void startOutputCommandStop();
    void failuresInWords_data();
    void failuresInWords();

private:
    QString command(const QString &program = QString()) const
    {
        return QStringLiteral("env XDG_RUNTIME_DIR=%1/runtime XDG_STATE_HOME=%1/state "
                              "XDG_CONFIG_HOME=%1/config %2")
            .arg(m_remote.path(),
                 program.isEmpty() ? m_folder.path() + "/velmora-server" : program);
    }
    // velmora-server on the "remote" side, without ssh: its exit status.
    int remote(const QString &subcommand) const
    {
        QProcess process;
        process.start("/bin/sh", {"-c", command() + u' ' + subcommand});
        process.waitForFinished(Patience);
        return process.exitCode();
    }

    std::unique_ptr<SshTestServer> m_sshd;
    QTemporaryDir m_folder;
    QTemporaryDir m_remote;
};

void RemoteHostTest::initTestCase()
{
    m_sshd = std::make_unique<SshTestServer>();
    if (!m_sshd->problem().isEmpty())
        QSKIP(qPrintable(m_sshd->problem()));
    RemoteHost::setSshCommand(m_sshd->sshCommand());
    LauncherFixture::makeLauncherFolder(m_folder.path());
    QVERIFY(QDir(m_remote.path())
                .mkdir("runtime", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void RemoteHostTest::startOutputCommandStop()
{
    auto host = std::make_unique<RemoteHost>(SshTestServer::Good, command());
    TextConsole console;
    host->setConsole(&console);
    host->connectToHost(ServerSettings{"--commands", "Remote night", "Hunter2secret", 4});
    // The settings came inside the protocol: the stand-in shows them as it got them.
    QTRY_VERIFY2_WITH_TIMEOUT(console.text.contains("Client limit: 4"), qPrintable(console.text),
                              Patience);
    QVERIFY(console.text.contains("Description: \"Remote night\"\nPassword: set"));
    // Only the game takes the password on its command line; neither ssh nor velmora-server does.
    QCOMPARE(programsWithArgument("Hunter2secret"), QStringList{"orvane"});
    QTRY_VERIFY_WITH_TIMEOUT(host->sshProcess() > 0 && host->isConnected(), Patience);
    ::kill(host->sshProcess(), SIGKILL);
    QTRY_VERIFY2_WITH_TIMEOUT(console.text.contains("was lost; the server there keeps running"),
                              qPrintable(console.text), Patience);
    QCOMPARE(remote("status"), 0);
    QCOMPARE(remote("send say while away"), 0);
    QTRY_VERIFY_WITH_TIMEOUT(console.text.contains("Connected to velmora-test again"), Patience);
    QVERIFY(host->sendCommand("say over ssh", 100));
    QTRY_VERIFY_WITH_TIMEOUT(console.text.contains("Console: over ssh"), Patience);
    // What it missed shows, what it showed does not come again.
    QVERIFY(console.text.contains("Console: while away"));
    QCOMPARE(console.text.count("Client limit: 4"), 1);
    // The window's end closing leaves the server running; a window opened later attaches.
    host->close();
    QTRY_VERIFY_WITH_TIMEOUT(!host->isRunning(), Patience);
    QCOMPARE(remote("status"), 0);
    host = std::make_unique<RemoteHost>(SshTestServer::Good, command());
    QSignalSpy ended(host.get(), &RemoteHost::ended);
    host->connectToHost();
    QTRY_VERIFY_WITH_TIMEOUT(host->isConnected(), Patience);
    host->stop();
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, Patience);
    QCOMPARE(remote("status"), 3);
}

void RemoteHostTest::failuresInWords_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("words"); // ours, then the line ssh wrote
    QTest::newRow("host key") << SshTestServer::WrongHostKey << QString()
                              << "unknown or has changed: check it, and accept it with ssh "
                                 "velmora-wrong-host-key in a terminal; ssh said: Host key";
    QTest::newRow("key refused") << SshTestServer::RefusedKey << QString()
                                 << "refused the login: it accepts none of your keys";
    QTest::newRow("not there") << SshTestServer::Good << "/nowhere/velmora-server"
                               << "/nowhere/velmora-server is not installed on velmora-test";
}

void RemoteHostTest::failuresInWords()
{
    QFETCH(QString, destination);
    QFETCH(QString, program);
    QFETCH(QString, words);
    RemoteHost host(destination, command(program));
    TextConsole console;
    host.setConsole(&console);
    host.connectToHost(ServerSettings{});
    QTRY_VERIFY_WITH_TIMEOUT(!host.isRunning(), Patience);
    QVERIFY2(host.stateText().contains(words) && host.stateText().contains("; ssh said: "),
             qPrintable(host.stateText()));
    QVERIFY(console.text.contains(host.stateText()));
}

VELMORA_LAUNCHER_TEST_MAIN(RemoteHostTest)
#include "tst_RemoteHost.moc"
