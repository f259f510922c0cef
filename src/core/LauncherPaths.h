#pragma once

#include <QString>

// Where things lie, worked out afresh at every call from where the launcher executable is now, so
// that a launcher folder moved while the launcher runs is followed.
namespace LauncherPaths {
// The launcher's own executable, as the kernel knows it now (follows a rename of its folder).
QString executablePath();
// The folder that holds the launcher executable.
QString launcherFolder(const QString &executablePath);
// The game directory: the launcher folder with "Orvane" appended.
QString gameDirectory(const QString &executablePath);
// The game executable inside a game directory.
QString gameExecutable(const QString &gameDirectory);
// "README.html" beside the launcher (not inside the game directory).
QString helpFile(const QString &executablePath);
} // namespace LauncherPaths
