// One flood through the real launcher: the stand-in server writes --lines lines as fast as it can
// and the launcher reads them into its console. Prints key=value lines for run_benchmarks.py:
// the time from Start to the painted separator line, the largest gap between the ticks of a
// 10 ms timer in the launcher's event loop, and resident memory idle after start-up against the
// peak during the flood.

#include "BenchLauncher.h"
#include "ConsoleView.h"
#include "FloodProbe.h"
#include "Launcher.h"
#include "PaintCounter.h"
#include "ProcStatus.h"
#include "SettingsKeys.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QTemporaryDir config;
    if (!config.isValid()) {
        std::fprintf(stderr, "velmora-bench-flood: no temporary folder\n");
        return 2;
    }
    BenchLauncher::usePrivatePreferences(config.path());

    QApplication app(argc, argv);
    QCommandLineParser parser;
    BenchLauncher::addFloodOptions(parser);
    parser.addOption({QStringLiteral("main-pane"),
                      QStringLiteral("Stay on the Main pane, so the console is never painted "
                                     "(tells reading apart from drawing).")});
    parser.addOption(
        {QStringLiteral("colour"), QStringLiteral("Flood lines with colour sequences in them.")});
    parser.addOption({QStringLiteral("progress"),
                      QStringLiteral("End flood lines with a carriage return instead of a line "
                                     "feed: one progress row redrawn in place.")});
    parser.process(app);
    const bool consoleShown = !parser.isSet(QStringLiteral("main-pane"));
    const QString lines = parser.value(QStringLiteral("lines"));

    const bool colour = parser.isSet(QStringLiteral("colour"));
    const bool progress = parser.isSet(QStringLiteral("progress"));
    BenchLauncher::setPreference(SettingsKeys::serverOptions,
                                 QStringLiteral("--flood %1 --then-exit%2%3")
                                     .arg(lines, colour ? QStringLiteral(" --colour") : QString(),
                                          progress ? QStringLiteral(" --progress") : QString()));
    BenchLauncher bench;
    if (!bench.show(10000) || (consoleShown && !bench.showServerPane())) {
        std::fprintf(stderr, "velmora-bench-flood: the launcher window did not come up\n");
        return 2;
    }
    // Idle after start-up: whatever the first frames and the pane switch allocated is in place.
    BenchLauncher::settle(500);
    const qint64 idleKiB = ProcStatus::residentKiB();
    const bool peakReset = ProcStatus::resetPeak();

    FloodProbe probe(bench.launcher(), bench.console());
    PaintCounter paints;
    paints.start();
    const qint64 readsBefore = ProcStatus::readCalls();
    const qint64 wakeupsBefore = ProcStatus::voluntarySwitches();
    const qint64 allWakeupsBefore = ProcStatus::processVoluntarySwitches();
    const bool ok = probe.run(parser.value(QStringLiteral("timeout-ms")).toInt());
    const qint64 reads = ProcStatus::readCalls() - readsBefore;
    const qint64 wakeups = ProcStatus::voluntarySwitches() - wakeupsBefore;
    const qint64 otherWakeups = ProcStatus::processVoluntarySwitches() - allWakeupsBefore - wakeups;
    paints.stop();
    const qint64 peakKiB = ProcStatus::peakResidentKiB();

    // Let the finished run be reaped and released before the window goes.
    for (int i = 0; i < 500 && bench.launcher()->activeRunCount() > 0; ++i)
        BenchLauncher::settle(10);

    const ConsoleModel &model = bench.console()->model();
    const QString before =
        model.lineCount() >= 2 ? model.line(model.lineCount() - 2) : QStringLiteral("(none)");
    std::printf("ok=%d\n", ok ? 1 : 0);
    std::printf("flood_lines=%s\n", qPrintable(lines));
    std::printf("console_shown=%d\n", consoleShown ? 1 : 0);
    std::printf("colour=%d\n", colour ? 1 : 0);
    std::printf("progress=%d\n", progress ? 1 : 0);
    std::printf("flood_seconds=%.4f\n", probe.seconds());
    std::printf("flood_cpu_seconds=%.4f\n", probe.cpuSeconds());
    std::printf("flood_main_cpu_seconds=%.4f\n", probe.mainThreadCpuSeconds());
    std::printf("detected_by=%s\n", probe.detectedBy());
    std::printf("max_gap_ms=%.2f\n", probe.maxGapMs());
    std::printf("ticks=%d\n", probe.ticks());
    std::printf("idle_rss_kib=%lld\n", static_cast<long long>(idleKiB));
    std::printf("peak_rss_kib=%lld\n", static_cast<long long>(peakKiB));
    std::printf("peak_reset=%d\n", peakReset ? 1 : 0);
    std::printf("console_lines=%d\n", model.lineCount());
    std::printf("reads=%lld\n", static_cast<long long>(reads));
    std::printf("wakeups=%lld\n", static_cast<long long>(wakeups));
    std::printf("other_thread_wakeups=%lld\n", static_cast<long long>(otherWakeups));
    std::printf("paints=%s\n", qPrintable(paints.summary()));
    std::printf("line_before_separator=%s\n", qPrintable(before));
    return ok ? 0 : 1;
}
