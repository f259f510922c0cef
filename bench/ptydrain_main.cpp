// The limit for the flood: the server's output drained from the master of a pseudo-terminal by a
// plain blocking read() loop into nothing, with the child started by forkpty exactly as the
// launcher starts it. Usage: velmora-bench-ptydrain <working-dir> <program> [arguments...]
// Prints key=value lines: the time from forkpty to the end of output, and the bytes read.

#include "MonotonicClock.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The child until it has been waited for: killed and reaped on any early way out.
struct Child
{
    pid_t pid = -1;
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    int wait()
    {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        pid = -1;
        return status;
    }
};

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <working-dir> <program> [arguments...]\n", argv[0]);
        return 2;
    }
    std::vector<char *> childArgs(argv + 2, argv + argc);
    childArgs.push_back(nullptr);

    Descriptor master;
    Child child;
    const std::int64_t startCpuNs = MonotonicClock::processCpuNs();
    const std::int64_t startNs = MonotonicClock::nowNs();
    child.pid = ::forkpty(&master.fd, nullptr, nullptr, nullptr);
    if (child.pid < 0) {
        std::perror("forkpty");
        return 1;
    }
    if (child.pid == 0) {
        if (::chdir(argv[1]) != 0)
            ::_exit(127);
        ::execv(childArgs[0], childArgs.data());
        ::_exit(127);
    }

    // The same request size as the launcher's reader; the terminal hands over less per read.
    std::vector<char> buffer(64 * 1024);
    unsigned long long bytes = 0;
    unsigned long long reads = 0;
    for (;;) {
        const ssize_t n = ::read(master.fd, buffer.data(), buffer.size());
        if (n > 0) {
            bytes += static_cast<unsigned long long>(n);
            ++reads;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // 0, or EIO once the slave side is closed everywhere: the end of output.
        if (n < 0 && errno != EIO) {
            std::perror("read");
            return 1;
        }
        break;
    }
    const std::int64_t endNs = MonotonicClock::nowNs();
    const std::int64_t endCpuNs = MonotonicClock::processCpuNs();
    const int status = child.wait();

    std::printf("drain_seconds=%.4f\n", MonotonicClock::secondsBetween(startNs, endNs));
    std::printf("drain_cpu_seconds=%.4f\n", MonotonicClock::secondsBetween(startCpuNs, endCpuNs));
    std::printf("drain_bytes=%llu\n", bytes);
    std::printf("drain_reads=%llu\n", reads);
    std::printf("child_status=%d\n", WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return 0;
}
