#pragma once

#include <QHash>
#include <QString>

// Lets the same event through once a minute at most, so that a server falling again and again
// does not flood the desktop. Plain logic: the caller says when (monotonic milliseconds).
class NotificationThrottle
{
public:
    static constexpr qint64 QuietMs = 60 * 1000;

    // Whether `event` may be told now; if so, it counts as told at `now`.
    bool admit(const QString &event, qint64 now);

private:
    QHash<QString, qint64> m_told; // events told within the last minute
};
