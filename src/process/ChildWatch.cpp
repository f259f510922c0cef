#include "ChildWatch.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool pidfdAllowed = true;

constexpr int FirstPollMs = 5;
constexpr int LongestPollMs = 200;

int openPidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    // A pidfd is always close-on-exec.
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    Q_UNUSED(pid);
    errno = ENOSYS;
    return -1;
#endif
}

bool sendSignalThroughPidfd(int pidfd, int sig)
{
#ifdef SYS_pidfd_send_signal
    return ::syscall(SYS_pidfd_send_signal, pidfd, sig, nullptr, 0) == 0 || errno != ENOSYS;
#else
    Q_UNUSED(pidfd);
    Q_UNUSED(sig);
    return false;
#endif
}

} // namespace

void ChildWatch::setPidfdAllowed(bool allowed)
{
    pidfdAllowed = allowed;
}

ChildWatch::ChildWatch(pid_t pid, QObject *parent) : QObject(parent), m_pid(pid)
{
    if (pidfdAllowed)
        m_pidfd.reset(openPidfd(pid));
    if (m_pidfd.isValid()) {
        m_notifier = new QSocketNotifier(m_pidfd.get(), QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &ChildWatch::tryReap);
    } else {
        m_poll = new QTimer(this);
        m_poll->setSingleShot(true);
        connect(m_poll, &QTimer::timeout, this, [this] {
            if (!tryReap() && !m_status)
                schedulePoll();
        });
        schedulePoll();
    }
}

ChildWatch::~ChildWatch()
{
    if (!m_reaped) {
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) < 0 && errno == EINTR) {
        }
    }
}

void ChildWatch::hold()
{
    m_held = true;
}

void ChildWatch::release()
{
    m_held = false;
    if (m_status && !m_reaped)
        reapNow();
}

bool ChildWatch::sendKill()
{
    return sendSignal(SIGKILL);
}

bool ChildWatch::sendSignal(int signal)
{
    if (m_reaped)
        return false;
    if (m_pidfd.isValid() && sendSignalThroughPidfd(m_pidfd.get(), signal))
        return true;
    ::kill(m_pid, signal);
    return true;
}

bool ChildWatch::signalGroup(int signal)
{
    // Unreaped, the child pins the number: the group is its own, never a stranger's. The child
    // itself is signalled too: just after the fork it may not lead its group yet.
    if (!sendSignal(signal))
        return false;
    ::kill(-m_pid, signal);
    return true;
}

bool ChildWatch::tryReap()
{
    if (m_reaped)
        return true;
    if (!m_status) {
        siginfo_t info = {};
        int r;
        do {
            r = ::waitid(P_PID, id_t(m_pid), &info, WEXITED | WNOHANG | WNOWAIT);
        } while (r < 0 && errno == EINTR);
        if (r < 0 && errno != ECHILD)
            return false;
        if (r < 0) {
            // Someone reaped it behind our back; either way the id is no longer ours.
            stopWatching();
            m_reaped = true;
            Q_EMIT exited();
            Q_EMIT reaped();
            return true;
        }
        if (info.si_pid == 0)
            return false;
        m_status = ExitStatus{info.si_code != CLD_EXITED, info.si_status};
        // A pidfd stays readable once its process has ended.
        stopWatching();
        Q_EMIT exited();
        if (m_reaped)
            return true; // released from a receiver of exited()
    }
    if (!m_held)
        reapNow();
    return m_reaped;
}

void ChildWatch::reapNow()
{
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    m_pidfd.reset();
    Q_EMIT reaped();
}

void ChildWatch::stopWatching()
{
    if (m_notifier) {
        m_notifier->setEnabled(false);
        m_notifier->deleteLater();
        m_notifier = nullptr;
    }
    if (m_poll)
        m_poll->stop();
}

void ChildWatch::schedulePoll()
{
    m_pollInterval = m_pollInterval == 0 ? FirstPollMs : qMin(m_pollInterval * 2, LongestPollMs);
    m_poll->start(m_pollInterval);
}
