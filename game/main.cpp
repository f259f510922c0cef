// The stand-in game executable. Without "-d" it is the game: it hands over to the window program
// beside it. With "-d" it is the dedicated server and runs here, without any display.
//
// This file links no Qt: a Qt Widgets program spends tens of milliseconds in the dynamic loader
// before `main` runs, and the launcher's Play latency is measured up to this `main`. The record
// step comes first, before anything heavy.

#include "DedicatedServer.h"
#include "OrvaneOptions.h"
#include "RunRecord.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

long long monotonicNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string currentDirectory()
{
    std::vector<char> buffer(4096);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

// The folder of this executable, from the kernel rather than argv[0], which the starter chooses.
std::string ownFolder(const char *argv0)
{
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            const std::string fallback = argv0 ? argv0 : "";
            const std::size_t slash = fallback.rfind('/');
            return slash == std::string::npos ? "." : fallback.substr(0, slash);
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            const std::string path(buffer.data(), static_cast<std::size_t>(length));
            return path.substr(0, path.rfind('/'));
        }
        buffer.resize(buffer.size() * 2);
    }
}

void record(const char *path, int argc, char **argv, bool server, long long startedNs)
{
    RunRecord entry;
    entry.argv0 = argc > 0 ? argv[0] : "";
    entry.arguments.assign(argv + (argc > 0 ? 1 : 0), argv + argc);
    entry.cwd = currentDirectory();
    entry.mode = server ? "server" : "game";
    entry.pid = static_cast<long long>(::getpid());
    const char *withTime = std::getenv("ORVANE_RECORD_TIME");
    if (withTime && std::strcmp(withTime, "1") == 0)
        entry.mainStartedNs = startedNs;
    std::string error;
    if (!entry.writeAtomically(path, error))
        std::fprintf(stderr, "orvane: %s\n", error.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    const long long startedNs = monotonicNow();
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const OrvaneOptions options = parseOrvaneArguments(arguments);

    if (const char *recordPath = std::getenv("ORVANE_RECORD"); recordPath && *recordPath)
        record(recordPath, argc, argv, options.server, startedNs);

    if (options.server)
        return DedicatedServer(options, STDOUT_FILENO).run();

    // The window program gets the very same argument vector, argument zero included, and keeps
    // this process id and working directory.
    const std::string window = ownFolder(argc > 0 ? argv[0] : nullptr) + "/orvane-window";
    ::execv(window.c_str(), argv);
    std::fprintf(stderr, "orvane: cannot start %s: %s\n", window.c_str(), std::strerror(errno));
    return 1;
}
