#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

// What lies at the preferences path, and the file's text as the settings file format reads it.
//
// Only a regular file, or a symbolic link to one, is ever opened there. Everything else (a
// directory, a FIFO, a socket, a device, a link to any of these or to nothing) and a file too
// large to be a launcher's preferences is refused without being opened: opening a FIFO or a
// device can block, and writing would replace it. A link is followed only to a regular file of
// the user's own, and only through folders that nobody else can change; otherwise it is refused
// too, so that a save never writes another user's file or one that was swapped after the check.
namespace PreferencesFile {

// The real file holds nine short values; anything larger is not the launcher's.
inline constexpr qint64 MaxSize = 1024 * 1024;

struct Check
{
    enum class Kind
    {
        Absent,  // nothing there (or nothing can be there): reads as empty, a save may create it
        Regular, // a regular file, directly or through links
        Refused, // anything else: never opened, never written
    };
    Kind kind = Kind::Absent;
    // Where to read and write: the path itself, or for a link the regular file it leads to, so
    // that writing keeps the link.
    QString target;
    // For a refused path: why, in words for the user (translated).
    QString reason;
};

// Looks at `path` with lstat() and stat() only.
Check check(const QString &path);

// Reads a regular file of at most MaxSize bytes without blocking and without following a link
// at the last step (pass the link's target). Empty when it is anything else.
QByteArray readRegular(const QString &target);

// The top-level values of a settings file (those before any section and under [General]), each
// as one string: quotes and escapes decoded, commas kept as written, the last of duplicate keys
// winning. This is how a hand-written value that the format would split into a list reads.
QHash<QString, QString> topLevelStrings(const QByteArray &text);

} // namespace PreferencesFile
