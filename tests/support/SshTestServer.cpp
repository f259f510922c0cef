#include "SshTestServer.h"

#include "ProcessTestSupport.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeFile(const QString &path, const QByteArray &text)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// A port no one listens on now; sshd takes it a moment later.
quint16 freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

bool accepts(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

bool makeKey(const QString &file)
{
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {"-q", "-t", "ed25519", "-N", "", "-C", "velmora-test", "-f", file});
    return keygen.waitForFinished(ProcessTestSupport::Patience) && keygen.exitCode() == 0;
}

} // namespace

SshTestServer::SshTestServer()
{
    m_problem = start();
}

SshTestServer::~SshTestServer()
{
    if (m_sshd.state() != QProcess::NotRunning) {
        m_sshd.terminate();
        if (!m_sshd.waitForFinished(ProcessTestSupport::Patience))
            m_sshd.kill();
        m_sshd.waitForFinished();
    }
}

QStringList SshTestServer::sshCommand() const
{
    return {QStringLiteral("ssh"), QStringLiteral("-F"), path(QStringLiteral("ssh_config"))};
}

QString SshTestServer::start()
{
    const QString sshd =
        QStandardPaths::findExecutable(QStringLiteral("sshd"), {QStringLiteral("/usr/sbin")});
    if (sshd.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty())
        return QStringLiteral("sshd or ssh is not installed (openssh-server, openssh-client)");
    // Privilege separation wants its empty directory; only root may make it.
    if (::getuid() == 0)
        ::mkdir("/run/sshd", 0755);
    else if (!QFileInfo::exists(QStringLiteral("/run/sshd")))
        return QStringLiteral("sshd's privilege separation directory /run/sshd is missing, and "
                              "only root may make it");
    for (const char *key : {"host_key", "other_host_key", "user_key", "refused_key"}) {
        if (!makeKey(path(QLatin1String(key))))
            return QStringLiteral("ssh-keygen failed");
    }
    const quint16 port = freePort();
    const passwd *user = ::getpwuid(::getuid());
    if (port == 0 || !user)
        return QStringLiteral("no free port or no user name");
    const QByteArray dir = QFile::encodeName(m_dir.path());
    const QByteArray config = "ListenAddress 127.0.0.1:" + QByteArray::number(port) + "\nHostKey " +
                              dir + "/host_key\nPidFile " + dir + "/sshd.pid\nAuthorizedKeysFile " +
                              dir +
                              "/authorized_keys\nPasswordAuthentication no\n"
                              "KbdInteractiveAuthentication no\nUsePAM no\nStrictModes no\n"
                              "PermitRootLogin prohibit-password\nLogLevel ERROR\n";
    const QByteArray host = "[127.0.0.1]:" + QByteArray::number(port) + ' ';
    const auto clientHost = [&](const char *name, const char *key, const char *knownHosts) {
        return "Host " + QByteArray(name) + "\n  HostName 127.0.0.1\n  Port " +
               QByteArray::number(port) + "\n  User " + user->pw_name + "\n  IdentityFile " + dir +
               '/' + key + "\n  IdentitiesOnly yes\n  UserKnownHostsFile " + dir + '/' +
               knownHosts +
               "\n  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n"
               "  LogLevel ERROR\n";
    };
    if (!writeFile(path(QStringLiteral("sshd_config")), config) ||
        !writeFile(path(QStringLiteral("authorized_keys")),
                   readFile(path(QStringLiteral("user_key.pub"))) + '\n') ||
        !writeFile(path(QStringLiteral("known_hosts")),
                   host + readFile(path(QStringLiteral("host_key.pub"))) + '\n') ||
        !writeFile(path(QStringLiteral("other_known_hosts")),
                   host + readFile(path(QStringLiteral("other_host_key.pub"))) + '\n') ||
        !writeFile(path(QStringLiteral("ssh_config")),
                   clientHost(Good, "user_key", "known_hosts") +
                       clientHost(WrongHostKey, "user_key", "other_known_hosts") +
                       clientHost(RefusedKey, "refused_key", "known_hosts")))
        return QStringLiteral("the test's ssh files cannot be written");
    ::chmod(QFile::encodeName(path(QStringLiteral("ssh_config"))).constData(), 0600);
    m_sshd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sshd.start(sshd, {"-D", "-e", "-f", path(QStringLiteral("sshd_config"))});
    if (!m_sshd.waitForStarted(ProcessTestSupport::Patience))
        return QStringLiteral("sshd cannot be started: ") + m_sshd.errorString();
    const bool listening =
        QTest::qWaitFor([&] { return m_sshd.state() == QProcess::NotRunning || accepts(port); },
                        ProcessTestSupport::Patience);
    if (!listening || m_sshd.state() == QProcess::NotRunning)
        return QStringLiteral("sshd does not listen (its messages are above)");
    return QString();
}
