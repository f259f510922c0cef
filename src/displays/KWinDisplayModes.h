#pragma once

#include "ListedDisplayModes.h"

#include <QDeadlineTimer>

// Display modes from KDE's compositor through its output-device protocol (kde_output_device_v2),
// asked over a private Wayland connection. Every output device KWin announces is a global of
// its own, in KWin's order; the enabled ones are the active displays, each offering its modes in
// the order KWin sent them, sizes in hardware pixels.
//
// Answers only where the compositor offers the protocol; everything happens in the constructor,
// within the deadline.
class KWinDisplayModes : public ListedDisplayModes
{
public:
    explicit KWinDisplayModes(const QDeadlineTimer &deadline);
};
