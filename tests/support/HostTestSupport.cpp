#include "HostTestSupport.h"

#include "ProcessTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace HostTestSupport {

namespace {

constexpr uid_t Nobody = 65534;

UniqueFd listeningSocket(const QString &path)
{
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(fd.get(), 4) != 0)
        qWarning("cannot listen on %s", name.constData());
    return fd;
}

void giveToNobody(const QString &path)
{
    if (::lchown(QFile::encodeName(path).constData(), Nobody, Nobody) != 0)
        qWarning("cannot give %s away", qPrintable(path));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(bytes);
}

} // namespace

PrivateRuntime::PrivateRuntime()
    : m_runtime(qgetenv("XDG_RUNTIME_DIR")), m_state(qgetenv("XDG_STATE_HOME"))
{
    QDir().mkpath(path(QStringLiteral("runtime")));
    ::chmod(QFile::encodeName(path(QStringLiteral("runtime"))).constData(), 0700);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(path(QStringLiteral("runtime"))));
    qputenv("XDG_STATE_HOME", QFile::encodeName(path(QStringLiteral("state"))));
}

PrivateRuntime::~PrivateRuntime()
{
    qputenv("XDG_RUNTIME_DIR", m_runtime);
    qputenv("XDG_STATE_HOME", m_state);
    // Planted folders of another user must go with the rest.
    ::lchown(QFile::encodeName(folder()).constData(), ::getuid(), ::getgid());
}

QString PrivateRuntime::folder() const
{
    return path(QStringLiteral("runtime/velmora"));
}

QString PrivateRuntime::gameWithScript(const QByteArray &body) const
{
    const QString game = path(QStringLiteral("Orvane"));
    const QString exeDir = game + QStringLiteral("/orvane.app/Contents/MacOS");
    QDir().mkpath(exeDir);
    ProcessTestSupport::writeScript(exeDir, QStringLiteral("orvane"), body);
    return game;
}

void PrivateRuntime::leaveStaleSocket() const
{
    QDir().mkpath(folder());
    listeningSocket(folder() + QStringLiteral("/host.socket")); // closed at once
    writeFile(folder() + QStringLiteral("/host.lock"), "99999\n");
}

Planted plant(const PrivateRuntime &runtime, const QString &what)
{
    Planted planted;
    const QString folder = runtime.folder();
    const QString socket = folder + QStringLiteral("/host.socket");
    const QString lock = folder + QStringLiteral("/host.lock");
    const QString elsewhere = runtime.path(QStringLiteral("elsewhere"));
    QDir().mkpath(elsewhere);
    if (what == u"folder is a link") {
        QFile::link(elsewhere, folder);
        planted.listener = listeningSocket(elsewhere + QStringLiteral("/host.socket"));
        planted.paths = {folder, elsewhere + QStringLiteral("/host.socket")};
    } else {
        QDir().mkpath(folder);
        ::chmod(QFile::encodeName(folder).constData(), 0700);
    }
    if (what == u"socket of another user") {
        planted.listener = listeningSocket(socket);
        giveToNobody(socket);
        planted.paths = {socket};
    } else if (what == u"link at the socket") {
        planted.listener = listeningSocket(elsewhere + QStringLiteral("/real.socket"));
        QFile::link(elsewhere + QStringLiteral("/real.socket"), socket);
        planted.paths = {socket};
    } else if (what == u"lock of another user") {
        writeFile(lock, "1\n");
        giveToNobody(lock);
        planted.paths = {lock};
    } else if (what == u"link at the lock") {
        writeFile(elsewhere + QStringLiteral("/target"), "untouched\n");
        QFile::link(elsewhere + QStringLiteral("/target"), lock);
        planted.paths = {lock, elsewhere + QStringLiteral("/target")};
    } else if (what == u"folder of another user") {
        planted.listener = listeningSocket(socket);
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        giveToNobody(folder);
        planted.paths = {folder, socket};
    }
    planted.before = planted.stateNow();
    return planted;
}

QString Planted::stateNow() const
{
    QStringList state;
    for (const QString &path : paths) {
        struct stat st = {};
        if (::lstat(QFile::encodeName(path).constData(), &st) != 0) {
            state << path + QStringLiteral(": gone");
            continue;
        }
        QString text = QStringLiteral("%1: type %2 uid %3 mode %4")
                           .arg(path)
                           .arg(st.st_mode & S_IFMT)
                           .arg(st.st_uid)
                           .arg(st.st_mode & 07777, 0, 8);
        if (S_ISLNK(st.st_mode))
            text += QStringLiteral(" -> ") + QFile::symLinkTarget(path);
        if (S_ISREG(st.st_mode)) {
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                text += QStringLiteral(" holds ") + QString::fromUtf8(file.readAll());
        }
        state << text;
    }
    return state.join(u'\n');
}

bool Planted::hasPendingConnection() const
{
    if (!listener.isValid())
        return false;
    const UniqueFd accepted(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    return accepted.isValid();
}

int modeOf(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

pid_t connectAsAnotherUser(const QString &path)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    // The child of a process with threads: system calls only.
    if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
        ::_exit(3);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        ::_exit(2);
    timeval patience = {10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    char byte;
    const ssize_t n = ::read(fd, &byte, 1);
    ::_exit(n == 0 ? 0 : 1);
}

} // namespace HostTestSupport
