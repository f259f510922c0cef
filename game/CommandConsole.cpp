#include "CommandConsole.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <thread>
#include <unistd.h>

namespace {

// Digits only, at most `limit`; -1 for anything else.
int smallNumber(const std::string &text, int limit)
{
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    const int value = std::atoi(text.c_str());
    return value <= limit ? value : -1;
}

} // namespace

CommandConsole::Reply CommandConsole::reply(const std::string &line)
{
    Reply reply;
    const std::size_t space = line.find(' ');
    const std::string word = line.substr(0, space);
    const std::string rest = space == std::string::npos ? std::string() : line.substr(space + 1);
    if (line.empty())
        return reply;
    if (word == "say") {
        reply.answer = "Console: " + rest;
    } else if (word == "players" && rest.empty()) {
        reply.answer = "Players: 0";
    } else if (word == "quit" && rest.empty()) {
        reply.answer = "Server stopped.";
        reply.then = Reply::Then::Exit;
    } else if (word == "exit" && smallNumber(rest, 255) >= 0) {
        reply.value = smallNumber(rest, 255);
        reply.answer = "Exiting with status " + std::to_string(reply.value);
        reply.then = Reply::Then::Exit;
    } else if (word == "signal" && smallNumber(rest, 64) > 0) {
        reply.value = smallNumber(rest, 64);
        reply.answer = "Raising signal " + std::to_string(reply.value);
        reply.then = Reply::Then::Signal;
    } else {
        reply.answer = "Unknown command: \"" + line + "\"";
    }
    return reply;
}

int CommandConsole::run()
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0; // the terminal is gone: nobody is left to answer
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t feed;
        while ((feed = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, feed);
            pending.erase(0, feed + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            const Reply answer = reply(line);
            if (line == "quit" && answer.then == Reply::Then::Exit && m_quitDelayMs > 0) {
                if (!m_out.writeNow("Saving before stopping\n"))
                    return 1;
                std::this_thread::sleep_for(std::chrono::milliseconds(m_quitDelayMs));
            }
            if (!answer.answer.empty() && !m_out.writeNow(answer.answer + "\n"))
                return 1;
            if (answer.then == Reply::Then::Exit)
                return answer.value;
            if (answer.then == Reply::Then::Signal) {
                ::signal(answer.value, SIG_DFL);
                ::kill(::getpid(), answer.value);
                // Still here: the signal's default action does not end a process.
                if (!m_out.writeNow("Signal " + std::to_string(answer.value) +
                                    " did not end the server\n"))
                    return 1;
            }
        }
    }
}
