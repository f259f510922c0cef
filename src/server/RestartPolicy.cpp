#include "RestartPolicy.h"

#include <algorithm>

bool isCrash(const std::optional<ExitStatus> &status, bool stopAsked)
{
    if (stopAsked || !status)
        return false;
    return status->signaled || status->code != 0;
}

RestartPolicy::Decision RestartPolicy::crashed(qint64 startedAt, qint64 endedAt)
{
    if (endedAt - startedAt >= StableRunMs)
        m_doublings = 0;
    while (!m_crashes.empty() && endedAt - m_crashes.front() >= WindowMs)
        m_crashes.pop_front();
    m_crashes.push_back(endedAt);

    Decision decision;
    decision.crashesInWindow = int(m_crashes.size());
    if (decision.crashesInWindow >= MaxCrashes)
        return decision;
    decision.restart = true;
    decision.delaySeconds = std::min(MaxDelaySeconds, FirstDelaySeconds << m_doublings);
    // Beyond the point where the delay has reached its cap, counting on changes nothing.
    if (decision.delaySeconds < MaxDelaySeconds)
        ++m_doublings;
    return decision;
}

void RestartPolicy::reset()
{
    m_crashes.clear();
    m_doublings = 0;
}
