#pragma once

#include <QString>
#include <QStringList>

// Starts `velmora-server run` as a host that outlives whoever started it, and says when it is
// ready. Under the user's systemd manager it becomes a transient user unit, so that the manager
// owns its cgroup, journal and lifetime; elsewhere it is started detached, in a session of its
// own, and tells the starter through its standard error that it is ready (by closing it) or why
// it is not (by writing there first).
namespace HostStarter {

// The name of the transient unit; the installed unit is velmora-server.service, and the two never
// run at once (the host lock sees to that).
inline constexpr char UnitName[] = "velmora-host.service";

struct Result
{
    bool started = false;
    QString message; // why not, in words (with whatever the host or systemd said)
};

// Whether the user's systemd manager can be asked: systemd-run is there, and the manager's
// private socket is in XDG_RUNTIME_DIR.
bool userManagerReachable();

// `program` is velmora-server itself. Each returns once the host listens and its server has been
// started, or has failed.
// `arguments` follow `run` (and --detached).
Result startUnderSystemd(const QString &program, const QStringList &arguments = {});
Result startDetached(const QString &program, const QStringList &arguments = {});

// The environment a transient unit is given on top of the manager's own, so that it reads the
// same preferences, writes the same logs and listens where this user's clients look.
QStringList forwardedEnvironment();

// Tells the service manager that started this process (Type=notify) that it is ready; nothing
// when none did. Reads NOTIFY_SOCKET once and takes it out of the environment, so that the
// server started later does not inherit it: call before the server starts.
class ReadyNotice
{
public:
    ReadyNotice();
    bool isExpected() const { return !m_socket.isEmpty(); }
    void send() const;

private:
    QByteArray m_socket;
};

// How this host is run, in words, for status: the unit it runs in, or "detached", or the
// foreground.
QString managerDescription(bool detached);

} // namespace HostStarter
