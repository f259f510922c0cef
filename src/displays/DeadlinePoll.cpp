#include "DeadlinePoll.h"

#include <cerrno>
#include <poll.h>

bool waitForDescriptor(int fd, short events, const QDeadlineTimer &deadline)
{
    for (;;) {
        pollfd pfd{fd, events, 0};
        const qint64 left = deadline.remainingTime();
        if (left == 0)
            return false;
        const int ready = ::poll(&pfd, 1, left < 0 ? -1 : static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        return ready > 0 && (pfd.revents & events);
    }
}
