#pragma once

#include <QString>

class Preferences;

// How a running server is looked after, as the user set it: read afresh from the preferences at
// each use by whoever drives a ServerSession (the window, or a host without one).
struct SupervisionSettings
{
    // A stop timeout above this is taken as this: an hour is more than any save takes.
    static constexpr int MaxStopTimeoutSeconds = 3600;

    // Typed into the server's terminal when it is asked to stop; empty types nothing.
    QString quitCommand;
    // How long a stop waits for the server to end before killing it; 0 kills at once.
    int stopTimeoutSeconds = 0;
    bool restartOnCrash = false;
    // Desktop notifications when the server falls: on unless the user switched them off.
    bool notify = true;

    static SupervisionSettings read(const Preferences &prefs);
};
