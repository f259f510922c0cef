#include "SupervisionSettings.h"

#include "Preferences.h"
#include "SettingsKeys.h"

#include <algorithm>

SupervisionSettings SupervisionSettings::read(const Preferences &prefs)
{
    SupervisionSettings settings;
    settings.quitCommand = prefs.nonNullStringForKey(SettingsKeys::serverQuitCommand);
    settings.stopTimeoutSeconds =
        std::clamp(prefs.integerForKey(SettingsKeys::serverStopTimeout), 0, MaxStopTimeoutSeconds);
    settings.restartOnCrash = prefs.integerForKey(SettingsKeys::serverRestart) != 0;
    if (prefs.contains(SettingsKeys::serverNotify))
        settings.notify = prefs.integerForKey(SettingsKeys::serverNotify) != 0;
    return settings;
}
