#pragma once

#include <QString>

// The commands of velmora-server, each returning the process's exit status. They need a
// QCoreApplication and run its event loop while they talk to the host.
namespace HostCommands {

enum ExitStatus
{
    Success = 0,
    Failure = 1,
    Usage = 2,
    NotRunning = 3, // status: no server runs (the LSB's "program is not running")
    Unknown = 4,    // status: the host cannot be asked
};

// The host in the foreground (or, `detached`, as started by start()). `awaitSettings`: its server
// starts with the settings a client sends (a window on another machine), not the stored ones.
int run(bool detached, bool awaitSettings = false);
// A host that outlives the caller, under systemd where the user's manager runs unless
// `detached`; returns once its server runs.
int start(bool detached);
int status();
int send(const QString &command);
int stop();
// Prints the last rows and follows; standard input's lines go to the server. With `protocol`,
// relays the host's protocol over standard input and output instead; with `start` as well, a host
// is started first where none runs, and waits for the client's settings (see run()).
int attach(bool protocol, bool start = false);

} // namespace HostCommands
