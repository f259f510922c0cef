#pragma once

#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>

class ConsoleView;
class Launcher;

// Presses Start on a launcher whose server options make the stand-in flood its output, and
// watches the launcher's own event loop until the run has ended: the server is gone and the
// separator line (a single space) closes the console. The end is taken at the first paint of
// the console that shows that state, so the time covers reading, the console's rules and
// getting the last frame on screen.
//
// Meanwhile a 10 ms timer ticks in the same event loop; the largest gap between its ticks is how
// long the launcher stopped answering input at worst.
class FloodProbe : public QObject
{
    Q_OBJECT
public:
    FloodProbe(Launcher *launcher, ConsoleView *console);

    // Presses Start (or calls `start`, which answers whether a flood is under way) and runs the
    // event loop until the run has ended. False on timeout, or when no server could be started.
    bool run(int timeoutMs, const std::function<bool()> &start = {});

    double seconds() const;
    double maxGapMs() const;
    // CPU time of the launcher's whole process over the same span.
    double cpuSeconds() const;
    // CPU time of the thread that runs the event loop alone (decoding, the console, painting);
    // the rest of cpuSeconds() is the other threads' (the server log's writer, Qt's X event
    // reader).
    double mainThreadCpuSeconds() const;
    int ticks() const { return m_ticks; }
    // "paint" when a paint of the console saw the end, "timer" when the 10 ms tick saw it first.
    const char *detectedBy() const { return m_detectedBy; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool runHasEnded() const;
    void tick();
    void finish(const char *by);

    Launcher *m_launcher;
    ConsoleView *m_console;
    QEventLoop m_loop;
    QTimer m_ticker;
    bool m_started = false;
    bool m_done = false;
    const char *m_detectedBy = "none";
    std::int64_t m_startNs = 0;
    std::int64_t m_endNs = 0;
    std::int64_t m_startCpuNs = 0;
    std::int64_t m_endCpuNs = 0;
    std::int64_t m_startThreadCpuNs = 0;
    std::int64_t m_endThreadCpuNs = 0;
    std::int64_t m_lastTickNs = 0;
    std::int64_t m_maxGapNs = 0;
    int m_ticks = 0;
};
