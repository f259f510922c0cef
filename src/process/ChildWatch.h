#pragma once

#include "UniqueFd.h"

#include <QObject>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// Reaps one child process of ours as soon as it has ended, without a SIGCHLD handler of its
// own (the one QProcess installs is left alone): a pidfd wakes the event loop when the child
// ends; where pidfds are unavailable, waitpid(WNOHANG) is polled with a growing interval.
//
// While the child is unreaped the pidfd (or, failing that, the zombie) pins its process id, so
// sendKill() can never reach an unrelated process; after reaping it sends nothing at all.
class ChildWatch : public QObject
{
    Q_OBJECT
public:
    // Test seam: false makes new watches skip pidfd_open and poll instead.
    static void setPidfdAllowed(bool allowed);

    explicit ChildWatch(pid_t pid, QObject *parent = nullptr);
    // Makes one last non-blocking attempt to reap; a child still running then is left to the
    // process that inherits it.
    ~ChildWatch() override;

    pid_t pid() const { return m_pid; }
    bool isReaped() const { return m_reaped; }
    bool usesPidfd() const { return m_pidfd.isValid(); }
    // Sends SIGKILL while the child is unreaped. Returns whether a signal was sent.
    bool sendKill();
    // Reaps now if the child has ended; returns isReaped().
    bool tryReap();

Q_SIGNALS:
    // Emitted once, from the event loop or from tryReap().
    void reaped();

private:
    void schedulePoll();

    pid_t m_pid;
    UniqueFd m_pidfd;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_poll = nullptr;
    int m_pollInterval = 0;
    bool m_reaped = false;
};
