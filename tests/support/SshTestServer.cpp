#include "SshTestServer.h"

#include "ProcessTestSupport.h"

#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include <netinet/in.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Binds (port 0: any free one, which is returned) or connects to a loopback port.
quint16 loopback(quint16 port, bool bindIt)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    auto *raw = reinterpret_cast<sockaddr *>(&address);
    const bool done = bindIt ? ::bind(fd, raw, length) == 0 && ::getsockname(fd, raw, &length) == 0
                             : ::connect(fd, raw, length) == 0;
    ::close(fd);
    return done ? ntohs(address.sin_port) : 0;
}

} // namespace

QString SshTestServer::start()
{
    const QString sshd = QStandardPaths::findExecutable("sshd", {"/usr/sbin"});
    if (sshd.isEmpty() || QStandardPaths::findExecutable("ssh").isEmpty())
        return "sshd or ssh is not installed (openssh-server, openssh-client)";
    // Privilege separation wants its empty directory, which only root may make.
    if (::getuid() == 0)
        ::mkdir("/run/sshd", 0755);
    if (!QFile::exists("/run/sshd"))
        return "sshd's privilege separation directory /run/sshd is missing";
    const QByteArray dir = QFile::encodeName(m_dir.path()) + '/';
    const auto file = [&](const char *name) { return QString::fromLocal8Bit(dir + name); };
    const auto read = [&](const char *name) {
        QFile in(file(name));
        return in.open(QIODevice::ReadOnly) ? in.readAll().trimmed() : QByteArray();
    };
    for (const char *key : {"host_key", "other_host_key", "user_key", "refused_key"}) {
        QProcess keygen;
        keygen.start("ssh-keygen", {"-q", "-t", "ed25519", "-N", "", "-f", file(key)});
        if (!keygen.waitForFinished(ProcessTestSupport::Patience) || keygen.exitCode() != 0)
            return "ssh-keygen failed";
    }
    const QByteArray port = QByteArray::number(loopback(0, true));
    const QByteArray known = "[127.0.0.1]:" + port + ' ';
    const auto host = [&](const char *name, const char *key, const char *knownHosts) {
        return "Host " + QByteArray(name) + "\n HostName 127.0.0.1\n Port " + port + "\n User " +
               ::getpwuid(::getuid())->pw_name + "\n IdentityFile " + dir + key +
               "\n IdentitiesOnly yes\n UserKnownHostsFile " + dir + knownHosts +
               "\n GlobalKnownHostsFile /dev/null\n StrictHostKeyChecking yes\n LogLevel ERROR\n";
    };
    const QList<std::pair<const char *, QByteArray>> files{
        {"sshd_config", "ListenAddress 127.0.0.1:" + port + "\nHostKey " + dir +
                            "host_key\nPidFile " + dir + "sshd.pid\nAuthorizedKeysFile " + dir +
                            "user_key.pub\nPasswordAuthentication no\nUsePAM no\nStrictModes no\n"
                            "PermitRootLogin prohibit-password\nLogLevel ERROR\n"},
        {"known_hosts", known + read("host_key.pub") + '\n'},
        {"other_known_hosts", known + read("other_host_key.pub") + '\n'},
        {"ssh_config", host(Good, "user_key", "known_hosts") +
                           host(WrongHostKey, "user_key", "other_known_hosts") +
                           host(RefusedKey, "refused_key", "known_hosts")}};
    for (const auto &[name, text] : files) {
        QFile out(file(name));
        if (!out.open(QIODevice::WriteOnly) || out.write(text) != text.size())
            return "the test's ssh files cannot be written";
    }
    m_sshd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sshd.start(sshd, {"-D", "-e", "-f", file("sshd_config")});
    const bool listens =
        QTest::qWaitFor([&] { return !m_sshd.state() || loopback(port.toUShort(), false) != 0; },
                        ProcessTestSupport::Patience);
    return listens && m_sshd.state() ? QString() : "sshd does not listen (see above)";
}
