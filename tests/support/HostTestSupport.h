#pragma once

// What the server host's tests share: runtime and state folders and a game of their own, and
// files planted where the host looks, as another user or a link would leave them.

#include "UniqueFd.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

namespace HostTestSupport {

// Points XDG_RUNTIME_DIR and XDG_STATE_HOME at a folder of its own while it lives, so that no
// test meets the user's own host.
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
    // A socket file nobody listens on and a lock nobody holds, as a host killed outright leaves.
    void leaveStaleSocket() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_runtime;
    QByteArray m_state;
};

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
// "socket of another user", "link at the socket", "lock of another user", "link at the lock",
// "folder of another user", "folder is a link" (needs root: files are given to nobody).
Planted plant(const PrivateRuntime &runtime, const QString &what);

int modeOf(const QString &path);

// Forks a child that, as the user nobody, connects to the socket at `path` and exits 0 when the
// other end hangs up without a word, 1 when it says something, 2 when it cannot connect.
pid_t connectAsAnotherUser(const QString &path);

} // namespace HostTestSupport
