#pragma once

#include <csignal>
#include <spawn.h>

// posix_spawn's attribute and file-action objects, released on every path.
struct SpawnSetup
{
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t actions;
    SpawnSetup()
    {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    // Nothing of the launcher's signal state carries over: an empty mask, and the default action
    // for every signal the launcher ignores or handles. `flags` adds POSIX_SPAWN_SETSID or
    // POSIX_SPAWN_SETPGROUP.
    void resetSignals(short flags)
    {
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (int signal : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGXFSZ})
            sigaddset(&defaults, signal);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &defaults);
        posix_spawnattr_setflags(&attr, flags | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }

    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;
};
