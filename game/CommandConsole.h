#pragma once

#include "FdWriter.h"

#include <string>

// The stand-in server's command mode (--commands): reads commands line by line from its terminal
// and answers each on its output, until a command or the end of its input ends the run.
//   say TEXT   answers "Console: TEXT"
//   players    answers "Players: 0"
//   exit N     answers "Exiting with status N" and ends the run with status N (0 to 255)
//   signal N   answers "Raising signal N" and ends the process by signal N, default action
//   quit       answers "Server stopped." and ends the run with status 0 (with a quit delay,
//              first "Saving before stopping", then the delay)
// An empty line is ignored; anything else answers Unknown command: "LINE".
class CommandConsole
{
public:
    CommandConsole(FdWriter &out, int inputFd, unsigned long long quitDelayMs = 0)
        : m_out(out), m_in(inputFd), m_quitDelayMs(quitDelayMs)
    {}

    // Returns the process's exit status.
    int run();

    // What one command line (without its line feed) asks for: the answer to write and how the
    // run goes on.
    struct Reply
    {
        enum class Then
        {
            Continue,
            Exit,
            Signal
        };
        std::string answer; // without its line feed; empty for no answer
        Then then = Then::Continue;
        int value = 0; // the exit status or the signal number
    };
    static Reply reply(const std::string &line);

private:
    FdWriter &m_out;
    int m_in;
    unsigned long long m_quitDelayMs;
};
