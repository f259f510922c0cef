#include "NotificationThrottle.h"

bool NotificationThrottle::admit(const QString &event, qint64 now)
{
    m_told.removeIf([now](const auto &told) { return now - told.value() >= QuietMs; });
    if (m_told.contains(event))
        return false;
    m_told.insert(event, now);
    return true;
}
