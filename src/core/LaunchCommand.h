#pragma once

#include "ShellWords.h"

#include <QList>
#include <QString>
#include <QStringList>

// What Play starts: the game's own command line, put behind the player's wrapper ("Launch with")
// and given the player's environment lines. With neither set it is the game's command line alone.

struct EnvironmentVariable
{
    QString name;
    QString value;
    friend bool operator==(const EnvironmentVariable &a, const EnvironmentVariable &b)
    {
        return a.name == b.name && a.value == b.value;
    }
};

struct EnvironmentLines
{
    // In the order the names first appear; a name given again takes the later value, as it would
    // in a shell.
    QList<EnvironmentVariable> variables;
    // Lines (counted from 1) that are not NAME=value with a valid name: they are left out.
    QList<int> invalidLines;
};

// One NAME=value per line. Blank lines and blanks before the name are ignored; the value is
// everything after the first "=", taken as written (quotes included), less a carriage return that
// ends the line. A line holding a null character cannot be passed on and counts as invalid.
EnvironmentLines parseEnvironmentLines(const QString &text);

struct LaunchCommand
{
    // argv: the program first (the wrapper's first word, or the game's path), looked up on PATH
    // when it holds no slash.
    QStringList words;
    // Added to the launcher's own environment for the started program.
    QList<EnvironmentVariable> environment;
    // Where it runs: the game directory.
    QString workingDirectory;
    // Why the wrapper could not be read; Play then starts nothing.
    ShellWords::Problem wrapperProblem = ShellWords::Problem::None;
    QList<int> invalidEnvironmentLines;

    bool canStart() const
    {
        return wrapperProblem == ShellWords::Problem::None && !words.isEmpty();
    }
};

LaunchCommand launchCommand(const QString &gamePath, const QStringList &gameArguments,
                            const QString &wrapper, const QString &environment);

// The command as one line a shell runs the same way: NAME=value words first, then the words, each
// quoted only where the shell needs it (ShellWords::quote), so that the line gives back the very
// bytes Play passes on. Empty when the command cannot start.
QString shellCommandLine(const LaunchCommand &command);
