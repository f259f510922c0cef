#include "UniqueFd.h"

#include <unistd.h>

#include <utility>

UniqueFd::~UniqueFd()
{
    reset();
}

UniqueFd::UniqueFd(UniqueFd &&other) noexcept : m_fd(other.release()) {}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other)
        reset(other.release());
    return *this;
}

void UniqueFd::reset(int fd)
{
    const int old = std::exchange(m_fd, fd);
    // On Linux the descriptor is gone even when close() reports EINTR, so it is never retried:
    // a retry could close a descriptor that another owner has just been given.
    if (old >= 0 && old != fd)
        ::close(old);
}

int UniqueFd::release()
{
    return std::exchange(m_fd, -1);
}

bool UniqueFd::close()
{
    if (m_fd < 0)
        return true;
    // Linux releases the descriptor even when close fails with EINTR: never retry.
    return ::close(std::exchange(m_fd, -1)) == 0;
}
