// The host without a window, in this process, with scripts as servers and clients on its socket:
// rows, commands, refusals, one host per user, and what is not the user's left alone.
#include "ConsoleModel.h"
#include "HostClient.h"
#include "HostConnection.h"
#include "HostTestSupport.h"
#include "ProcessTestSupport.h"
#include "ServerHost.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace HostTestSupport;
using ProcessTestSupport::Patience;

namespace {

constexpr uid_t Nobody = 65534;

sockaddr_un addressOf(const QString &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    return address;
}

UniqueFd listeningSocket(const QString &path)
{
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const sockaddr_un address = addressOf(path);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 4) != 0)
        qWarning("cannot listen on %s", qPrintable(path));
    return fd;
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

// What plant() left: how it looked then, and a listening socket behind it (if any) that must
// never see a connection.
struct Planted
{
    QStringList paths;
    QString before;
    UniqueFd listener;

    QString stateNow() const;
    bool hasPendingConnection() const;
};

// A socket file nobody listens on and a lock nobody holds, as a host killed outright leaves.
void leaveStaleSocket(const QString &folder)
{
    QDir().mkpath(folder);
    listeningSocket(folder + QStringLiteral("/host.socket")); // closed at once
    writeFile(folder + QStringLiteral("/host.lock"), "99999\n");
}

// "socket of another user", "link at the socket", "lock of another user", "link at the lock",
// "folder of another user", "folder is a link" (needs root: files are given to nobody).
Planted plant(const PrivateRuntime &runtime, const QString &what)
{
    Planted planted;
    const QString folder = runtime.folder();
    const QString socket = folder + QStringLiteral("/host.socket");
    const QString lock = folder + QStringLiteral("/host.lock");
    const QString elsewhere = runtime.path(QStringLiteral("elsewhere"));
    const QString target = elsewhere + QStringLiteral("/target");
    QDir().mkpath(elsewhere);
    QDir().mkpath(what == u"folder is a link" ? elsewhere : folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    QString nobodys;
    if (what == u"folder is a link") {
        QFile::link(elsewhere, folder);
        planted.listener = listeningSocket(elsewhere + QStringLiteral("/host.socket"));
        planted.paths = {folder, elsewhere + QStringLiteral("/host.socket")};
    } else if (what == u"socket of another user" || what == u"folder of another user") {
        planted.listener = listeningSocket(socket);
        nobodys = what.startsWith(u"socket") ? socket : folder;
        planted.paths = {folder, socket};
    } else if (what == u"link at the socket") {
        planted.listener = listeningSocket(target);
        QFile::link(target, socket);
        planted.paths = {socket, target};
    } else if (what == u"lock of another user") {
        writeFile(lock, "1\n");
        nobodys = lock;
        planted.paths = {lock};
    } else if (what == u"link at the lock") {
        writeFile(target, "untouched\n");
        QFile::link(target, lock);
        planted.paths = {lock, target};
    }
    if (!nobodys.isEmpty() && ::lchown(QFile::encodeName(nobodys).constData(), Nobody, Nobody) != 0)
        qWarning("cannot give %s away", qPrintable(nobodys));
    planted.before = planted.stateNow();
    return planted;
}

QString Planted::stateNow() const
{
    QStringList state;
    for (const QString &path : paths) {
        struct stat st = {};
        QFile file(path);
        const bool there = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
        state << QStringLiteral("%1: %2 %3 %4 %5 %6")
                     .arg(path)
                     .arg(there ? st.st_mode : 0, 0, 8)
                     .arg(there ? st.st_uid : 0)
                     .arg(QFile::symLinkTarget(path))
                     .arg(S_ISREG(st.st_mode) && file.open(QIODevice::ReadOnly)
                              ? QString::fromUtf8(file.readAll())
                              : QString())
                     .arg(there);
    }
    return state.join(u'\n');
}

bool Planted::hasPendingConnection() const
{
    return listener.isValid() &&
           UniqueFd(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC)).isValid();
}

// Forks a child that, as the user nobody, connects to the socket at `path` and exits 0 when the
// other end hangs up without a word, 1 when it says something, 2 when it cannot connect.
pid_t connectAsAnotherUser(const QString &path)
{
    const sockaddr_un address = addressOf(path);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // The child of a process with threads: system calls only.
    if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
        ::_exit(3);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
        ::_exit(2);
    timeval patience = {10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char byte;
    ::_exit(::read(fd, &byte, 1) == 0 ? 0 : 1);
}

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

    QSignalSpy answered(&late.client, &HostClient::commandAnswered);
    early.client.command(QStringLiteral("one"), MaxCommandFieldLength);
    // The command's echo is a row of the launcher's own, after the open one.
    QTRY_VERIFY_WITH_TIMEOUT(late.lines().contains(u"got one"), Patience);
    QVERIFY(late.lines().contains(u"> one"));
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

void ServerHostTest::oneHostPerUserAndStaleFilesReplaced()
{
    auto first = host();
    QVERIFY(first->listen());
    const auto second = host();
    QVERIFY(!second->listen());
    QCOMPARE(second->otherHost(), ::getpid());
    first.reset();

    // What a host killed outright leaves: a socket nobody answers on, a lock file nobody holds.
    leaveStaleSocket(m_runtime->folder());
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
    // 0700 and 0600: the owner's bits alone (the owner is the user running the test).
    QCOMPARE(QFile::permissions(m_runtime->folder()), QFileDevice::Permissions(0x7700));
    QCOMPARE(QFile::permissions(socket), QFileDevice::Permissions(0x6600));
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
