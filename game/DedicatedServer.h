#pragma once

#include "FdWriter.h"
#include "OrvaneOptions.h"

#include <string>

// The stand-in's dedicated server: plain C++, no display needed. First, with --ignore-term it
// ignores SIGTERM; with --term-delay MS a SIGTERM makes it write "Saving before stopping", take
// MS milliseconds, write "Server stopped." and end with status 0 (as a server that saves its
// world would). Then `run` writes, in this order:
//   1. the start-up banner (description, whether a password is set, client limit, extra options,
//      unknown options and problems), ending with the line "Server ready.";
//   2. with --binary, one line holding bytes above 127;
//   3. with --no-newline TEXT, TEXT and no line feed;
//   4. with --children N: N children, each with a grandchild, that ignore SIGHUP and SIGTERM,
//      keep the terminal open and print "child PID" or "grandchild PID" at once, then a tick
//      every --interval milliseconds until the terminal is gone (as helpers a real server
//      starts might); with --exit-signal N the run then ends by signal N (after --exit-after
//      milliseconds, when given);
//   5. with --commands: the commands it reads from its terminal, answered (see CommandConsole;
//      with --quit-delay MS, "quit" saves for MS milliseconds first), until one of them ends the
//      run;
//   6. with --exit or --exit-code N: nothing more (for --exit-after milliseconds, when given),
//      the run ends with that status (children started by --children live on);
//   7. with --flood N, N distinct lines of 60 characters, in large writes (with --colour, the
//      same text with SGR colour sequences around some of its words; with --progress, each
//      ended by a carriage return instead, as a progress line redrawn in place);
//   8. with --then-exit: the run ends with status 0;
//   9. the log, one line every --interval milliseconds (1000 by default), flushed line by line:
//      heartbeats and clients joining and leaving. With --lines N it ends after N log lines with
//      "Server stopped."; otherwise it runs until the process is killed.
// Only --commands reads the terminal: in every other mode the server never reads its input.
// No signal other than SIGTERM is handled: SIGKILL is the way to stop it. When the output can no
// longer be written (the terminal is gone) the run ends with status 1 rather than spinning on.
class DedicatedServer
{
public:
    DedicatedServer(const OrvaneOptions &options, int outputFd);

    // Returns the process's exit status.
    int run();

    static std::string banner(const OrvaneOptions &options, long long pid);
    // Flood line `number`, without its line feed: 60 characters for numbers below 10^10.
    static std::string floodLine(unsigned long long number, bool colour = false);
    // Log line `index` (0 first) stamped with `elapsedSeconds` of uptime, without its line feed.
    static std::string logLine(unsigned long long index, unsigned long long elapsedSeconds,
                               const std::string &clientLimit);
    static const char binaryLine[];

private:
    void handleTermination();
    bool flood(unsigned long long count);
    void startChildren(unsigned long long count);
    bool writeLog();

    const OrvaneOptions &m_options;
    FdWriter m_out;
};
