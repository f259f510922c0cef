#include "DisplayModeSource.h"

#include "DrmDisplayModes.h"
#include "ScreenDisplayModes.h"
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

} // namespace

std::unique_ptr<DisplayModeSource> DisplayModeSource::forPlatform()
{
#ifdef VELMORA_HAVE_XRANDR
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto xrandr = std::make_unique<XRandRDisplayModes>();
        // A server without RandR 1.2, or one that reports no active output (some nested and
        // virtual servers), says nothing useful; the other back ends may.
        if (xrandr->isValid() && listsSomeDisplay(*xrandr))
            return xrandr;
    }
#endif
    auto drm = std::make_unique<DrmDisplayModes>();
    if (listsSomeDisplay(*drm))
        return drm;
    return std::make_unique<ScreenDisplayModes>();
}
