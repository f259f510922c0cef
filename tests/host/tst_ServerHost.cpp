// The host without a window, in this process, with shell scripts as servers and clients on its
// real socket: rows as they stood and live, commands from everyone, the protocol's refusals, one
// host per user, and files that are not the user's left alone.
#include "ConsoleModel.h"
#include "HostClient.h"
#include "HostConnection.h"
#include "HostTestSupport.h"
#include "ProcessTestSupport.h"
#include "ServerHost.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace HostTestSupport;
using ProcessTestSupport::Patience;

namespace {

// A client's console kept by the window's own rules.
struct ModelConsole : ServerSession::Console
{
    ConsoleModel model;
    void appendOutput(const QObject *run, const StyledText &text) override
    {
        model.appendText(text.text, quintptr(run), text.spans);
    }
    void endOutput(const QObject *run) override { model.endText(quintptr(run)); }
    void appendLine(const QString &line) override { model.appendLine(line); }
};

struct Attached
{
    ModelConsole console;
    HostClient client;
    explicit Attached(bool subscribe = true)
    {
        client.setConsole(&console);
        QString problem;
        QCOMPARE(client.connectToHost(subscribe, &problem), RuntimeFolder::Reach::Connected);
    }
    QStringList lines() const { return console.model.lines(); }
};

// What a raw peer gets back for `bytes`: the host's frames until it has told the state or
// closed.
QList<HostProtocol::Message> answerTo(const QByteArray &bytes, bool *closed)
{
    UniqueFd socket;
    QString problem;
    RuntimeFolder::open(false).connect(&socket, &problem);
    HostConnection connection(std::move(socket), UniqueFd());
    QList<HostProtocol::Message> messages;
    *closed = false;
    QObject::connect(&connection, &HostConnection::received,
                     [&](const HostProtocol::Message &message) { messages << message; });
    QObject::connect(&connection, &HostConnection::closed, [&] { *closed = true; });
    connection.sendFrames(bytes);
    const auto told = [&] {
        return !messages.isEmpty() && std::holds_alternative<HostProtocol::State>(messages.last());
    };
    if (!QTest::qWaitFor([&] { return *closed || told(); }, Patience))
        qWarning("the host neither answered nor closed");
    return messages;
}

} // namespace

class ServerHostTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { m_runtime = std::make_unique<PrivateRuntime>(); }
    void cleanup();
    void clientsSeeEveryRowAndAllSend();
    void protocolRefusals_data();
    void protocolRefusals();
    void clientRefusesAnotherVersion();
    void oneHostPerUserAndStaleFilesReplaced();
    void foreignFilesLeftAlone_data();
    void foreignFilesLeftAlone();
    void privateModesAndSameUserOnly();

private:
    std::unique_ptr<ServerHost> host(const QByteArray &script = "sleep 30\n");
    // A host of `script` that listens and has started it, in m_host.
    bool runHost(const QByteArray &script = "sleep 30\n");

    std::unique_ptr<PrivateRuntime> m_runtime;
    std::unique_ptr<ServerHost> m_host;
};

void ServerHostTest::cleanup()
{
    m_host.reset();
    m_runtime.reset();
}

std::unique_ptr<ServerHost> ServerHostTest::host(const QByteArray &script)
{
    ServerHost::Options options;
    options.gameDirectory = m_runtime->gameWithScript(script);
    options.logFolder = m_runtime->path(QStringLiteral("logs"));
    return std::make_unique<ServerHost>(options);
}

bool ServerHostTest::runHost(const QByteArray &script)
{
    m_host = host(script);
    return m_host->listen() && m_host->startServer();
}

void ServerHostTest::clientsSeeEveryRowAndAllSend()
{
    QVERIFY(runHost("stty -echo; i=0; while [ $i -lt 250 ]; do echo \"row $i\"; i=$((i+1)); "
                    "done; printf half; while read l; do echo \"got $l\"; done\n"));
    Attached early;
    QVERIFY(QTest::qWaitFor([&] { return early.lines().value(200) == u"half"; }, Patience));
    // Attached after the rows: the console's last 201 as they stood, the last one still open.
    Attached late;
    QVERIFY(QTest::qWaitFor([&] { return late.lines().size() == 201; }, Patience));
    QCOMPARE(late.lines(), early.lines());
    QCOMPARE(late.lines().first(), QStringLiteral("row 50"));
    QTRY_VERIFY_WITH_TIMEOUT(late.client.isRunning(), Patience);

    QSignalSpy answered(&late.client, &HostClient::commandAnswered);
    early.client.command(QStringLiteral("one"), MaxCommandFieldLength);
    QTRY_VERIFY_WITH_TIMEOUT(late.lines().contains(u"halfgot one"), Patience);
    late.client.command(QStringLiteral("two"), MaxCommandFieldLength);
    QTRY_VERIFY_WITH_TIMEOUT(early.lines().contains(u"got two"), Patience);
    QVERIFY(answered.size() == 1 && answered.first().at(1).toBool());
    QCOMPARE(late.lines(), early.lines());

    // Stop from either: both see the end, and the host goes.
    QSignalSpy finished(m_host.get(), &ServerHost::finished);
    QSignalSpy gone(&early.client, &HostClient::disconnected);
    late.client.stop();
    QTRY_VERIFY_WITH_TIMEOUT(finished.size() == 1 && gone.size() == 1, Patience);
    QCOMPARE(finished.first().first().toInt(), 0);
    QCOMPARE(early.lines().last(), QStringLiteral(" "));
    QCOMPARE(late.lines(), early.lines());
}

void ServerHostTest::protocolRefusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("answered");
    using namespace HostProtocol;
    const QByteArray hello = encode(Hello{Version, false});
    QByteArray unknown = encode(Stop{});
    unknown[4] = char(200);
    QTest::newRow("hello") << hello << true;
    QTest::newRow("unknown message skipped") << unknown + hello << true;
    QTest::newRow("another version") << encode(Hello{Version + 1, false}) << false;
    QTest::newRow("no hello first") << encode(Stop{}) + hello << false;
    // A line whose text announces four bytes of length and has two.
    QTest::newRow("malformed") << QByteArray("\0\0\0\3\x08\0\0", 7) + hello << false;
    QTest::newRow("oversized") << QByteArray("\x7f\0\0\0", 4) + hello << false;
}

void ServerHostTest::protocolRefusals()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, answered);
    QVERIFY(runHost());
    bool closed = false;
    const QList<HostProtocol::Message> messages = answerTo(bytes, &closed);
    QVERIFY(!messages.isEmpty() && std::holds_alternative<HostProtocol::Hello>(messages.first()));
    if (answered) {
        const auto *state = std::get_if<HostProtocol::State>(&messages.last());
        QVERIFY(messages.size() == 2 && state && state->running);
    } else {
        QVERIFY(closed && std::holds_alternative<HostProtocol::Error>(messages.last()));
    }
    // The server runs on for everyone else.
    QVERIFY(m_host->session()->isRunning());
}

void ServerHostTest::clientRefusesAnotherVersion()
{
    int pair[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    UniqueFd hostEnd(pair[1]);
    HostClient client;
    QSignalSpy gone(&client, &HostClient::disconnected);
    client.open(UniqueFd(pair[0]), UniqueFd(), true);
    const QByteArray newer =
        HostProtocol::encode(HostProtocol::Hello{HostProtocol::Version + 1, false});
    QCOMPARE(::write(hostEnd.get(), newer.constData(), newer.size()), newer.size());
    QTRY_VERIFY_WITH_TIMEOUT(gone.size() == 1, Patience);
    QVERIFY(!client.isConnected() && !client.hasState());
}

void ServerHostTest::oneHostPerUserAndStaleFilesReplaced()
{
    auto first = host();
    QVERIFY(first->listen());
    const auto second = host();
    QVERIFY(!second->listen());
    QCOMPARE(second->otherHost(), ::getpid());
    first.reset();

    // What a host killed outright leaves: a socket nobody answers on, a lock file nobody holds.
    m_runtime->leaveStaleSocket();
    QVERIFY(QFile::exists(m_runtime->folder() + QStringLiteral("/host.socket")));
    HostClient none;
    QString problem;
    QCOMPARE(none.connectToHost(false, &problem), RuntimeFolder::Reach::NoHost);
    QVERIFY(runHost());
    Attached client(false);
    QTRY_VERIFY_WITH_TIMEOUT(client.client.isRunning(), Patience);
}

void ServerHostTest::foreignFilesLeftAlone_data()
{
    QTest::addColumn<QString>("what");
    for (const char *what : {"socket of another user", "link at the socket", "lock of another user",
                             "link at the lock", "folder of another user", "folder is a link"})
        QTest::newRow(what) << QString::fromLatin1(what);
}

void ServerHostTest::foreignFilesLeftAlone()
{
    QFETCH(QString, what);
    if (::getuid() != 0)
        QSKIP("making files of another user takes root");
    const Planted planted = plant(*m_runtime, what);
    const auto server = host();
    QVERIFY(!server->listen() && !server->problem().isEmpty());
    HostClient client;
    QString problem;
    QVERIFY(client.connectToHost(false, &problem) != RuntimeFolder::Reach::Connected);
    // Nothing removed, changed or connected to.
    QCOMPARE(planted.stateNow(), planted.before);
    QVERIFY(!planted.hasPendingConnection());
}

void ServerHostTest::privateModesAndSameUserOnly()
{
    const QString socket = m_runtime->folder() + QStringLiteral("/host.socket");
    QDir().mkpath(m_runtime->folder());
    QVERIFY(QFile::setPermissions(m_runtime->folder(), QFileDevice::Permissions(0x7755)));
    QVERIFY(runHost());
    QCOMPARE(modeOf(m_runtime->folder()), 0700);
    QCOMPARE(modeOf(socket), 0600);
    if (::getuid() != 0)
        QSKIP("a peer of another user takes root");
    // Opened up for the moment, so that another user can reach the socket at all: the host
    // still lets only its own user in.
    for (const QString &path : {m_runtime->path(QString()),
                                m_runtime->path(QStringLiteral("runtime")), m_runtime->folder()})
        ::chmod(QFile::encodeName(path).constData(), 0711);
    ::chmod(QFile::encodeName(socket).constData(), 0666);
    const pid_t stranger = connectAsAnotherUser(socket);
    int status = -1;
    QVERIFY(QTest::qWaitFor([&] { return ::waitpid(stranger, &status, WNOHANG) == stranger; },
                            Patience));
    // 0: connected, and the host hung up without a word.
    QCOMPARE(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    QCOMPARE(m_host->clientCount(), 0);
}

QTEST_GUILESS_MAIN(ServerHostTest)
#include "tst_ServerHost.moc"
