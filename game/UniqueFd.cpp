#include "UniqueFd.h"

#include <unistd.h>
#include <utility>

UniqueFd::~UniqueFd()
{
    close();
}

UniqueFd::UniqueFd(UniqueFd &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}

UniqueFd &UniqueFd::operator=(UniqueFd &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

bool UniqueFd::close()
{
    if (m_fd < 0)
        return true;
    // Linux releases the descriptor even when close fails with EINTR: never retry.
    const int result = ::close(std::exchange(m_fd, -1));
    return result == 0;
}
