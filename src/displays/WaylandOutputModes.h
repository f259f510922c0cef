#pragma once

#include "ListedDisplayModes.h"

#include <QDeadlineTimer>

// The last compositor-independent source in a Wayland session: every wl_output the compositor
// announces, in its order, offering the mode it flags as current. The core protocol gives that
// mode in hardware pixels, before scale and transform, so it is the size the display really
// drives. Asked over a private connection (WaylandConnection) within the deadline.
class WaylandOutputModes : public ListedDisplayModes
{
public:
    explicit WaylandOutputModes(const QDeadlineTimer &deadline);
};
