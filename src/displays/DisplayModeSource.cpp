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

namespace {

bool listsSomeDisplay(const DisplayModeSource &source)
{
    std::vector<DisplayId> displays;
    return source.activeDisplayList(DisplayModeSource::MaxDisplays, displays) && !displays.empty();
}

// Each source gets its own time, so that one compositor that hangs costs SourceTimeoutMs and
// the next source still gets its full share.
QDeadlineTimer sourceDeadline()
{
    return QDeadlineTimer(DisplayModeSource::SourceTimeoutMs);
}

template <typename Source>
std::unique_ptr<DisplayModeSource> ifAnswered(std::unique_ptr<Source> source)
{
    if (source->answered())
        return source;
    return nullptr;
}

// A Wayland session, or an X11 one that XWayland serves: the compositor's own account first.
std::unique_ptr<DisplayModeSource> compositorSource()
{
#ifdef VELMORA_HAVE_QTDBUS
    if (auto mutter = ifAnswered(std::make_unique<MutterDisplayModes>(sourceDeadline())))
        return mutter;
#endif
#ifdef VELMORA_HAVE_WAYLAND
    auto kwin = std::make_unique<KWinDisplayModes>(sourceDeadline());
    const bool waylandAnswers = kwin->reachedCompositor();
    if (kwin->answered())
        return kwin;
#endif
    if (auto sway = ifAnswered(std::make_unique<SwayDisplayModes>(sourceDeadline())))
        return sway;
    auto drm = std::make_unique<DrmDisplayModes>();
    if (listsSomeDisplay(*drm))
        return drm;
#ifdef VELMORA_HAVE_WAYLAND
    if (waylandAnswers) {
        if (auto outputs = ifAnswered(std::make_unique<WaylandOutputModes>(sourceDeadline())))
            return outputs;
    }
#endif
    return std::make_unique<NoDisplayModes>();
}

} // namespace

std::unique_ptr<DisplayModeSource> DisplayModeSource::forPlatform()
{
#ifdef VELMORA_HAVE_XRANDR
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto xrandr = std::make_unique<XRandRDisplayModes>();
        // A server without RandR 1.2, or one that reports no active output (some nested and
        // virtual servers), says nothing useful; XWayland's modes are mostly emulated.
        if (xrandr->isValid() && !xrandr->isXWayland() && listsSomeDisplay(*xrandr))
            return xrandr;
    }
#endif
    return compositorSource();
}
