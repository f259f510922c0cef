#pragma once

// Sole owner of one file descriptor: closes it on destruction or reset. Move-only, so a
// descriptor has exactly one owner at any time and is closed exactly once.
class UniqueFd
{
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd();

    UniqueFd(UniqueFd &&other) noexcept;
    UniqueFd &operator=(UniqueFd &&other) noexcept;
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

    // Closes the held descriptor (if any) and takes over `fd`.
    void reset(int fd = -1);
    // Gives up ownership without closing; the caller closes the returned descriptor.
    int release();
    // Closes now and reports whether the close succeeded: for a file just written, a failed
    // close can mean lost data.
    bool close();

private:
    int m_fd = -1;
};
