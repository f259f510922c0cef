#include "HostTestSupport.h"

#include "ProcessTestSupport.h"
#include "RuntimeFolder.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace HostTestSupport {

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
    // A host that a failed test left running goes with the folder, and its server with it.
    QFile lock(folder() + QStringLiteral("/host.lock"));
    const pid_t host = lock.open(QIODevice::ReadOnly) ? pid_t(lock.readAll().trimmed().toInt()) : 0;
    if (host > 0 && host != ::getpid() && RuntimeFolder::open(false).isHostLockHeld())
        ::kill(host, SIGKILL);
    qputenv("XDG_RUNTIME_DIR", m_runtime);
    qputenv("XDG_STATE_HOME", m_state);
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

} // namespace HostTestSupport
