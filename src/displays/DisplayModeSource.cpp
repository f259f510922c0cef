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

// Asks compositor sources in turn, each within SourceTimeoutMs. A session has one compositor:
// once a source ran out of time, the compositor hangs and every other way of asking it would
// wait as long, so the rest are skipped and a hanging compositor costs one timeout, not several.
class CompositorQueue
{
public:
    explicit CompositorQueue(int timeoutMs) : m_timeoutMs(timeoutMs) {}

    template <typename Source>
    std::unique_ptr<DisplayModeSource> ask()
    {
        if (m_hung)
            return nullptr;
        const QDeadlineTimer deadline(m_timeoutMs);
        auto source = std::make_unique<Source>(deadline);
        if (source->answered())
            return source;
        m_hung = deadline.hasExpired();
        return nullptr;
    }

private:
    int m_timeoutMs;
    bool m_hung = false;
};

// A Wayland session, or an X11 one that XWayland serves: the compositor's own account first. Null
// when none answers.
std::unique_ptr<DisplayModeSource> compositorSource(int timeoutMs)
{
    CompositorQueue queue(timeoutMs);
#ifdef VELMORA_HAVE_QTDBUS
    if (auto mutter = queue.ask<MutterDisplayModes>())
        return mutter;
#endif
#ifdef VELMORA_HAVE_WAYLAND
    if (auto kwin = queue.ask<KWinDisplayModes>())
        return kwin;
#endif
    if (auto sway = queue.ask<SwayDisplayModes>())
        return sway;
    auto drm = std::make_unique<DrmDisplayModes>();
    if (listsSomeDisplay(*drm))
        return drm;
#ifdef VELMORA_HAVE_WAYLAND
    if (auto outputs = queue.ask<WaylandOutputModes>())
        return outputs;
#endif
    return nullptr;
}

} // namespace

std::unique_ptr<DisplayModeSource> DisplayModeSource::forPlatform(int sourceTimeoutMs)
{
#ifdef VELMORA_HAVE_XRANDR
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto xrandr = std::make_unique<XRandRDisplayModes>();
        // A server without RandR 1.2, or one that reports no active output (some nested and
        // virtual servers), says nothing useful; XWayland's modes are mostly emulated.
        const bool xwayland = xrandr->isValid() && xrandr->isXWayland();
        if (xrandr->isValid() && !xwayland && listsSomeDisplay(*xrandr))
            return xrandr;
        if (xwayland) {
            if (auto compositor = compositorSource(sourceTimeoutMs))
                return compositor;
            // A session that offers the X11 program nothing but its display: XWayland's account
            // of each monitor's current mode is true, only its other sizes are emulated.
            xrandr->setPreferredModesOnly(true);
            if (listsSomeDisplay(*xrandr))
                return xrandr;
            return std::make_unique<NoDisplayModes>();
        }
    }
#endif
    if (auto compositor = compositorSource(sourceTimeoutMs))
        return compositor;
    return std::make_unique<NoDisplayModes>();
}
