// The window's host on another machine, through a real sshd on the loopback interface: the
// "remote" velmora-server is the build's, with runtime, state and preferences of its own.
#include "HostTestSupport.h"
#include "LauncherFixture.h"
#include "ProcessTestSupport.h"
#include "RemoteHost.h"
#include "SshTestServer.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

using ProcessTestSupport::Patience;

namespace {

struct TextConsole : ServerSession::Console
{
    QString text;
    void appendOutput(const QObject *, const StyledText &output) override { text += output.text; }
    void endOutput(const QObject *) override {}
    void appendLine(const QString &line) override { text += line + u'\n'; }
};

const QString Password = QStringLiteral("Hunter2secret");

// The programs whose argument vectors hold `text`, by their argument zero.
QStringList programsWithArgument(const QString &text)
{
    QStringList programs;
    for (const QString &pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray cmdline = file.readAll();
        if (cmdline.contains(text.toUtf8()))
            programs
                << QFileInfo(QString::fromUtf8(cmdline.left(cmdline.indexOf('\0')))).fileName();
    }
    return programs;
}

} // namespace

class RemoteHostTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void startOutputCommandStop();
    void lostConnectionReconnects();
    void failuresInWords_data();
    void failuresInWords();

private:
    QString remoteCommand(const QString &program = QString()) const;
    int remoteStatus() const;

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
    QDir().mkpath(m_remote.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(m_remote.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void RemoteHostTest::cleanup()
{
    QProcess stop;
    stop.start(QStringLiteral("/bin/sh"), {"-c", remoteCommand() + QStringLiteral(" stop")});
    stop.waitForFinished(Patience);
}

QString RemoteHostTest::remoteCommand(const QString &program) const
{
    return QStringLiteral("env XDG_RUNTIME_DIR=%1/runtime XDG_STATE_HOME=%1/state "
                          "XDG_CONFIG_HOME=%1/config DBUS_SESSION_BUS_ADDRESS=unix:path=%1/none %2")
        .arg(m_remote.path(),
             program.isEmpty() ? m_folder.path() + QStringLiteral("/velmora-server") : program);
}

int RemoteHostTest::remoteStatus() const
{
    QProcess status;
    status.start(QStringLiteral("/bin/sh"), {"-c", remoteCommand() + QStringLiteral(" status")});
    status.waitForFinished(Patience);
    return status.exitCode();
}

void RemoteHostTest::startOutputCommandStop()
{
    RemoteHost remote(QLatin1String(SshTestServer::Good), remoteCommand());
    TextConsole console;
    remote.setConsole(&console);
    QSignalSpy ended(&remote, &RemoteHost::ended);
    remote.connectToHost(ServerSettings{"--commands", "Remote night", Password, 4});
    QVERIFY(remote.isRunning());
    // The settings came inside the protocol: the stand-in shows them as it got them.
    QTRY_VERIFY2_WITH_TIMEOUT(console.text.contains(u"Description: \"Remote night\""),
                              qPrintable(console.text), Patience);
    QVERIFY(console.text.contains(u"Password: set"));
    QVERIFY(console.text.contains(u"Client limit: 4"));
    // Only the game itself takes the password on its command line; neither ssh nor either
    // velmora-server does.
    QCOMPARE(programsWithArgument(Password), QStringList{QStringLiteral("orvane")});
    QTRY_VERIFY_WITH_TIMEOUT(remote.isConnected(), Patience);
    QVERIFY(remote.sendCommand(QStringLiteral("say over ssh"), 100));
    QTRY_VERIFY2_WITH_TIMEOUT(console.text.contains(u"Console: over ssh"), qPrintable(console.text),
                              Patience);
    remote.stop();
    QTRY_COMPARE_WITH_TIMEOUT(ended.size(), 1, Patience);
    QVERIFY(!remote.isRunning());
    QCOMPARE(remoteStatus(), 3);
}

void RemoteHostTest::lostConnectionReconnects()
{
    RemoteHost remote(QLatin1String(SshTestServer::Good), remoteCommand());
    TextConsole console;
    remote.setConsole(&console);
    remote.connectToHost(ServerSettings{"--commands", "", "", 0});
    QTRY_VERIFY_WITH_TIMEOUT(console.text.contains(u"Extra options:"), Patience);
    QVERIFY(remote.sshProcess() > 0);
    ::kill(remote.sshProcess(), SIGKILL);
    QTRY_VERIFY2_WITH_TIMEOUT(console.text.contains(u"was lost; the server there keeps running"),
                              qPrintable(console.text), Patience);
    QCOMPARE(remoteStatus(), 0);
    QVERIFY(remote.isRunning());
    console.text.clear();
    QTRY_VERIFY2_WITH_TIMEOUT(console.text.contains(u"again"), qPrintable(console.text), Patience);
    QTRY_VERIFY_WITH_TIMEOUT(remote.isConnected(), Patience);
    // Closing the window's end leaves the server running.
    remote.close();
    QTRY_VERIFY_WITH_TIMEOUT(!remote.isRunning(), Patience);
    QCOMPARE(remoteStatus(), 0);
}

void RemoteHostTest::failuresInWords_data()
{
    QTest::addColumn<QString>("destination");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("words");
    QTest::addColumn<QString>("sshSaid");
    QTest::newRow("host key not the known one")
        << SshTestServer::WrongHostKey << QString() << "host key of velmora-wrong-host-key is "
        << "Host key verification failed";
    QTest::newRow("key refused") << SshTestServer::RefusedKey << QString() << "refused the login"
                                 << "Permission denied";
    QTest::newRow("velmora-server not there")
        << SshTestServer::Good << "/nonexistent/velmora-server"
        << "is not installed on"
        << "No such file or directory";
}

void RemoteHostTest::failuresInWords()
{
    QFETCH(QString, destination);
    QFETCH(QString, program);
    QFETCH(QString, words);
    QFETCH(QString, sshSaid);
    RemoteHost remote(destination, remoteCommand(program));
    TextConsole console;
    remote.setConsole(&console);
    QSignalSpy failed(&remote, &RemoteHost::failed);
    remote.connectToHost(ServerSettings{});
    QTRY_COMPARE_WITH_TIMEOUT(failed.size(), 1, Patience);
    const QString why = failed.first().first().toString();
    QVERIFY2(why.contains(words) && why.contains(sshSaid), qPrintable(why));
    QVERIFY(console.text.contains(why));
    QCOMPARE(remote.stateText(), why);
    QVERIFY(!remote.isRunning());
}

VELMORA_LAUNCHER_TEST_MAIN(RemoteHostTest)
#include "tst_RemoteHost.moc"
