#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

// Starts a program that is to outlive the launcher, the way the game is started by Play.
//
// The program runs in its own session, in `workingDirectory`, with the launcher's environment and
// standard streams and no other descriptor of the launcher's. It is started with posix_spawn, so
// starting it costs the same however large the launcher has grown; a start that fails (program
// missing or not executable, directory missing) is reported here, never as a success. While the
// launcher runs, an ended program is reaped; once the launcher has ended, it is no longer its
// parent. Main thread only.
namespace DetachedProcess {
// Returns the process id, or -1 when the program could not be started (`error` then holds errno).
pid_t start(const QString &program, const QStringList &arguments, const QString &workingDirectory,
            int *error = nullptr);
} // namespace DetachedProcess
