#include "GameCommands.h"

#include "CommandLine.h"
#include "LauncherPaths.h"
#include "Preferences.h"
#include "SettingsKeys.h"

#include <QFile>

LaunchCommand playCommand(const QString &gameDirectory, const QString &resolutionTitle,
                          const QHash<QString, QString> &typed)
{
    const Preferences defs;
    const auto text = [&](QLatin1String key) {
        return typed.value(key, defs.nonNullStringForKey(key));
    };
    GameSettings settings;
    settings.fullscreen = defs.integerForKey(SettingsKeys::fullscreen);
    settings.fsaa = defs.integerForKey(SettingsKeys::fsaa);
    settings.shader = defs.integerForKey(SettingsKeys::shader);
    settings.advancedOptions = text(SettingsKeys::advancedOptions);
    LaunchCommand command = launchCommand(
        LauncherPaths::gameExecutable(gameDirectory), gameArguments(resolutionTitle, settings),
        text(SettingsKeys::launchWrapper), text(SettingsKeys::launchEnvironment));
    command.workingDirectory = gameDirectory;
    return command;
}

ServerSettings storedServerSettings()
{
    const Preferences prefs;
    ServerSettings settings;
    settings.options = prefs.nonNullStringForKey(SettingsKeys::serverOptions);
    settings.description = prefs.nonNullStringForKey(SettingsKeys::serverDescription);
    settings.password = prefs.nonNullStringForKey(SettingsKeys::serverPassword);
    settings.maxClients = prefs.integerForKey(SettingsKeys::serverMaxClients);
    return settings;
}

ServerLaunch serverLaunch(const QString &gameDirectory)
{
    return serverLaunch(gameDirectory, storedServerSettings());
}

ServerLaunch serverLaunch(const QString &gameDirectory, const ServerSettings &settings)
{
    ServerLaunch launch;
    launch.path = QFile::encodeName(LauncherPaths::gameExecutable(gameDirectory));
    launch.argv = serverArguments(launch.path, settings);
    launch.workingDirectory = QFile::encodeName(gameDirectory);
    launch.description = settings.description;
    return launch;
}
