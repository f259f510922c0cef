#include "RuntimeFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr char LockName[] = "host.lock";
constexpr char SocketName[] = "host.socket";
constexpr char LastRunName[] = "last-run";
constexpr char LastRunTemporary[] = "last-run.new";
constexpr qsizetype MaxRecord = 64 * 1024;

QString tr(const char *text)
{
    return QCoreApplication::translate("RuntimeFolder", text);
}

// The socket's address through the folder's descriptor: short whatever the folder's path, and
// always the folder that was checked.
sockaddr_un socketAddress(int folder)
{
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s", folder,
                  SocketName);
    return address;
}

bool ownedByUs(const struct stat &st)
{
    return st.st_uid == ::getuid();
}

struct flock wholeFile(short type)
{
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    return lock;
}

} // namespace

QString RuntimeFolder::path()
{
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (runtime.startsWith('/'))
        return QFile::decodeName(runtime) + QStringLiteral("/velmora");
    return QStringLiteral("/tmp/velmora-%1").arg(::getuid());
}

RuntimeFolder RuntimeFolder::open(bool create)
{
    RuntimeFolder folder;
    folder.m_path = path();
    const QByteArray name = QFile::encodeName(folder.m_path);
    if (create && ::mkdir(name.constData(), 0700) != 0 && errno != EEXIST) {
        folder.m_problem = tr("%1 cannot be made: %2").arg(folder.m_path, qt_error_string(errno));
        return folder;
    }
    UniqueFd fd(::open(name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isValid()) {
        if (errno == ENOENT)
            folder.m_missing = true;
        else if (errno == ELOOP || errno == ENOTDIR)
            folder.m_problem =
                tr("%1 is not a folder (a link, or a file): it is not used").arg(folder.m_path);
        else
            folder.m_problem = tr("%1: %2").arg(folder.m_path, qt_error_string(errno));
        return folder;
    }
    struct stat st = {};
    if (::fstat(fd.get(), &st) != 0 || !ownedByUs(st)) {
        folder.m_problem = tr("%1 belongs to another user: it is not used").arg(folder.m_path);
        return folder;
    }
    if ((st.st_mode & 07777) != 0700 && ::fchmod(fd.get(), 0700) != 0) {
        folder.m_problem =
            tr("%1 cannot be made private: %2").arg(folder.m_path, qt_error_string(errno));
        return folder;
    }
    folder.m_fd = std::move(fd);
    return folder;
}

QString RuntimeFolder::socketPath() const
{
    return m_path + u'/' + QLatin1String(SocketName);
}

RuntimeFolder::Lock RuntimeFolder::takeHostLock(UniqueFd *lock, pid_t *holder,
                                                QString *problem) const
{
    *holder = 0;
    UniqueFd fd(::openat(m_fd.get(), LockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    struct stat st = {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0) {
        *problem = tr("The host's lock %1/%2 cannot be opened: %3")
                       .arg(m_path, QLatin1String(LockName), qt_error_string(errno));
        return Lock::Failed;
    }
    if (!S_ISREG(st.st_mode) || !ownedByUs(st)) {
        *problem = tr("The host's lock %1/%2 is not a file of yours: it is not used")
                       .arg(m_path, QLatin1String(LockName));
        return Lock::Failed;
    }
    struct flock take = wholeFile(F_WRLCK);
    if (::fcntl(fd.get(), F_OFD_SETLK, &take) != 0) {
        if (errno != EAGAIN && errno != EACCES) {
            *problem = tr("The host's lock cannot be taken: %1").arg(qt_error_string(errno));
            return Lock::Failed;
        }
        char text[32] = {};
        if (::pread(fd.get(), text, sizeof text - 1, 0) > 0)
            *holder = pid_t(std::atoi(text));
        return Lock::Held;
    }
    const QByteArray pid = QByteArray::number(::getpid()) + '\n';
    if (::ftruncate(fd.get(), 0) != 0 || ::pwrite(fd.get(), pid.constData(), pid.size(), 0) < 0) {
        // The lock is what counts; its process id only helps the next one tell who holds it.
    }
    *lock = std::move(fd);
    return Lock::Taken;
}

bool RuntimeFolder::isHostLockHeld() const
{
    UniqueFd fd(::openat(m_fd.get(), LockName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st = {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !ownedByUs(st))
        return false;
    // Asked, not taken: a host starting at this moment must not find it held by us.
    struct flock probe = wholeFile(F_WRLCK);
    return ::fcntl(fd.get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

UniqueFd RuntimeFolder::listen(QString *problem) const
{
    const QString socketPath = this->socketPath();
    struct stat st = {};
    if (::fstatat(m_fd.get(), SocketName, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(st.st_mode) || !ownedByUs(st)) {
            *problem = tr("%1 is not a socket of yours: it is left alone, and no host can start "
                          "until it is removed")
                           .arg(socketPath);
            return {};
        }
        // Left by a host that died: nobody listens on it any more, since we hold the lock.
        ::unlinkat(m_fd.get(), SocketName, 0);
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.isValid()) {
        *problem = tr("No socket for the host: %1").arg(qt_error_string(errno));
        return {};
    }
    const sockaddr_un address = socketAddress(m_fd.get());
    // The socket comes into being readable and writable by the user alone, never for a moment
    // more.
    const mode_t previous = ::umask(0177);
    const int bound =
        ::bind(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    const int bindError = errno;
    ::umask(previous);
    if (bound != 0 || ::listen(fd.get(), 16) != 0) {
        *problem = tr("The host cannot listen on %1: %2")
                       .arg(socketPath, qt_error_string(bound != 0 ? bindError : errno));
        return {};
    }
    return fd;
}

void RuntimeFolder::removeSocket() const
{
    struct stat st = {};
    if (::fstatat(m_fd.get(), SocketName, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISSOCK(st.st_mode) &&
        ownedByUs(st))
        ::unlinkat(m_fd.get(), SocketName, 0);
}

RuntimeFolder::Reach RuntimeFolder::connect(UniqueFd *socket, QString *problem) const
{
    struct stat st = {};
    if (::fstatat(m_fd.get(), SocketName, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Reach::NoHost;
    if (!S_ISSOCK(st.st_mode) || !ownedByUs(st)) {
        *problem = tr("%1 is not a socket of yours: it is not used").arg(socketPath());
        return Reach::Refused;
    }
    // Never waited on: a host too busy to take another connection counts as not answering.
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.isValid()) {
        *problem = qt_error_string(errno);
        return Reach::Refused;
    }
    const sockaddr_un address = socketAddress(m_fd.get());
    int result;
    do {
        result = ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        if (errno == ECONNREFUSED || errno == ENOENT)
            return Reach::NoHost;
        *problem =
            tr("The host at %1 does not answer: %2").arg(socketPath(), qt_error_string(errno));
        return Reach::Refused;
    }
    if (!peerIsSameUser(fd.get())) {
        *problem = tr("The host at %1 runs as another user: it is not used").arg(socketPath());
        return Reach::Refused;
    }
    *socket = std::move(fd);
    return Reach::Connected;
}

bool RuntimeFolder::peerIsSameUser(int fd)
{
    struct ucred peer = {};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
           peer.uid == ::getuid();
}

bool RuntimeFolder::writeLastRun(const QByteArray &record) const
{
    if (record.size() > MaxRecord)
        return false;
    UniqueFd fd(::openat(m_fd.get(), LastRunTemporary,
                         O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.isValid())
        return false;
    qsizetype written = 0;
    while (written < record.size()) {
        const ssize_t n = ::write(fd.get(), record.constData() + written, record.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return fd.close() && ::renameat(m_fd.get(), LastRunTemporary, m_fd.get(), LastRunName) == 0;
}

QByteArray RuntimeFolder::readLastRun() const
{
    UniqueFd fd(::openat(m_fd.get(), LastRunName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st = {};
    if (!fd.isValid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !ownedByUs(st) ||
        st.st_size > MaxRecord)
        return {};
    QByteArray record(st.st_size, Qt::Uninitialized);
    const ssize_t n = ::pread(fd.get(), record.data(), record.size(), 0);
    return n == record.size() ? record : QByteArray();
}
