#include "HostTestSupport.h"

#include "ProcessTestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

} // namespace HostTestSupport
