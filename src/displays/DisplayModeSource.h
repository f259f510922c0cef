#pragma once

#include <QList>
#include <QVariantMap>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <vector>

// Opaque identifier of one display, handed out by a source and meaningful only to the source
// that handed it out.
using DisplayId = quint32;

// One mode of a display. Always answers "Width" and "Height" (ints, pixels); a back end may add
// keys of its own ("RefreshRate", "Interlaced"), which the resolution list ignores.
using ModeDescription = QVariantMap;

// Where the resolution list learns which displays are active and which modes each offers.
// Sources are queried afresh on every call; nothing is cached across calls except the
// bookkeeping a back end needs to keep its ids stable. Main thread only.
class DisplayModeSource
{
public:
    virtual ~DisplayModeSource() = default;

    static constexpr quint32 MaxDisplays = 16;

    // Like the platform's active-display list: replaces `displays` with at most `capacity` ids,
    // in the platform's order. Returns false (and leaves `displays` empty) when the list cannot
    // be had; an empty list with true means the platform reports no active display.
    virtual bool activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const = 0;

    // The display's modes in the platform's order, or std::nullopt when it has no mode list
    // (unknown id, display gone, platform refused).
    virtual std::optional<QList<ModeDescription>> availableModes(DisplayId display) const = 0;

    // How long one compositor source may take to answer before the next one is asked.
    static constexpr int SourceTimeoutMs = 200;

    // Chooses the back end at run time. On "xcb", XRandR (when compiled in and usable) unless
    // the server is XWayland. Otherwise, and for XWayland, the first of these that answers:
    // mutter's DisplayConfig, KWin's output devices, sway's IPC, DRM/KMS from sysfs (when an
    // active connector is found), the current mode of every wl_output; each compositor source
    // gets SourceTimeoutMs, and once one has run out of time the compositor is taken to hang and
    // no other compositor source is asked. For XWayland with no compositor source answering
    // (a session that gives the program only DISPLAY), XRandR's preferred modes of XWayland's
    // outputs: the monitors' current modes. When none answers, an empty list: never an invented
    // mode. Never returns null. `sourceTimeoutMs` replaces SourceTimeoutMs where a caller must
    // not depend on the machine's load (the tests on real compositors).
    static std::unique_ptr<DisplayModeSource> forPlatform(int sourceTimeoutMs = SourceTimeoutMs);
};
