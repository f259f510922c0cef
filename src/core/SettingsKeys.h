#pragma once

#include <QLatin1String>

// The preference keys, spelled as stored. The game, the server and existing preference files depend
// on these exact names.
namespace SettingsKeys {
inline constexpr QLatin1String resolution{"resolution"};
inline constexpr QLatin1String fullscreen{"fullscreen"};
inline constexpr QLatin1String fsaa{"fsaa"};
inline constexpr QLatin1String shader{"shader"};
inline constexpr QLatin1String advancedOptions{"advancedOptions"};
inline constexpr QLatin1String launchWrapper{"launchWrapper"};
inline constexpr QLatin1String launchEnvironment{"launchEnvironment"};
inline constexpr QLatin1String serverOptions{"server_options"};
inline constexpr QLatin1String serverDescription{"server_description"};
inline constexpr QLatin1String serverPassword{"server_password"};
inline constexpr QLatin1String serverMaxClients{"server_maxclients"};
// How the launcher looks after a running server (see SupervisionSettings).
inline constexpr QLatin1String serverQuitCommand{"server_quitcommand"};
inline constexpr QLatin1String serverStopTimeout{"server_stoptimeout"};
inline constexpr QLatin1String serverRestart{"server_restart"};
inline constexpr QLatin1String serverNotify{"server_notify"};
// Whether Start runs the server in a host of its own that outlives the window.
inline constexpr QLatin1String serverKeepRunning{"server_keeprunning"};
// 1: the console draws in the user's text font rather than the system's fixed-pitch font.
inline constexpr QLatin1String consoleUserFont{"consoleUserFont"};
// Where the server runs: empty for this computer, else an SSH destination; and the command that
// runs velmora-server there.
inline constexpr QLatin1String serverOn{"server_on"};
inline constexpr QLatin1String serverRemoteCommand{"server_remotecommand"};
} // namespace SettingsKeys
