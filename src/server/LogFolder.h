#pragma once

#include "SysResult.h"
#include "UniqueFd.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// The folder of the server logs and its rules: where it is, how logs are named, which of them
// may go, and the private modes of what is made in it. Plain file-system work on the calling
// thread, so that every rule is tested on real files.
//
// The folder holds only the launcher's logs. Files that are not named like a log, links and logs
// that a run of any launcher is still writing (each holds a lock on its log) are never removed.
namespace LogFolder {

constexpr int KeepLogs = 20;
constexpr qint64 TotalBudget = qint64(100) * 1024 * 1024;

// $XDG_STATE_HOME/Velmora/server-logs, with ~/.local/state standing in for an unset or relative
// XDG_STATE_HOME.
QString defaultFolder();
// "2026-12-08T13-45-07.log" for a run started then (local time); `number` > 1 adds "-2" etc.
QString fileName(const QDateTime &start, int number = 1);
// Whether `name` is one that fileName() gives.
bool isLogName(const QString &name);
// The logs in `folder`, oldest first.
QStringList logsOldestFirst(const QString &folder);
// The newest log in `folder`, or an empty string.
QString newestLog(const QString &folder);
// Whether a run (of this launcher or another, or of the server host) is writing `log` now.
bool isBeingWritten(const QString &log);

// Removes the oldest logs in `folder` until at most `keep` remain and their sizes add up to at
// most `budget`, sparing logs that are being written. Returns the logs that remain, oldest first.
QStringList prune(const QString &folder, int keep, qint64 budget);

// Creates `folder` and any missing parent as 0700. The log folder itself is made 0700 only when
// it is the user's own and no link leads to it: a folder the user has linked elsewhere keeps
// the modes it has.
SysStatus makePrivate(const QString &folder);

struct NewLog
{
    QString path;
    UniqueFd fd; // append-only, close-on-exec, locked for as long as it is open
};
// Creates the log of a run started at `start` in `folder` (0600), never following a link and
// never reusing a name.
SysResult<NewLog> create(const QString &folder, const QDateTime &start);

} // namespace LogFolder
