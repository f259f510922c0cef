#pragma once

#include "ChildWatch.h"

#include <QtGlobal>

#include <deque>
#include <optional>

// Whether a server's end is a crash: an end the host did not ask for. `status` is how the server
// ended when it ended by itself (absent when the launcher killed it); `stopAsked` says that the
// host had asked it to stop (Stop, closing the window, a signal to the launcher). An exit with
// status 0 is no crash; nor is anything that follows a request to stop.
bool isCrash(const std::optional<ExitStatus> &status, bool stopAsked);

// When a crashed server is started again: after 1 s, then 2, 4, … at most 60 s between restarts,
// back to 1 s once a run has lasted 10 minutes; not at all once it has crashed 5 times within 10
// minutes. Plain logic: the caller says when each run started and ended (monotonic milliseconds).
class RestartPolicy
{
public:
    static constexpr int MaxCrashes = 5;
    static constexpr qint64 WindowMs = 10 * 60 * 1000;
    static constexpr qint64 StableRunMs = 10 * 60 * 1000;
    static constexpr int FirstDelaySeconds = 1;
    static constexpr int MaxDelaySeconds = 60;

    struct Decision
    {
        bool restart = false;
        int delaySeconds = 0;    // when restart
        int crashesInWindow = 0; // this one included
    };

    // One crash of a run that started at `startedAt` and ended at `endedAt`.
    Decision crashed(qint64 startedAt, qint64 endedAt);
    // Forgets every crash: the host started the server anew.
    void reset();

private:
    std::deque<qint64> m_crashes; // within the window, oldest first
    int m_doublings = 0;          // of the delay since the last long run
};
