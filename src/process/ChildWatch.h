#pragma once

#include "UniqueFd.h"

#include <QObject>

#include <csignal>
#include <optional>
#include <sys/types.h>

class QSocketNotifier;
class QTimer;

// How a child ended: with an exit status, or killed by a signal.
struct ExitStatus
{
    bool signaled = false;
    int code = 0; // the exit status, or the number of the signal that ended it

    friend bool operator==(const ExitStatus &a, const ExitStatus &b)
    {
        return a.signaled == b.signaled && a.code == b.code;
    }
};

// Notices the end of one child process of ours and reaps it, without a SIGCHLD handler of its
// own (the one QProcess installs is left alone): a pidfd wakes the event loop when the child
// ends; where pidfds are unavailable, waitid() is polled with a growing interval.
//
// By default the child is reaped as soon as it has ended. A held watch (hold()) only notes the
// end and keeps the child as a zombie until release(): a zombie keeps its process id, and with it
// the ids of the process group and session it leads, from being handed to any other process. That
// is what makes killGroup() safe: while the child is unreaped, every member of its group is one of
// its own descendants (only a process of its session can join the group, and the session's id is
// pinned too). After reaping, nothing is ever sent.
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
    // Known once the child has ended; absent when it was reaped behind our back.
    std::optional<ExitStatus> exitStatus() const { return m_status; }

    // Keeps an ended child unreaped until release(). Call before the event loop runs again.
    void hold();
    // Ends a hold: the child is reaped now if it has ended, or as soon as it ends.
    void release();

    // Sends SIGKILL while the child is unreaped. Returns whether a signal was sent.
    bool sendKill();
    // Sends SIGKILL to the process group the child leads, while the child is unreaped (which
    // pins the group's id; see above). Returns whether a signal was sent.
    bool killGroup() { return signalGroup(SIGKILL); }
    // The same with any signal.
    bool signalGroup(int signal);
    // Notes the end of the child if it has ended, and reaps it unless held; returns isReaped().
    bool tryReap();

Q_SIGNALS:
    // Each emitted once, from the event loop or from tryReap()/release(): exited() when the end is
    // first noticed, reaped() when the process id has been given back.
    void exited();
    void reaped();

private:
    bool sendSignal(int signal);
    void schedulePoll();
    void stopWatching();
    void reapNow();

    pid_t m_pid;
    UniqueFd m_pidfd;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_poll = nullptr;
    int m_pollInterval = 0;
    bool m_held = false;
    bool m_reaped = false;
    std::optional<ExitStatus> m_status;
};
