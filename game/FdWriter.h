#pragma once

#include <cstddef>
#include <string>

// Buffered output to a descriptor it does not own (the server's standard output). `append` only
// buffers, except that a full buffer is written out; `flush` writes everything buffered. Partial
// writes and interrupted calls are retried. Once a write has failed (the terminal is gone, say)
// every later call answers false, so the caller can stop instead of writing into the void.
class FdWriter
{
public:
    explicit FdWriter(int fd, std::size_t capacity = 64 * 1024);

    bool append(const char *data, std::size_t size);
    bool append(const std::string &text) { return append(text.data(), text.size()); }
    bool flush();
    // Appends and flushes: one line of a log that must reach the reader at once.
    bool writeNow(const std::string &text) { return append(text) && flush(); }

    bool failed() const { return m_failed; }

private:
    bool writeAll(const char *data, std::size_t size);

    int m_fd;
    std::size_t m_capacity;
    std::string m_buffer;
    bool m_failed = false;
};
