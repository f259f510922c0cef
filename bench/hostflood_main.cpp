// One flood through the server host to an attached window: velmora-server runs the stand-in,
// which waits for a command and then writes --lines lines as fast as it can; the host keeps the
// console's rows and its log and passes every row over its socket to the launcher window in this
// process. Prints key=value lines for run_benchmarks.py: the wall time from the command to the
// painted separator line, the CPU time of the window's process and of the host's own process
// (not its server's) over the same span, and the largest gap between 10 ms ticks in the window's
// event loop.

#include "BenchLauncher.h"
#include "ConsoleView.h"
#include "FloodProbe.h"
#include "HostClient.h"
#include "Launcher.h"
#include "ServerCommands.h"
#include "SettingsKeys.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// User and system time of `pid` itself, its reaped children not counted; read from a zombie too.
double ownCpuSeconds(pid_t pid, char *state = nullptr)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (state)
        *state = fields.value(0).isEmpty() ? '?' : fields.value(0).at(0);
    // Fields 14 and 15 of the line: the 12th and 13th after the command's name.
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(::sysconf(_SC_CLK_TCK));
}

int fail(const char *why)
{
    std::fprintf(stderr, "velmora-bench-hostflood: %s\n", why);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir scratch;
    if (!scratch.isValid())
        return fail("no temporary folder");
    BenchLauncher::usePrivatePreferences(scratch.filePath(QStringLiteral("config")));
    const QString runtime = scratch.filePath(QStringLiteral("runtime"));
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    // The host, once its starter has gone, becomes our child: its times can be read when it ends.
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);

    QApplication app(argc, argv);
    QCommandLineParser parser;
    BenchLauncher::addFloodOptions(parser);
    parser.process(app);
    const QString lines = parser.value(QStringLiteral("lines"));

    // A launcher folder whose game waits for "go" before it becomes the stand-in's flood, so that
    // the window is attached before the first line.
    const QString build = QFileInfo(BenchLauncher::launcherExecutable()).path();
    const QString folder = scratch.filePath(QStringLiteral("folder"));
    const QString gameDir = folder + QStringLiteral("/Orvane/orvane.app/Contents/MacOS");
    QDir().mkpath(gameDir);
    QFile::copy(build + QStringLiteral("/velmora-server"),
                folder + QStringLiteral("/velmora-server"));
    QFile::setPermissions(folder + QStringLiteral("/velmora-server"),
                          QFile::permissions(build + QStringLiteral("/velmora-server")));
    QFile game(gameDir + QStringLiteral("/orvane"));
    if (!game.open(QIODevice::WriteOnly))
        return fail("cannot write the game");
    game.write(
        "#!/bin/sh\nstty -echo\nread go\nexec '" +
        QFile::encodeName(build + QStringLiteral("/Orvane/orvane.app/Contents/MacOS/orvane")) +
        "' \"$@\"\n");
    game.close();
    game.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    BenchLauncher::setPreference(SettingsKeys::serverOptions,
                                 QStringLiteral("--flood %1 --then-exit").arg(lines));

    if (QProcess::execute(folder + QStringLiteral("/velmora-server"),
                          {QStringLiteral("start"), QStringLiteral("--detached")}) != 0)
        return fail("the host did not start");
    BenchLauncher bench;
    if (!bench.show(10000) || !bench.showServerPane())
        return fail("the launcher window did not come up");
    Launcher *launcher = bench.launcher();
    for (int i = 0; i < 1000 && !(launcher->host() && launcher->host()->isRunning()); ++i)
        BenchLauncher::settle(10);
    if (!launcher->host())
        return fail("the window did not attach to the host");
    BenchLauncher::settle(300);
    const pid_t host = launcher->host()->state().hostPid;

    FloodProbe probe(launcher, bench.console());
    const double hostBefore = ownCpuSeconds(host);
    const bool ok = probe.run(parser.value(QStringLiteral("timeout-ms")).toInt(), [launcher] {
        return launcher->host() &&
               launcher->host()->sendCommand(QStringLiteral("go"), MaxCommandFieldLength);
    });
    // The host's own time once it has ended (a zombie of ours until reaped).
    char state = '?';
    double hostAfter = ownCpuSeconds(host, &state);
    for (int i = 0; i < 1000 && state != 'Z'; ++i) {
        BenchLauncher::settle(10);
        hostAfter = ownCpuSeconds(host, &state);
    }
    ::waitpid(host, nullptr, 0);

    std::printf("ok=%d\n", ok && state == 'Z' ? 1 : 0);
    std::printf("flood_lines=%s\n", qPrintable(lines));
    std::printf("flood_seconds=%.4f\n", probe.seconds());
    std::printf("window_cpu_seconds=%.4f\n", probe.cpuSeconds());
    std::printf("host_cpu_seconds=%.4f\n", hostAfter - hostBefore);
    std::printf("max_gap_ms=%.2f\n", probe.maxGapMs());
    std::printf("detected_by=%s\n", probe.detectedBy());
    const ConsoleModel &model = bench.console()->model();
    std::printf("line_before_separator=%s\n",
                model.lineCount() >= 2 ? qPrintable(model.line(model.lineCount() - 2)) : "(none)");
    return ok ? 0 : 1;
}
