#include "HostStarter.h"

#include "SpawnSetup.h"
#include "UniqueFd.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace HostStarter {

namespace {

// How long a starter waits for the host to say it is ready: it starts a server, which may have
// to be read from a slow disk first.
constexpr int ReadyTimeoutMs = 60000;

QString tr(const char *text)
{
    return QCoreApplication::translate("HostStarter", text);
}

// Everything the host writes to `fd` until it closes it, or until the deadline.
QByteArray readUntilClosed(int fd, const QDeadlineTimer &deadline, bool *closed)
{
    QByteArray text;
    *closed = false;
    while (!deadline.hasExpired()) {
        pollfd wait = {fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, int(std::min<qint64>(deadline.remainingTime(), 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *closed = true;
            break;
        }
        // Enough to say why; a host that writes more is not read to its end.
        if (text.size() < 64 * 1024)
            text.append(buffer, n);
    }
    return text;
}

QString statusText(int status)
{
    if (WIFSIGNALED(status))
        return tr("The server host was killed by signal %1").arg(WTERMSIG(status));
    return tr("The server host ended with status %1").arg(WEXITSTATUS(status));
}

} // namespace

bool userManagerReachable()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.startsWith('/') ||
        QStandardPaths::findExecutable(QStringLiteral("systemd-run")).isEmpty())
        return false;
    struct stat st = {};
    return ::stat((runtime + "/systemd/private").constData(), &st) == 0 && S_ISSOCK(st.st_mode);
}

QStringList forwardedEnvironment()
{
    QStringList variables;
    for (const char *name : {"XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "LANG",
                             "LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
        if (qEnvironmentVariableIsSet(name))
            variables << QLatin1String(name) + u'=' + qEnvironmentVariable(name);
    }
    return variables;
}

Result startUnderSystemd(const QString &program, const QStringList &runArguments)
{
    QStringList arguments{QStringLiteral("--user"),
                          QStringLiteral("--unit=") + QLatin1String(UnitName),
                          QStringLiteral("--service-type=notify"), QStringLiteral("--collect"),
                          // The host stops its server itself; the rest of the unit goes after it.
                          QStringLiteral("--property=KillMode=mixed"), QStringLiteral("--quiet"),
                          QStringLiteral("--description=Velmora dedicated server")};
    for (const QString &variable : forwardedEnvironment())
        arguments << QStringLiteral("--setenv=") + variable;
    arguments << QStringLiteral("--") << program << QStringLiteral("run") << runArguments;
    QProcess systemdRun;
    systemdRun.start(QStringLiteral("systemd-run"), arguments);
    // With a notify service, systemd-run returns once the host has said it is ready, or failed.
    if (!systemdRun.waitForFinished(ReadyTimeoutMs)) {
        systemdRun.kill();
        systemdRun.waitForFinished();
        return {false, tr("systemd-run did not finish: %1").arg(systemdRun.errorString())};
    }
    if (systemdRun.exitStatus() == QProcess::NormalExit && systemdRun.exitCode() == 0)
        return {true, QString()};
    QString message = QString::fromLocal8Bit(systemdRun.readAllStandardError()).trimmed();
    if (!message.isEmpty())
        message += u'\n';
    message += tr("The server host did not start under systemd; its reason is in the journal: "
                  "journalctl --user -u %1")
                   .arg(QLatin1String(UnitName));
    return {false, message};
}

Result startDetached(const QString &program, const QStringList &arguments)
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        return {false, qt_error_string(errno)};
    UniqueFd readEnd(pipeFds[0]);
    UniqueFd writeEnd(pipeFds[1]);

    const QByteArray path = QFile::encodeName(program);
    QList<QByteArray> words{path, "run", "--detached"};
    for (const QString &argument : arguments)
        words << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    SpawnSetup setup;
    // A session of its own: no terminal's hang-up or Ctrl+C reaches it.
    setup.resetSignals(POSIX_SPAWN_SETSID);
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&setup.actions, writeEnd.get(), STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&setup.actions, "/");
    posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);

    pid_t pid = -1;
    const int spawned =
        posix_spawn(&pid, path.constData(), &setup.actions, &setup.attr, argv.data(), environ);
    if (spawned != 0)
        return {false, tr("%1: %2").arg(program, qt_error_string(spawned))};
    writeEnd.reset();

    bool closed = false;
    const QString said =
        QString::fromLocal8Bit(
            readUntilClosed(readEnd.get(), QDeadlineTimer(ReadyTimeoutMs), &closed))
            .trimmed();
    if (!closed) {
        // Still not ready: it is not left running half-started.
        ::kill(pid, SIGTERM);
        return {false,
                tr("The server host did not get ready within %1 s").arg(ReadyTimeoutMs / 1000)};
    }
    // A host that is ready lets go of its standard error without a word and runs on; one that
    // failed says why and ends.
    int status = 0;
    pid_t ended = ::waitpid(pid, &status, WNOHANG);
    for (int attempt = 0; ended == 0 && !said.isEmpty() && attempt < 100; ++attempt) {
        ::usleep(10000);
        ended = ::waitpid(pid, &status, WNOHANG);
    }
    if (ended == pid)
        return {false, said.isEmpty() ? statusText(status) : said};
    return {true, said};
}

ReadyNotice::ReadyNotice() : m_socket(qgetenv("NOTIFY_SOCKET"))
{
    qunsetenv("NOTIFY_SOCKET");
}

void ReadyNotice::send() const
{
    if (m_socket.isEmpty() || m_socket.size() >= qsizetype(sizeof(sockaddr_un::sun_path)))
        return;
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.isValid())
        return;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, m_socket.constData(), m_socket.size());
    // An address that starts with '@' lies in the abstract namespace.
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0';
    const QByteArray message = "READY=1\nMAINPID=" + QByteArray::number(::getpid());
    ::sendto(fd.get(), message.constData(), message.size(), MSG_NOSIGNAL,
             reinterpret_cast<const sockaddr *>(&address),
             socklen_t(offsetof(sockaddr_un, sun_path) + m_socket.size()));
}

QString managerDescription(bool detached)
{
    if (qEnvironmentVariableIsSet("INVOCATION_ID")) {
        // "0::/user.slice/user-1000.slice/user@1000.service/app.slice/velmora-host.service"
        QFile cgroup(QStringLiteral("/proc/self/cgroup"));
        if (cgroup.open(QIODevice::ReadOnly)) {
            const QByteArray unit = cgroup.readAll().trimmed().split('/').last();
            if (unit.endsWith(".service"))
                return tr("systemd user unit %1").arg(QString::fromUtf8(unit));
        }
        return tr("a systemd unit");
    }
    return detached ? tr("detached, in a session of its own") : tr("in the foreground");
}

} // namespace HostStarter
