// The Play action of the real launcher, repeated: the time from the call of playAction() until
// the stand-in game's main() runs (its run record's mainStartedNs, on the same CLOCK_MONOTONIC).
// Each started game is killed as soon as its record is there. Prints key=value lines.

#include "BenchLauncher.h"
#include "Launcher.h"
#include "MonotonicClock.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

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
    for (int i = 0; i < runs; ++i) {
        QFile::remove(recordPath);
        const qint64 pressedNs = MonotonicClock::nowNs();
        bench.launcher()->playAction();
        Record record;
        if (!waitForRecord(recordPath, 10000, record)) {
            std::fprintf(stderr, "velmora-bench-play: run %d: the game did not report\n", i);
            return 1;
        }
        // The game would open its window now; it is not what is measured.
        ::kill(pid_t(record.pid), SIGKILL);
        latencies.push_back(MonotonicClock::millisecondsBetween(pressedNs, record.mainStartedNs));
        BenchLauncher::settle(50);
    }

    std::printf("play_runs=%d\n", runs);
    std::printf("play_ms=");
    for (std::size_t i = 0; i < latencies.size(); ++i)
        std::printf("%s%.3f", i ? "," : "", latencies[i]);
    std::printf("\n");
    std::printf("terminate_calls=%d\n", bench.terminateCalls());
    return 0;
}
