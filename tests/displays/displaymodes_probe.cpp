// Prints which display-mode source the running platform gets and what it reports, one display
// per line: "<back end>" then "<index>: WxH WxH ...". Tests run it under a real X server; it
// is also handy for looking at a machine by hand.
#include "DisplayModeSource.h"
#include "DrmDisplayModes.h"
#include "ScreenDisplayModes.h"
#ifdef VELMORA_HAVE_XRANDR
#include "XRandRDisplayModes.h"
#endif

#include <QGuiApplication>
#include <QTextStream>

namespace {

const char *backEndName(const DisplayModeSource &source)
{
#ifdef VELMORA_HAVE_XRANDR
    if (dynamic_cast<const XRandRDisplayModes *>(&source))
        return "XRandR";
#endif
    if (dynamic_cast<const DrmDisplayModes *>(&source))
        return "DRM";
    if (dynamic_cast<const ScreenDisplayModes *>(&source))
        return "QScreen";
    return "unknown";
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);
    const std::unique_ptr<DisplayModeSource> source = DisplayModeSource::forPlatform();
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
