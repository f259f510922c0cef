#include "FloodProbe.h"

#include "ConsoleView.h"
#include "Launcher.h"
#include "MonotonicClock.h"

#include <QEvent>

#include <algorithm>

FloodProbe::FloodProbe(Launcher *launcher, ConsoleView *console)
    : m_launcher(launcher), m_console(console)
{
    m_ticker.setTimerType(Qt::PreciseTimer);
    m_ticker.setInterval(10);
    connect(&m_ticker, &QTimer::timeout, this, &FloodProbe::tick);
}

bool FloodProbe::run(int timeoutMs, const std::function<bool()> &start)
{
    m_console->installEventFilter(this);
    QTimer::singleShot(timeoutMs, &m_loop, &QEventLoop::quit);

    m_startCpuNs = MonotonicClock::processCpuNs();
    m_startThreadCpuNs = MonotonicClock::threadCpuNs();
    m_startNs = MonotonicClock::nowNs();
    m_lastTickNs = m_startNs;
    m_ticker.start();
    if (start) {
        m_started = start();
    } else {
        m_launcher->multiplayerAction();
        m_started = m_launcher->server() != -1;
    }
    if (m_started && !m_done)
        m_loop.exec();

    m_ticker.stop();
    m_console->removeEventFilter(this);
    return m_started && m_done;
}

bool FloodProbe::runHasEnded() const
{
    const ConsoleModel &model = m_console->model();
    // No pending work: the widget has been laid out for this state, so a paint now shows it.
    return m_started && m_launcher->server() == -1 && !model.hasPending() &&
           model.lineCount() > 0 && model.line(model.lineCount() - 1) == QLatin1String(" ");
}

void FloodProbe::finish(const char *by)
{
    if (m_done)
        return;
    m_done = true;
    m_endNs = MonotonicClock::nowNs();
    m_endCpuNs = MonotonicClock::processCpuNs();
    m_endThreadCpuNs = MonotonicClock::threadCpuNs();
    m_detectedBy = by;
    m_maxGapNs = std::max(m_maxGapNs, m_endNs - m_lastTickNs);
    m_loop.quit();
}

void FloodProbe::tick()
{
    const std::int64_t now = MonotonicClock::nowNs();
    m_maxGapNs = std::max(m_maxGapNs, now - m_lastTickNs);
    m_lastTickNs = now;
    ++m_ticks;
    // A frame's catching up and its paint happen in one event, so while the console is painted
    // the paint sees the end first; this catches a console that is not painted at all.
    if (runHasEnded())
        finish("timer");
}

bool FloodProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_console && event->type() == QEvent::Paint && runHasEnded())
        finish("paint");
    return QObject::eventFilter(watched, event);
}

double FloodProbe::seconds() const
{
    return MonotonicClock::secondsBetween(m_startNs, m_endNs);
}

double FloodProbe::cpuSeconds() const
{
    return MonotonicClock::secondsBetween(m_startCpuNs, m_endCpuNs);
}

double FloodProbe::mainThreadCpuSeconds() const
{
    return MonotonicClock::secondsBetween(m_startThreadCpuNs, m_endThreadCpuNs);
}

double FloodProbe::maxGapMs() const
{
    return double(m_maxGapNs) / 1e6;
}
