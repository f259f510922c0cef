#pragma once

// What the server host's tests share: runtime and state folders and a game of their own.

#include <QString>
#include <QTemporaryDir>

namespace HostTestSupport {

// XDG_RUNTIME_DIR and XDG_STATE_HOME in a folder of its own while it lives: no test meets the
// user's own host.
class PrivateRuntime
{
public:
    PrivateRuntime();
    ~PrivateRuntime();

    QString path(const QString &name) const { return m_dir.filePath(name); }
    // Where the host keeps its lock and socket.
    QString folder() const;
    // A game directory whose game is the /bin/sh script `body`.
    QString gameWithScript(const QByteArray &body) const;

private:
    QTemporaryDir m_dir;
    QByteArray m_runtime;
    QByteArray m_state;
};

} // namespace HostTestSupport
