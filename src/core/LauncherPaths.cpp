#include "LauncherPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace LauncherPaths {

QString executablePath()
{
    // /proc/self/exe names the executable where it is now; applicationFilePath() is worked out
    // once and would miss a move.
    const QString link = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    if (!link.isEmpty() && !link.endsWith(QStringLiteral(" (deleted)")))
        return link;
    return QCoreApplication::applicationFilePath();
}

QString launcherFolder(const QString &executablePath)
{
    return QFileInfo(executablePath).path();
}

QString gameDirectory(const QString &executablePath)
{
    return launcherFolder(executablePath) + QStringLiteral("/Orvane");
}

QString gameExecutable(const QString &gameDirectory)
{
    return gameDirectory + QStringLiteral("/orvane.app/Contents/MacOS/orvane");
}

QString helpFile(const QString &executablePath)
{
    return launcherFolder(executablePath) + QStringLiteral("/README.html");
}

} // namespace LauncherPaths
