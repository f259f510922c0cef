#pragma once

#include <optional>
#include <string>
#include <vector>

// What a test or a benchmark learns about one start of the stand-in: its arguments and working
// directory exactly as it received them, its mode, and optionally when `main` began.
//
// Written as one JSON object with the members "argv0", "arguments" (argv[1..]), "argumentsHex"
// (the same arguments as lower-case hex of their bytes), "cwd", "mode" ("game" or "server"),
// "pid" and, when asked for, "mainStartedNs" (CLOCK_MONOTONIC). JSON text cannot carry bytes that
// are not UTF-8: the text members show such bytes as U+FFFD, and "argumentsHex" keeps them exactly.
//
// Plain C++ on purpose: this runs before anything else in `main`, and the game executable links
// no Qt at all, so that its start costs as little as possible.
struct RunRecord
{
    std::string argv0;
    std::vector<std::string> arguments;
    std::string cwd;
    std::string mode;
    long long pid = 0;
    std::optional<long long> mainStartedNs;

    std::string toJson() const;

    // Writes the record to `path` through a temporary file beside it and a rename, so that a
    // reader sees either no file or the whole record. The file is readable by the owner only: the
    // arguments may hold a server password. On failure `error` says why and nothing is left behind.
    bool writeAtomically(const std::string &path, std::string &error) const;

    static std::string jsonString(const std::string &bytes);
    static std::string hex(const std::string &bytes);
};
