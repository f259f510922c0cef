#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <sys/types.h>

class QProcess;
class ServerRun;

namespace ProcessTestSupport {

// How long a test waits for a child: generous, since two cores are shared with other builds and
// sanitizer builds fork slowly.
constexpr int Patience = 30000;

// Writes an executable /bin/sh script `body` to `dir`/`name` and returns its path.
QString writeScript(const QString &dir, const QString &name, const QByteArray &body);

// Runs a tool (xrandr, gdbus, swaymsg) to its end in `env`: its standard output, or false with
// the command and what it said on its standard error.
bool runTool(const QString &program, const QStringList &args, const QProcessEnvironment &env,
             QByteArray *output, QString *whyNot);

// The first line a starting child prints on its standard output (a bus address, a display
// number), trimmed; empty when it ends or `timeoutMs` passes first.
QByteArray readFirstLine(QProcess &process, int timeoutMs);

// The last lines of a server's or compositor's log, for the reason it did not start.
QString logTail(const QString &path);

// Open descriptors of this process, number -> link target.
QMap<int, QString> openDescriptors();

// Processes whose parent is this process, with their state letter ('Z' for a zombie).
QMap<pid_t, char> childProcesses();

// True once `pid` has ended: gone, or a zombie (of a parent other than us, as a server's helpers
// are).
bool processDead(pid_t pid);

// Fields of a report written by pty_probe.
struct ProbeReport
{
    QList<QByteArray> argv;
    QByteArray cwd;
    QList<QByteArray> descriptors;
    bool complete = false;
};
ProbeReport readProbeReport(const QString &path);

// Collects what one run reports. By default every chunk re-arms the read and the end of
// output closes the run's output, as the launcher does.
struct RunLog
{
    explicit RunLog(ServerRun *run, bool rearm = true, bool closeAtEnd = true);

    ServerRun *run;
    bool rearm;
    bool closeAtEnd;
    QString text; // everything the run reported, decoded
    int reads = 0;
    int ends = 0;
    int failures = 0;
    int finishes = 0;
    int foreignReports = 0;
    bool dataAfterEnd = false;
};

} // namespace ProcessTestSupport
