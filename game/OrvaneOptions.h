#pragma once

#include <optional>
#include <string>
#include <vector>

// What one run of the stand-in was asked to do, read from its arguments (argument zero excluded).
// The launcher's own arguments (-w, -h, -z, -t, -a, -f for the game; -d, -n, -p, -c for the server)
// and the stand-in's steering options (--flood, --lines, ...) may arrive in any order: the steering
// options come in among the launcher's extra options. Nothing here is fatal: an option that is not
// understood is kept in `unknown`, a steering option with a bad value in `problems`, and both are
// shown in the server's banner.
//
// The password itself is deliberately not kept: only whether one was given, so that no later code
// can print it by mistake.
struct OrvaneOptions
{
    bool server = false; // "-d" anywhere

    // Game settings, as the texts that followed the option letter (not parsed as numbers).
    std::optional<std::string> width;        // -wW
    std::optional<std::string> height;       // -hH
    std::optional<std::string> colourDepth;  // -zN
    std::optional<std::string> antiAliasing; // -aN
    std::optional<std::string> shaders;      // -fN
    bool windowed = false;                   // -t (absent means full screen)

    // Server settings.
    std::optional<std::string> description; // -n<text>, the last one wins
    bool passwordSet = false;               // -p<text> with a non-empty text
    std::optional<std::string> clientLimit; // -c<number>, as given

    // Steering options of the stand-in.
    std::optional<unsigned long long> flood;       // --flood N
    bool colour = false;                           // --colour: flood lines with colour sequences
    bool progress = false;                         // --progress: flood lines end in "\r", not "\n"
    std::optional<unsigned long long> lines;       // --lines N
    std::optional<std::string> noNewline;          // --no-newline TEXT
    bool binary = false;                           // --binary
    std::optional<int> exitCode;                   // --exit (0) or --exit-code N
    std::optional<int> exitSignal;                 // --exit-signal N: ends by signal N (1 to 64)
    std::optional<unsigned long long> children;    // --children N: see DedicatedServer
    bool thenExit = false;                         // --then-exit
    bool commands = false;                         // --commands: answer commands from the terminal
    unsigned long long intervalMs = 1000;          // --interval MS between log lines
    std::optional<unsigned long long> exitAfterMs; // --exit-after MS: the exit or signal comes then
    bool ignoreTerm = false;                       // --ignore-term: SIGTERM is ignored
    std::optional<unsigned long long> termDelayMs; // --term-delay MS: saves that long on SIGTERM
    std::optional<unsigned long long> quitDelayMs; // --quit-delay MS: saves that long on "quit"

    // Every argument other than -d, -n, -p and -c, in order: what the server calls its extra
    // options.
    std::vector<std::string> extraOptions;
    std::vector<std::string> unknown;
    std::vector<std::string> problems;
};

OrvaneOptions parseOrvaneArguments(const std::vector<std::string> &arguments);
