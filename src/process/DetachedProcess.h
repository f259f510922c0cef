#pragma once

#include "SysResult.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

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
// The process id, or the errno of why the program could not be started.
SysResult<pid_t> start(const QString &program, const QStringList &arguments,
                       const QString &workingDirectory);

using Environment = QList<std::pair<QString, QString>>;
// Starts `argv` (argument zero first). A program without a slash is looked up on PATH the way a
// shell in `workingDirectory` would look it up: on the PATH that `environment` sets, if it sets
// one, else on the launcher's. `environment` is added to the launcher's own, replacing variables
// of the same name.
SysResult<pid_t> start(const QStringList &argv, const QString &workingDirectory,
                       const Environment &environment);

// Where start() finds `program` (argument zero): a name without a slash on the PATH as start()
// chooses it, a path with a slash taken from `workingDirectory`. An empty string when no
// executable file lies there, so that a start would fail.
QString findProgram(const QString &program, const QString &workingDirectory,
                    const Environment &environment);

// Where a program named without a slash is found on `searchPath` (a colon-separated list in
// which an empty entry is the working directory, and relative entries count from it); an
// empty string when no entry holds an executable file of that name.
QString findOnPath(const QString &name, const QString &searchPath, const QString &workingDirectory);
} // namespace DetachedProcess
