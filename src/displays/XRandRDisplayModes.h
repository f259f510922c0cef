#pragma once

#include "DisplayModeSource.h"

#include <QByteArray>

#include <memory>

struct _XDisplay;

// Display modes through XRandR (1.2 or later) on its own X connection, separate from Qt's.
// Active displays are the outputs that are connected and driven by a CRTC, walked screen by
// screen in the order the server's screen resources list them; an output's id is its XID. Each
// output's modes come in the order of its own mode list, with the refresh rate as an extra key.
// Listing the active outputs makes the server probe them (see the .cpp), like `xrandr` does.
//
// X protocol errors raised by our requests (an output that vanished, a bad id) are caught while
// a call runs and turn into a failed answer; the handler in place before the call is restored.
class XRandRDisplayModes : public DisplayModeSource
{
public:
    // Connects to `displayName`, or to $DISPLAY (as Qt's xcb platform does) when it is empty.
    explicit XRandRDisplayModes(const QByteArray &displayName = {});
    ~XRandRDisplayModes() override;

    XRandRDisplayModes(const XRandRDisplayModes &) = delete;
    XRandRDisplayModes &operator=(const XRandRDisplayModes &) = delete;

    // False when the server cannot be reached or lacks XRandR 1.2; every query then fails.
    bool isValid() const { return m_display != nullptr; }

    // True when the server is XWayland: its extension list names XWAYLAND, or an active output
    // is called XWAYLAND<n>. Its modes are then mostly emulated (a game switching to one gets a
    // scaled picture), so the compositor has to be asked instead.
    bool isXWayland() const;

    // Each output's preferred modes only (its CRTC's mode when it marks none): on XWayland, the
    // monitors' current modes without the emulated sizes, for when no compositor can be asked.
    void setPreferredModesOnly(bool only) { m_preferredOnly = only; }
    bool preferredModesOnly() const { return m_preferredOnly; }

    bool activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const override;
    std::optional<QList<ModeDescription>> availableModes(DisplayId display) const override;

private:
    struct CloseDisplay
    {
        void operator()(_XDisplay *display) const;
    };
    std::unique_ptr<_XDisplay, CloseDisplay> m_display;
    bool m_preferredOnly = false;
};
