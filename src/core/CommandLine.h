#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The game's and the dedicated server's command lines, built from the settings. Plain functions, so
// that every rule about spaces, empty pieces and formats is tested without a window or a process.

struct GameSettings
{
    int fullscreen = 0;
    int fsaa = 0;
    int shader = 0;
    QString advancedOptions;
};

struct ServerSettings
{
    QString options;
    QString description;
    QString password;
    int maxClients = 0;
};

// The width and height texts of a resolution entry titled "W x H". Only the first two pieces count.
// A title without " x " (or no selection at all) has no height: the missing piece is "" rather than
// a crash, and the game receives "-w<title>" and "-h".
struct ResolutionPieces
{
    QString width;
    QString height;
};
ResolutionPieces splitResolutionTitle(const QString &title);

// The game's arguments, argument zero excluded: -wW -hH -z32 [-t] -aN -fN and every piece of the
// extra options, empty pieces included.
QStringList gameArguments(const QString &resolutionTitle, const GameSettings &settings);

// The dedicated server's whole argument vector, argument zero (the executable's path) included:
// path, "-d", the non-empty option pieces, then -n…, -p… and -c… when set.
QList<QByteArray> serverArguments(const QByteArray &executablePath, const ServerSettings &settings);
