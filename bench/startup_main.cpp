// Start-up time of a windowed program, measured the same way for any program: the clock is read
// just before fork and exec, and stopped when the X server reports the first mapping of a
// top-level window (without a window manager, the server exposes a window as it maps it).
// Usage: velmora-bench-startup <program> [arguments...]   (DISPLAY names the server)
// The program is ended once its window is up. Prints startup_ms=<milliseconds>.

#include "MonotonicClock.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The program being measured, until it has been reaped: asked to end, then killed.
struct Child
{
    pid_t pid = -1;
    ~Child()
    {
        if (pid <= 0)
            return;
        ::kill(pid, SIGTERM);
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid, nullptr, WNOHANG) == pid)
                return;
            ::usleep(10000);
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    bool hasEnded()
    {
        if (::waitpid(pid, nullptr, WNOHANG) != pid)
            return false;
        pid = -1;
        return true;
    }
};

struct Connection
{
    Display *display = XOpenDisplay(nullptr);
    ~Connection()
    {
        if (display)
            XCloseDisplay(display);
    }
};

} // namespace

int main(int argc, char *argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <program> [arguments...]\n", argv[0]);
        return 2;
    }
    Connection x;
    if (!x.display) {
        std::fprintf(stderr, "velmora-bench-startup: cannot open the display\n");
        return 2;
    }
    XSelectInput(x.display, DefaultRootWindow(x.display), SubstructureNotifyMask);
    XSync(x.display, False);

    Child child;
    const std::int64_t startNs = MonotonicClock::nowNs();
    child.pid = ::fork();
    if (child.pid < 0) {
        std::perror("fork");
        return 1;
    }
    if (child.pid == 0) {
        ::close(ConnectionNumber(x.display));
        ::execvp(argv[1], argv + 1);
        ::_exit(127);
    }

    const std::int64_t deadlineNs = startNs + 60LL * 1000000000;
    for (;;) {
        while (XPending(x.display) > 0) {
            XEvent event;
            XNextEvent(x.display, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                const std::int64_t mappedNs = MonotonicClock::nowNs();
                std::printf("startup_ms=%.3f\n",
                            MonotonicClock::millisecondsBetween(startNs, mappedNs));
                return 0;
            }
        }
        if (child.hasEnded()) {
            std::fprintf(stderr, "velmora-bench-startup: %s ended without a window\n", argv[1]);
            return 1;
        }
        const std::int64_t now = MonotonicClock::nowNs();
        if (now >= deadlineNs) {
            std::fprintf(stderr, "velmora-bench-startup: no window within 60 s\n");
            return 1;
        }
        pollfd watch{ConnectionNumber(x.display), POLLIN, 0};
        ::poll(&watch, 1, 20);
    }
}
