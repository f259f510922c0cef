// One long row of mixed scripts arriving while the user clicks on it. The launcher's console, in a
// scroll area as the interface file places it, is fed a row without line feeds (CJK, emoji with
// joiners, combining marks, Arabic, Greek) in reads of --read-kib KiB every --read-ms from the
// event loop, as a server's output arrives, while a click is posted to the newest row every
// --click-ms. Prints key=value lines: how long the row took to pass (from the first read to the
// paint that shows the last), and how long each click took to be answered (from the press
// entering the event queue to the end of the console's next paint after the press was handled).

#include "ConsoleView.h"
#include "MonotonicClock.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QMouseEvent>
#include <QScrollArea>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The console, with a clock on its paints and presses.
class TimedConsole : public ConsoleView
{
public:
    std::int64_t lastPaintEndNs = 0;
    std::int64_t lastPressNs = 0;

protected:
    void paintEvent(QPaintEvent *event) override
    {
        ConsoleView::paintEvent(event);
        lastPaintEndNs = MonotonicClock::nowNs();
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        ConsoleView::mousePressEvent(event);
        lastPressNs = MonotonicClock::nowNs();
    }
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("mib"), QStringLiteral("Size of the row, in MiB of UTF-8."),
                      QStringLiteral("n"), QStringLiteral("50")});
    parser.addOption({QStringLiteral("read-kib"), QStringLiteral("Size of one read, in KiB."),
                      QStringLiteral("n"), QStringLiteral("16")});
    parser.addOption({QStringLiteral("read-ms"), QStringLiteral("Time between reads."),
                      QStringLiteral("ms"), QStringLiteral("1")});
    parser.addOption({QStringLiteral("max-seconds"),
                      QStringLiteral("Stop reading after this long, and report what passed."),
                      QStringLiteral("s"), QStringLiteral("120")});
    parser.addOption({QStringLiteral("click-ms"), QStringLiteral("Time between clicks."),
                      QStringLiteral("ms"), QStringLiteral("100")});
    parser.process(app);

    // Some 16 KiB of UTF-8, one read; the row is this read over and over.
    const QString pattern =
        QString::fromUtf8("漢字かな交じり文 한국어 😀👩‍💻🏳️‍🌈 "
                          "e\u0301a\u0308o\u0302\u0323 مرحبا بالعالم Ελληνικά "
                          "ไทย देवनागरी ");
    QString read;
    const qsizetype readBytes = parser.value(QStringLiteral("read-kib")).toLongLong() * 1024;
    while (read.toUtf8().size() < readBytes)
        read += pattern;
    const qsizetype bytesPerRead = read.toUtf8().size();
    const qint64 totalBytes = parser.value(QStringLiteral("mib")).toLongLong() * 1024 * 1024;
    const qint64 reads = std::max<qint64>(1, totalBytes / bytesPerRead);

    QScrollArea area;
    auto *console = new TimedConsole;
    console->setGeometry(0, 0, 498, 298);
    area.setWidgetResizable(false);
    area.setWidget(console);
    area.resize(600, 300);
    console->awakeFromNib();
    for (int i = 0; i < 30; ++i)
        console->appendLine(QStringLiteral("an ordinary line %1").arg(i));
    area.show();
    for (int i = 0; i < 500 && !(area.windowHandle() && area.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    const QObject source;
    qint64 done = 0;
    const std::int64_t startNs = MonotonicClock::nowNs();
    std::int64_t lastReadNs = 0;
    QTimer feeder;
    feeder.setInterval(parser.value(QStringLiteral("read-ms")).toInt());
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        console->appendText(read, &source);
        if (++done == reads) {
            feeder.stop();
            lastReadNs = MonotonicClock::nowNs();
        }
    });

    // A click answered: the press has been handled and the console painted after it.
    std::vector<double> clicks;
    std::int64_t clickSentNs = 0;
    QTimer clicker;
    clicker.setInterval(parser.value(QStringLiteral("click-ms")).toInt());
    QObject::connect(&clicker, &QTimer::timeout, [&] {
        if (clickSentNs != 0)
            return; // the last one is still waiting for its answer
        // On the newest row, which the console follows.
        const QPointF at(120.0 + 40.0 * double(clicks.size() % 5), console->height() - 6.0);
        const QPointF global = console->mapToGlobal(at);
        clickSentNs = MonotonicClock::nowNs();
        QCoreApplication::postEvent(console, new QMouseEvent(QEvent::MouseButtonPress, at, global,
                                                             Qt::LeftButton, Qt::LeftButton,
                                                             Qt::NoModifier));
        QCoreApplication::postEvent(console,
                                    new QMouseEvent(QEvent::MouseButtonRelease, at, global,
                                                    Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    });
    QTimer watcher;
    watcher.setInterval(1);
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (clickSentNs != 0 && console->lastPressNs > clickSentNs &&
            console->lastPaintEndNs > console->lastPressNs) {
            clicks.push_back(double(console->lastPaintEndNs - clickSentNs) / 1e6);
            clickSentNs = 0;
        }
        if (lastReadNs != 0 && console->lastPaintEndNs > lastReadNs && clickSentNs == 0)
            app.quit();
    });
    QTimer::singleShot(parser.value(QStringLiteral("max-seconds")).toInt() * 1000, [&] {
        if (lastReadNs == 0) {
            feeder.stop();
            lastReadNs = MonotonicClock::nowNs();
        }
    });
    feeder.start();
    clicker.start();
    watcher.start();
    app.exec();

    const double seconds = double(console->lastPaintEndNs - startNs) / 1e9;
    std::printf("complete=%d\n", done == reads ? 1 : 0);
    std::printf("row_mib=%.1f\n", double(done * bytesPerRead) / (1024.0 * 1024.0));
    std::printf("reads=%lld\n", static_cast<long long>(done));
    std::printf("pass_seconds=%.3f\n", seconds);
    std::printf("rows=%d\n", console->lineCount());
    std::printf("clicks=%zu\n", clicks.size());
    std::printf("click_max_ms=%.1f\n",
                clicks.empty() ? 0.0 : *std::max_element(clicks.begin(), clicks.end()));
    std::printf("click_median_ms=%.1f\n", median(clicks));
    std::printf("clicks_over_300ms=%lld\n",
                static_cast<long long>(std::count_if(clicks.begin(), clicks.end(),
                                                     [](double ms) { return ms > 300; })));
    return 0;
}
