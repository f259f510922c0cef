#include "FdWriter.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

FdWriter::FdWriter(int fd, std::size_t capacity) : m_fd(fd), m_capacity(capacity)
{
    m_buffer.reserve(m_capacity);
}

bool FdWriter::append(const char *data, std::size_t size)
{
    if (m_failed)
        return false;
    if (m_buffer.size() + size > m_capacity && !flush())
        return false;
    // Something larger than the whole buffer goes out directly rather than being split.
    if (size > m_capacity)
        return writeAll(data, size);
    m_buffer.append(data, size);
    return true;
}

bool FdWriter::flush()
{
    if (m_failed)
        return false;
    const bool ok = writeAll(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

bool FdWriter::writeAll(const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(m_fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            // A standard output left non-blocking by whoever started us: wait until it drains.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd waiter{m_fd, POLLOUT, 0};
                ::poll(&waiter, 1, -1);
                continue;
            }
            m_failed = true;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}
