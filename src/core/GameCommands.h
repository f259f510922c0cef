#pragma once

#include "CommandLine.h"
#include "LaunchCommand.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// What Play and Start run, from the stored settings as they are at the moment of asking.

// What Play would start now: the game in `gameDirectory` at the resolution titled
// `resolutionTitle` ("" when none is selected), with `typed` (text still being edited, by
// settings key) in place of the stored values.
LaunchCommand playCommand(const QString &gameDirectory, const QString &resolutionTitle,
                          const QHash<QString, QString> &typed = {});

// How a dedicated server is started: the executable, its whole argument vector (argument zero
// included) and its working directory, in the file system's own form.
struct ServerLaunch
{
    QByteArray path;
    QList<QByteArray> argv;
    QByteArray workingDirectory;
    // The server's description as the user set it, for messages about the server ("" for none).
    // Initialised here, so that a launch written with the first three members alone still builds
    // without a warning.
    QString description{};
};

// The four server settings as stored now.
ServerSettings storedServerSettings();
// The dedicated server of the game in `gameDirectory`, with the four stored server settings, or
// with `settings` (a window's on another machine).
ServerLaunch serverLaunch(const QString &gameDirectory);
ServerLaunch serverLaunch(const QString &gameDirectory, const ServerSettings &settings);
