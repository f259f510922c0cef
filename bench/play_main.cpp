// The Play action of the real launcher, repeated: the time from the call of playAction() until
// the stand-in game's main() runs (its run record's mainStartedNs, on the same CLOCK_MONOTONIC).
// Each started game is killed as soon as its record is there. Alternating with each Play, the
// same executable is started from this process by posix_spawn (what starting it costs at all) and
// by QProcess::startDetached alone (what Qt's way costs). Prints key=value lines.

#include "BenchLauncher.h"
#include "Launcher.h"
#include "LauncherPaths.h"
#include "MonotonicClock.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

struct Record
{
    qint64 mainStartedNs = 0;
    qint64 pid = 0;
};

// The stand-in writes its record by rename, so a file that exists is complete.
bool waitForRecord(const QString &path, int timeoutMs, Record &record)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!QFile::exists(path)) {
        if (deadline.hasExpired())
            return false;
        QThread::usleep(100);
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
    record.mainStartedNs = object.value(QStringLiteral("mainStartedNs")).toInteger();
    record.pid = object.value(QStringLiteral("pid")).toInteger();
    return record.mainStartedNs > 0 && record.pid > 0;
}

// The yardstick: the same game executable with the same kind of command line, started by
// posix_spawn from this same process, as cheaply as the C library can start a program.
bool spawnGame(const QString &recordPath, double &latencyMs)
{
    QByteArray program = QFile::encodeName(LauncherPaths::gameExecutable(
        LauncherPaths::gameDirectory(BenchLauncher::launcherExecutable())));
    QByteArray exitNow("--exit-code");
    QByteArray zero("0");
    QByteArray server("-d");
    char *argv[] = {program.data(), server.data(), exitNow.data(), zero.data(), nullptr};
    QFile::remove(recordPath);
    const qint64 startNs = MonotonicClock::nowNs();
    // The banner goes nowhere; the record is what is measured.
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, program.constData(), &actions, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&actions);
    if (failed != 0)
        return false;
    Record record;
    const bool reported = waitForRecord(recordPath, 10000, record);
    ::waitpid(pid, nullptr, 0);
    latencyMs = MonotonicClock::millisecondsBetween(startNs, record.mainStartedNs);
    return reported;
}

// Qt's own way of starting a detached program, on its own: what the Play action costs beyond
// it is the launcher's.
bool startDetachedGame(const QString &recordPath, double &latencyMs)
{
    const QString directory = LauncherPaths::gameDirectory(BenchLauncher::launcherExecutable());
    QProcess process;
    process.setProgram(LauncherPaths::gameExecutable(directory));
    process.setArguments(
        {QStringLiteral("-d"), QStringLiteral("--exit-code"), QStringLiteral("0")});
    process.setWorkingDirectory(directory);
    process.setStandardOutputFile(QProcess::nullDevice());
    QFile::remove(recordPath);
    const qint64 startNs = MonotonicClock::nowNs();
    if (!process.startDetached())
        return false;
    Record record;
    if (!waitForRecord(recordPath, 10000, record))
        return false;
    latencyMs = MonotonicClock::millisecondsBetween(startNs, record.mainStartedNs);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "velmora-bench-play: no temporary folder\n");
        return 2;
    }
    BenchLauncher::usePrivatePreferences(scratch.filePath(QStringLiteral("config")));
    const QString recordPath = scratch.filePath(QStringLiteral("run.json"));
    // The game inherits the launcher's environment: this is how it learns where to report.
    qputenv("ORVANE_RECORD", QFile::encodeName(recordPath));
    qputenv("ORVANE_RECORD_TIME", "1");

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("runs"), QStringLiteral("Number of Play actions."),
                      QStringLiteral("n"), QStringLiteral("15")});
    parser.process(app);
    const int runs = std::max(1, parser.value(QStringLiteral("runs")).toInt());

    BenchLauncher bench;
    if (!bench.show(10000)) {
        std::fprintf(stderr, "velmora-bench-play: the launcher window did not come up\n");
        return 2;
    }
    BenchLauncher::settle(300);

    std::vector<double> latencies;
    std::vector<double> returns;
    std::vector<double> spawns;
    std::vector<double> detached;
    for (int i = 0; i < runs; ++i) {
        QFile::remove(recordPath);
        const qint64 pressedNs = MonotonicClock::nowNs();
        bench.launcher()->playAction();
        returns.push_back(MonotonicClock::millisecondsBetween(pressedNs, MonotonicClock::nowNs()));
        Record record;
        if (!waitForRecord(recordPath, 10000, record)) {
            std::fprintf(stderr, "velmora-bench-play: run %d: the game did not report\n", i);
            return 1;
        }
        // The game would open its window now; it is not what is measured.
        ::kill(pid_t(record.pid), SIGKILL);
        latencies.push_back(MonotonicClock::millisecondsBetween(pressedNs, record.mainStartedNs));
        BenchLauncher::settle(50);

        double spawned = 0.0;
        if (!spawnGame(recordPath, spawned)) {
            std::fprintf(stderr, "velmora-bench-play: run %d: posix_spawn failed\n", i);
            return 1;
        }
        spawns.push_back(spawned);
        BenchLauncher::settle(50);

        double qtStarted = 0.0;
        if (!startDetachedGame(recordPath, qtStarted)) {
            std::fprintf(stderr, "velmora-bench-play: run %d: QProcess failed\n", i);
            return 1;
        }
        detached.push_back(qtStarted);
        BenchLauncher::settle(50);
    }

    const auto print = [](const char *key, const std::vector<double> &values) {
        std::printf("%s=", key);
        for (std::size_t i = 0; i < values.size(); ++i)
            std::printf("%s%.3f", i ? "," : "", values[i]);
        std::printf("\n");
    };
    std::printf("play_runs=%d\n", runs);
    print("play_ms", latencies);
    print("play_return_ms", returns);
    print("spawn_ms", spawns);
    print("start_detached_ms", detached);
    std::printf("terminate_calls=%d\n", bench.terminateCalls());
    return 0;
}
