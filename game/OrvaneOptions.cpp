#include "OrvaneOptions.h"

#include <cerrno>
#include <cstdlib>

namespace {

// Digits only: no sign, no blanks, no base prefix, nothing that strtoull would quietly accept.
std::optional<unsigned long long> parseCount(const std::string &text)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE)
        return std::nullopt;
    return value;
}

bool startsWith(const std::string &text, const char *prefix)
{
    return text.rfind(prefix, 0) == 0;
}

// "--name VALUE" or "--name=VALUE". Returns false when `argument` is not this option; otherwise
// `value` is the value (absent when the command line ended first) and `index` has moved past it.
bool takeLongOption(const std::vector<std::string> &arguments, std::size_t &index,
                    const std::string &name, std::optional<std::string> &value)
{
    const std::string &argument = arguments[index];
    if (argument == name) {
        if (index + 1 < arguments.size())
            value = arguments[++index];
        else
            value.reset();
        return true;
    }
    if (startsWith(argument, (name + "=").c_str())) {
        value = argument.substr(name.size() + 1);
        return true;
    }
    return false;
}

void setCount(OrvaneOptions &options, const std::string &name,
              const std::optional<std::string> &value, std::optional<unsigned long long> &target)
{
    if (!value) {
        options.problems.push_back(name + " needs a count");
        return;
    }
    if (const auto count = parseCount(*value))
        target = count;
    else
        options.problems.push_back(name + ": \"" + *value + "\" is not a count");
}

// A span of milliseconds, a day at most, so that no deadline computed from it can overflow.
void setMilliseconds(OrvaneOptions &options, const std::string &name,
                     const std::optional<std::string> &value,
                     std::optional<unsigned long long> &target)
{
    std::optional<unsigned long long> span;
    setCount(options, name, value, span);
    if (span && *span > 86400000ULL)
        options.problems.push_back(name + ": " + std::to_string(*span) + " is above a day");
    else if (span)
        target = span;
}

} // namespace

OrvaneOptions parseOrvaneArguments(const std::vector<std::string> &arguments)
{
    OrvaneOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        const std::size_t first = i;
        std::optional<std::string> value;

        if (argument == "-d") {
            options.server = true;
            continue;
        }
        if (startsWith(argument, "-n")) {
            options.description = argument.substr(2);
            continue;
        }
        if (startsWith(argument, "-p")) {
            options.passwordSet = argument.size() > 2;
            continue;
        }
        if (startsWith(argument, "-c")) {
            options.clientLimit = argument.substr(2);
            continue;
        }

        if (takeLongOption(arguments, i, "--flood", value)) {
            setCount(options, "--flood", value, options.flood);
        } else if (takeLongOption(arguments, i, "--lines", value)) {
            setCount(options, "--lines", value, options.lines);
        } else if (takeLongOption(arguments, i, "--interval", value)) {
            std::optional<unsigned long long> interval;
            setMilliseconds(options, "--interval", value, interval);
            if (interval)
                options.intervalMs = *interval;
        } else if (takeLongOption(arguments, i, "--exit-after", value)) {
            setMilliseconds(options, "--exit-after", value, options.exitAfterMs);
        } else if (takeLongOption(arguments, i, "--term-delay", value)) {
            setMilliseconds(options, "--term-delay", value, options.termDelayMs);
        } else if (takeLongOption(arguments, i, "--quit-delay", value)) {
            setMilliseconds(options, "--quit-delay", value, options.quitDelayMs);
        } else if (takeLongOption(arguments, i, "--no-newline", value)) {
            if (value)
                options.noNewline = value;
            else
                options.problems.push_back("--no-newline needs a text");
        } else if (takeLongOption(arguments, i, "--exit-code", value)) {
            std::optional<unsigned long long> code;
            setCount(options, "--exit-code", value, code);
            if (code && *code > 255)
                options.problems.push_back("--exit-code: " + std::to_string(*code) +
                                           " is above 255");
            else if (code)
                options.exitCode = static_cast<int>(*code);
        } else if (takeLongOption(arguments, i, "--exit-signal", value)) {
            std::optional<unsigned long long> number;
            setCount(options, "--exit-signal", value, number);
            if (number && (*number < 1 || *number > 64))
                options.problems.push_back("--exit-signal: " + std::to_string(*number) +
                                           " is not a signal");
            else if (number)
                options.exitSignal = static_cast<int>(*number);
        } else if (takeLongOption(arguments, i, "--children", value)) {
            std::optional<unsigned long long> count;
            setCount(options, "--children", value, count);
            if (count && *count > 16)
                options.problems.push_back("--children: " + std::to_string(*count) +
                                           " is above 16");
            else if (count)
                options.children = count;
        } else if (argument == "--exit") {
            options.exitCode = 0;
        } else if (argument == "--ignore-term") {
            options.ignoreTerm = true;
        } else if (argument == "--commands") {
            options.commands = true;
        } else if (argument == "--then-exit") {
            options.thenExit = true;
        } else if (argument == "--colour") {
            options.colour = true;
        } else if (argument == "--progress") {
            options.progress = true;
        } else if (argument == "--binary") {
            options.binary = true;
        } else if (argument == "-t") {
            options.windowed = true;
        } else if (startsWith(argument, "--")) {
            options.unknown.push_back(argument);
        } else if (startsWith(argument, "-w")) {
            options.width = argument.substr(2);
        } else if (startsWith(argument, "-h")) {
            options.height = argument.substr(2);
        } else if (startsWith(argument, "-z")) {
            options.colourDepth = argument.substr(2);
        } else if (startsWith(argument, "-a")) {
            options.antiAliasing = argument.substr(2);
        } else if (startsWith(argument, "-f")) {
            options.shaders = argument.substr(2);
        } else {
            options.unknown.push_back(argument);
        }
        for (std::size_t taken = first; taken <= i; ++taken)
            options.extraOptions.push_back(arguments[taken]);
    }
    return options;
}
