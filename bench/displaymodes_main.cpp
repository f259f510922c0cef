// Times the display-mode sources in the session this runs in: each compositor source alone, then
// the whole choice the launcher makes at start-up. One line per figure: "<what> <ms> <answer>".
// bench/displaymodes.sh runs it against headless compositors, answering and stopped.
#include "DisplayModeSource.h"
#include "DrmDisplayModes.h"
#include "ListedDisplayModes.h"
#include "SwayDisplayModes.h"
#ifdef VELMORA_HAVE_QTDBUS
#include "MutterDisplayModes.h"
#endif
#ifdef VELMORA_HAVE_WAYLAND
#include "KWinDisplayModes.h"
#include "WaylandOutputModes.h"
#endif

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTextStream>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

template <typename Make>
void timeSource(const char *name, Make make)
{
    QElapsedTimer clock;
    clock.start();
    const auto source = make();
    const double ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::vector<DisplayId> displays;
    const bool answered = source->activeDisplayList(DisplayModeSource::MaxDisplays, displays);
    out() << name << ' ' << QString::number(ms, 'f', 1) << ' '
          << (answered ? QStringLiteral("%1-displays").arg(displays.size())
                       : QStringLiteral("no-answer"))
          << Qt::endl;
}

QDeadlineTimer deadline()
{
    return QDeadlineTimer(DisplayModeSource::SourceTimeoutMs);
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
#ifdef VELMORA_HAVE_QTDBUS
    timeSource("mutter", [] { return std::make_unique<MutterDisplayModes>(deadline()); });
#endif
#ifdef VELMORA_HAVE_WAYLAND
    timeSource("kwin", [] { return std::make_unique<KWinDisplayModes>(deadline()); });
    timeSource("wl_output", [] { return std::make_unique<WaylandOutputModes>(deadline()); });
#endif
    timeSource("sway", [] { return std::make_unique<SwayDisplayModes>(deadline()); });
    timeSource("total", [] { return DisplayModeSource::forPlatform(); });
    return 0;
}
