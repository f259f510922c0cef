#include "XRandRDisplayModes.h"

#include <algorithm>
#include <cstring>
#include <vector>

// Xlib's macros (None, Bool, Status...) clash with Qt's headers, so X comes last and stays here.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace {

struct FreeResources
{
    void operator()(XRRScreenResources *res) const { XRRFreeScreenResources(res); }
};
struct FreeOutputInfo
{
    void operator()(XRROutputInfo *info) const { XRRFreeOutputInfo(info); }
};
struct FreeCrtcInfo
{
    void operator()(XRRCrtcInfo *info) const { XRRFreeCrtcInfo(info); }
};
using Resources = std::unique_ptr<XRRScreenResources, FreeResources>;
using OutputInfo = std::unique_ptr<XRROutputInfo, FreeOutputInfo>;
using CrtcInfo = std::unique_ptr<XRRCrtcInfo, FreeCrtcInfo>;

// Xlib's default error handler ends the process. While one of these lives, errors are counted
// instead; the previous handler comes back when it goes. Errors are process-wide state, hence the
// static counter; everything runs on the main thread.
class ErrorTrap
{
public:
    explicit ErrorTrap(Display *display) : m_display(display)
    {
        XSync(m_display, False);
        s_errors = 0;
        m_previous = XSetErrorHandler(&ErrorTrap::count);
    }
    ~ErrorTrap()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
    }
    ErrorTrap(const ErrorTrap &) = delete;
    ErrorTrap &operator=(const ErrorTrap &) = delete;

    // Flushes outstanding requests so that their errors are counted before the answer.
    bool failed() const
    {
        XSync(m_display, False);
        return s_errors != 0;
    }

private:
    static int count(Display *, XErrorEvent *)
    {
        ++s_errors;
        return 0;
    }

    static inline int s_errors = 0;
    Display *m_display;
    XErrorHandler m_previous = nullptr;
};

// A probe makes the server poll every connector, which on real hardware can take a good part of a
// second; the "current" resources are what the server already knows. Some drivers, though, only
// refresh an output's connection state on a probe and call an output that is lit "disconnected"
// until then: the list of active outputs probes, as `xrandr` does, only when it meets such an
// output. Mode lookups read the configuration that is current by then.
Resources probedResources(Display *display, Window root)
{
    return Resources(XRRGetScreenResources(display, root));
}

Resources currentResources(Display *display, Window root)
{
    Resources res(XRRGetScreenResourcesCurrent(display, root));
    if (!res || res->noutput == 0)
        res = probedResources(display, root);
    return res;
}

double refreshRate(const XRRModeInfo &mode)
{
    double lines = mode.vTotal;
    if (mode.modeFlags & RR_DoubleScan)
        lines *= 2;
    if (mode.modeFlags & RR_Interlace)
        lines /= 2;
    if (mode.hTotal == 0 || lines <= 0)
        return 0.0;
    return static_cast<double>(mode.dotClock) / (static_cast<double>(mode.hTotal) * lines);
}

} // namespace

void XRandRDisplayModes::CloseDisplay::operator()(_XDisplay *display) const
{
    XCloseDisplay(display);
}

XRandRDisplayModes::XRandRDisplayModes(const QByteArray &displayName)
    : m_display(XOpenDisplay(displayName.isEmpty() ? nullptr : displayName.constData()))
{
    if (!m_display)
        return;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(m_display.get(), &eventBase, &errorBase) ||
        !XRRQueryVersion(m_display.get(), &major, &minor) || major < 1 || (major == 1 && minor < 2))
        m_display.reset();
}

XRandRDisplayModes::~XRandRDisplayModes() = default;

bool XRandRDisplayModes::isXWayland() const
{
    if (!m_display)
        return false;
    Display *dpy = m_display.get();
    int opcode = 0;
    int eventBase = 0;
    int errorBase = 0;
    if (XQueryExtension(dpy, "XWAYLAND", &opcode, &eventBase, &errorBase))
        return true;
    const ErrorTrap trap(dpy);
    for (int screen = 0; screen < ScreenCount(dpy); ++screen) {
        const Resources res = currentResources(dpy, RootWindow(dpy, screen));
        if (!res)
            continue;
        for (int i = 0; i < res->noutput; ++i) {
            const OutputInfo info(XRRGetOutputInfo(dpy, res.get(), res->outputs[i]));
            if (info && info->crtc != 0 && info->name &&
                std::strncmp(info->name, "XWAYLAND", 8) == 0)
                return true;
        }
    }
    return false;
}

bool XRandRDisplayModes::activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const
{
    displays.clear();
    if (!m_display)
        return false;
    Display *dpy = m_display.get();
    const ErrorTrap trap(dpy);
    for (bool probe : {false, true}) {
        bool stale = false;
        for (int screen = 0; screen < ScreenCount(dpy); ++screen) {
            const Resources res = probe ? probedResources(dpy, RootWindow(dpy, screen))
                                        : currentResources(dpy, RootWindow(dpy, screen));
            if (!res) {
                displays.clear();
                return false;
            }
            for (int i = 0; i < res->noutput; ++i) {
                const OutputInfo info(XRRGetOutputInfo(dpy, res.get(), res->outputs[i]));
                // An output removed since the resources were read answers with an error; it is
                // simply no longer active.
                if (!info || info->crtc == 0)
                    continue;
                if (info->connection != RR_Connected)
                    stale = true;
                else if (displays.size() < capacity)
                    displays.push_back(static_cast<DisplayId>(res->outputs[i]));
            }
        }
        if (!stale || probe)
            return true;
        displays.clear();
    }
    return true;
}

std::optional<QList<ModeDescription>> XRandRDisplayModes::availableModes(DisplayId display) const
{
    if (!m_display || display == 0)
        return std::nullopt;
    Display *dpy = m_display.get();
    const ErrorTrap trap(dpy);
    const auto output = static_cast<RROutput>(display);
    for (int screen = 0; screen < ScreenCount(dpy); ++screen) {
        const Resources res = currentResources(dpy, RootWindow(dpy, screen));
        if (!res)
            continue;
        // Only ask about outputs this screen lists: asking about a foreign id is an error.
        const RROutput *const begin = res->outputs;
        const RROutput *const end = begin + res->noutput;
        if (std::find(begin, end, output) == end)
            continue;
        const OutputInfo info(XRRGetOutputInfo(dpy, res.get(), output));
        if (!info || trap.failed())
            return std::nullopt;
        std::vector<RRMode> wanted(info->modes, info->modes + info->nmode);
        if (m_preferredOnly && info->npreferred > 0) {
            wanted.resize(std::min<std::size_t>(wanted.size(), std::size_t(info->npreferred)));
        } else if (m_preferredOnly) {
            const CrtcInfo crtc(info->crtc ? XRRGetCrtcInfo(dpy, res.get(), info->crtc) : nullptr);
            wanted.assign(crtc && crtc->mode ? 1 : 0, crtc ? crtc->mode : 0);
        }
        QList<ModeDescription> modes;
        modes.reserve(int(wanted.size()));
        for (const RRMode id : wanted) {
            const XRRModeInfo *const first = res->modes;
            const XRRModeInfo *const last = res->modes + res->nmode;
            const XRRModeInfo *found =
                std::find_if(first, last, [&](const XRRModeInfo &mode) { return mode.id == id; });
            if (found == last || found->width == 0 || found->height == 0)
                continue;
            modes.append(
                ModeDescription{{QStringLiteral("Width"), static_cast<int>(found->width)},
                                {QStringLiteral("Height"), static_cast<int>(found->height)},
                                {QStringLiteral("RefreshRate"), refreshRate(*found)}});
        }
        return modes;
    }
    return std::nullopt;
}
