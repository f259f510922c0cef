// Prints which display-mode source the running platform gets and what it reports, one display
// per line: "<back end>" then "<index>: WxH WxH ...". Tests run it under a real X server; it
// is also handy for looking at a machine by hand.
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
#ifdef VELMORA_HAVE_XRANDR
#include "XRandRDisplayModes.h"
#endif

#include <QGuiApplication>
#include <QTextStream>

namespace {

const char *backEndName(const DisplayModeSource &source)
{
#ifdef VELMORA_HAVE_XRANDR
    if (auto xrandr = dynamic_cast<const XRandRDisplayModes *>(&source))
        return xrandr->preferredModesOnly() ? "XWayland" : "XRandR";
#endif
#ifdef VELMORA_HAVE_QTDBUS
    if (dynamic_cast<const MutterDisplayModes *>(&source))
        return "mutter";
#endif
#ifdef VELMORA_HAVE_WAYLAND
    if (dynamic_cast<const KWinDisplayModes *>(&source))
        return "KWin";
    if (dynamic_cast<const WaylandOutputModes *>(&source))
        return "wl_output";
#endif
    if (dynamic_cast<const SwayDisplayModes *>(&source))
        return "sway";
    if (dynamic_cast<const DrmDisplayModes *>(&source))
        return "DRM";
    if (dynamic_cast<const NoDisplayModes *>(&source))
        return "none";
    return "unknown";
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    // "--source-timeout-ms=N" gives each compositor source N ms instead of the launcher's limit.
    int timeoutMs = DisplayModeSource::SourceTimeoutMs;
    const QString option = QStringLiteral("--source-timeout-ms=");
    for (const QString &argument : app.arguments()) {
        if (argument.startsWith(option))
            timeoutMs = argument.mid(option.size()).toInt();
    }
    const std::unique_ptr<DisplayModeSource> source = DisplayModeSource::forPlatform(timeoutMs);
    out << backEndName(*source) << '\n';
    std::vector<DisplayId> displays;
    if (!source->activeDisplayList(DisplayModeSource::MaxDisplays, displays)) {
        out << "no display list\n";
        return 1;
    }
    for (size_t i = 0; i < displays.size(); ++i) {
        out << i << ':';
        const auto modes = source->availableModes(displays[i]);
        if (!modes)
            out << " no mode list";
        else
            for (const ModeDescription &mode : *modes)
                out << ' ' << mode.value(QStringLiteral("Width")).toInt() << 'x'
                    << mode.value(QStringLiteral("Height")).toInt();
        out << '\n';
    }
    return 0;
}
