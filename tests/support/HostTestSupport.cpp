#include "HostTestSupport.h"

#include "ProcessTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace HostTestSupport {

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
    // A folder planted as another user's must go with the rest.
    ::lchown(QFile::encodeName(folder()).constData(), ::getuid(), ::getgid());
}

QString PrivateRuntime::folder() const
{
    return path(QStringLiteral("runtime/velmora"));
}

QString PrivateRuntime::gameWithScript(const QByteArray &body) const
{
    const QString exeDir = path(QStringLiteral("Orvane/orvane.app/Contents/MacOS"));
    QDir().mkpath(exeDir);
    ProcessTestSupport::writeScript(exeDir, QStringLiteral("orvane"), body);
    return path(QStringLiteral("Orvane"));
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

int modeOf(const QString &path)
{
    struct stat st = {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

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

} // namespace HostTestSupport
