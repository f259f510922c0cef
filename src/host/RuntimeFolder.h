#pragma once

#include "UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// Where the server host of this user lives while it runs: $XDG_RUNTIME_DIR/velmora (or
// /tmp/velmora-UID where no runtime folder is set), holding the host's lock, its socket and the
// record of the last run.
//
// Everything here is the user's own or is not touched: the folder must be a folder of the user's
// (never reached through a link) and is kept 0700; the lock and the record are opened without
// following links and used only when they are regular files of the user's; a socket of anyone
// else, or anything but a socket at the socket's name, is never connected to and never removed;
// and a peer on the socket counts only when the kernel says it runs as the same user. Names in the
// folder are reached through the descriptor of the folder that was checked, so nothing can swap
// the folder under a path.
//
// One host per user: the host holds an open-file-description lock on the lock file for as long
// as it runs. The kernel drops the lock with the last descriptor, so a host that died leaves no
// lock behind, only a file that the next host takes over, and a socket nobody answers on, which
// the next host removes.
class RuntimeFolder
{
public:
    // The folder's path for this user, as the environment says now.
    static QString path();

    // Opens the folder, making it (0700) first when `create`; see problem() and isMissing().
    static RuntimeFolder open(bool create);

    bool isOpen() const { return m_fd.isValid(); }
    // The folder is not there (and was not to be made): no host runs.
    bool isMissing() const { return m_missing; }
    // Why the folder cannot be used, in words.
    QString problem() const { return m_problem; }
    QString folderPath() const { return m_path; }
    QString socketPath() const;

    enum class Lock
    {
        Taken,
        Held,  // by a running host
        Failed // see `problem`
    };
    // Takes the host lock into `lock` and writes this process's id into it; when another host
    // holds it, `holder` is that host's id (0 when it did not say).
    Lock takeHostLock(UniqueFd *lock, pid_t *holder, QString *problem) const;
    // Whether a host holds the lock now; takes nothing.
    bool isHostLockHeld() const;

    // Removes a stale socket of the user's own and listens in its place; an invalid descriptor,
    // and `problem` says why, when that cannot be done. Call with the host lock held.
    UniqueFd listen(QString *problem) const;
    // Removes the socket; call with the host lock held, before letting it go.
    void removeSocket() const;

    enum class Reach
    {
        Connected,
        NoHost, // nothing answers: no host, or one that died and left its socket
        Refused // see `problem`: not the user's, or not a socket
    };
    Reach connect(UniqueFd *socket, QString *problem) const;

    // The record of the last run ended (at most 64 KiB): written whole or not at all.
    bool writeLastRun(const QByteArray &record) const;
    QByteArray readLastRun() const;

    // Whether the process at the other end of the connected socket `fd` runs as this user.
    static bool peerIsSameUser(int fd);

private:
    UniqueFd m_fd;
    QString m_path;
    QString m_problem;
    bool m_missing = false;
};
