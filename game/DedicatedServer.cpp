#include "DedicatedServer.h"

#include "CommandConsole.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <thread>
#include <unistd.h>

// Invalid UTF-8 (a lone continuation byte, 0xFE and 0xFF, which never occur in UTF-8) around a
// valid two-byte and a valid three-byte sequence ("é" and "€").
const char DedicatedServer::binaryLine[] = "binary: \x80\xfe\xff caf\xc3\xa9 \xe2\x82\xac end\n";

namespace {

const char *const clientNames[] = {"Wren", "Osric", "Tamsin", "Brannoc", "Ilse", "Corvin"};
constexpr std::size_t clientNameCount = sizeof clientNames / sizeof clientNames[0];

std::string quoted(const std::string &text)
{
    return '"' + text + '"';
}

std::string twoDigits(unsigned long long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "%02llu", value);
    return text;
}

// One line in one write, so that lines of several processes on one terminal do not mix.
bool writeLine(int fd, const std::string &line)
{
    ssize_t n;
    do {
        n = ::write(fd, line.data(), line.size());
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(line.size());
}

// A helper process: says who it is, then ticks until its terminal is gone.
[[noreturn]] void runHelper(int fd, const std::string &role, unsigned long long intervalMs)
{
    const std::string name = role + " " + std::to_string(static_cast<long long>(::getpid()));
    if (!writeLine(fd, name + "\n"))
        ::_exit(1);
    const timespec interval = {static_cast<time_t>(intervalMs / 1000),
                               static_cast<long>(intervalMs % 1000) * 1000000L};
    for (unsigned long long tick = 1;; ++tick) {
        timespec left = interval;
        while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
        }
        if (!writeLine(fd, name + " tick " + std::to_string(tick) + "\n"))
            ::_exit(1);
    }
}

// What the SIGTERM handler needs, set before it is installed.
int termOutputFd = STDOUT_FILENO;
timespec termDelay = {};

void writeFromHandler(const char *text, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(termOutputFd, text, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        text += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Saves (that is, waits) and ends: async-signal-safe calls only.
void saveAndStop(int)
{
    static const char saving[] = "Saving before stopping\n";
    static const char stopped[] = "Server stopped.\n";
    writeFromHandler(saving, sizeof saving - 1);
    timespec left = termDelay;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
    writeFromHandler(stopped, sizeof stopped - 1);
    ::_exit(0);
}

} // namespace

DedicatedServer::DedicatedServer(const OrvaneOptions &options, int outputFd)
    : m_options(options), m_out(outputFd)
{}

std::string DedicatedServer::banner(const OrvaneOptions &options, long long pid)
{
    std::string text = "Orvane dedicated server (stand-in), pid " + std::to_string(pid) + "\n";
    text += "Description: " + (options.description ? quoted(*options.description) : "none") + "\n";
    text += std::string("Password: ") + (options.passwordSet ? "set" : "none") + "\n";
    text += "Client limit: " + (options.clientLimit ? *options.clientLimit : "none") + "\n";
    text += "Extra options:";
    if (options.extraOptions.empty())
        text += " none";
    for (const std::string &option : options.extraOptions)
        text += " " + quoted(option);
    text += "\n";
    if (!options.unknown.empty()) {
        text += "Unknown options:";
        for (const std::string &option : options.unknown)
            text += " " + quoted(option);
        text += "\n";
    }
    for (const std::string &problem : options.problems)
        text += "Problem: " + problem + "\n";
    text += "Server ready.\n";
    return text;
}

std::string DedicatedServer::floodLine(unsigned long long number, bool colour)
{
    char text[200];
    // The counter stays at columns 6 to 15 either way; colour comes after it.
    std::snprintf(text, sizeof text,
                  colour
                      ? "flood %010llu \033[31mthe quick\033[0m brown \033[1;33mfox\033[0m jumps "
                        "over the \033[38;5;208mlazy\033[39m \033[38;2;80;160;255mdog\033[0m"
                      : "flood %010llu the quick brown fox jumps over the lazy dog",
                  number);
    return text;
}

std::string DedicatedServer::logLine(unsigned long long index, unsigned long long elapsedSeconds,
                                     const std::string &clientLimit)
{
    // A cycle of ten lines: a client joins on the fourth and leaves on the ninth, so the log shows
    // both events with heartbeats in between and the player count returns to zero.
    const std::string stamp = "[" + twoDigits(elapsedSeconds / 3600) + ":" +
                              twoDigits(elapsedSeconds / 60 % 60) + ":" +
                              twoDigits(elapsedSeconds % 60) + "] ";
    const std::string limit = clientLimit.empty() ? "" : "/" + clientLimit;
    const std::string name = clientNames[(index / 10) % clientNameCount];
    const unsigned long long step = index % 10;
    if (step == 3)
        return stamp + "client \"" + name + "\" joined (1" + limit + " players)";
    if (step == 8)
        return stamp + "client \"" + name + "\" left (0" + limit + " players)";
    const unsigned players = step > 3 && step < 8 ? 1 : 0;
    return stamp + "heartbeat " + std::to_string(index + 1) + ": " + std::to_string(players) +
           limit + " players";
}

void DedicatedServer::handleTermination()
{
    struct sigaction action = {};
    if (m_options.ignoreTerm) {
        action.sa_handler = SIG_IGN;
    } else if (m_options.termDelayMs) {
        termDelay = {static_cast<time_t>(*m_options.termDelayMs / 1000),
                     static_cast<long>(*m_options.termDelayMs % 1000) * 1000000L};
        action.sa_handler = &saveAndStop;
    } else {
        return;
    }
    ::sigaction(SIGTERM, &action, nullptr);
}

int DedicatedServer::run()
{
    handleTermination();
    if (!m_out.writeNow(banner(m_options, static_cast<long long>(::getpid()))))
        return 1;
    if (m_options.binary && !m_out.writeNow(binaryLine))
        return 1;
    if (m_options.noNewline && !m_out.writeNow(*m_options.noNewline))
        return 1;
    if (m_options.children)
        startChildren(*m_options.children);
    if (m_options.exitAfterMs && (m_options.exitSignal || m_options.exitCode))
        std::this_thread::sleep_for(std::chrono::milliseconds(*m_options.exitAfterMs));
    if (m_options.exitSignal) {
        ::signal(*m_options.exitSignal, SIG_DFL);
        ::kill(::getpid(), *m_options.exitSignal);
        return 1; // a signal whose default is to be ignored
    }
    if (m_options.commands)
        return CommandConsole(m_out, STDIN_FILENO, m_options.quitDelayMs.value_or(0)).run();
    if (m_options.exitCode)
        return *m_options.exitCode;
    if (m_options.flood && !flood(*m_options.flood))
        return 1;
    if (m_options.thenExit)
        return 0;
    return writeLog() ? 0 : 1;
}

void DedicatedServer::startChildren(unsigned long long count)
{
    // Ignored before the fork, so that the helpers never see a hang-up this server's end sends
    // them; the server itself keeps the defaults.
    struct sigaction ignore = {}, hangup = {}, terminate = {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &hangup);
    ::sigaction(SIGTERM, &ignore, &terminate);
    for (unsigned long long i = 0; i < count; ++i) {
        if (::fork() != 0)
            continue;
        if (::fork() == 0)
            runHelper(STDOUT_FILENO, "grandchild", m_options.intervalMs);
        runHelper(STDOUT_FILENO, "child", m_options.intervalMs);
    }
    ::sigaction(SIGHUP, &hangup, nullptr);
    ::sigaction(SIGTERM, &terminate, nullptr);
}

bool DedicatedServer::flood(unsigned long long count)
{
    // Only the counter changes from line to line: patch its digits into one line in place instead
    // of formatting every line afresh, so that the server floods faster than any reader drains.
    const char *const end = m_options.progress ? "\r" : "\n";
    std::string line = floodLine(0, m_options.colour) + end;
    const std::size_t digitsEnd = line.find(' ', 6);
    for (unsigned long long number = 1; number <= count; ++number) {
        if (number >= 10000000000ULL) {
            line = floodLine(number, m_options.colour) + end;
        } else {
            unsigned long long rest = number;
            for (std::size_t at = digitsEnd; at-- > 6; rest /= 10)
                line[at] = static_cast<char>('0' + rest % 10);
        }
        if (!m_out.append(line))
            return false;
    }
    return m_out.flush();
}

bool DedicatedServer::writeLog()
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    const std::string limit = m_options.clientLimit.value_or("");
    const auto interval = std::chrono::milliseconds(m_options.intervalMs);
    for (unsigned long long index = 0; !m_options.lines || index < *m_options.lines; ++index) {
        // Sleep until the line's due time rather than for a fixed span, so the log does not drift.
        std::this_thread::sleep_until(started + interval * (index + 1));
        const auto elapsed =
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count();
        if (!m_out.writeNow(logLine(index, static_cast<unsigned long long>(elapsed), limit) + "\n"))
            return false;
    }
    return m_out.writeNow("Server stopped.\n");
}
