#include "FrameRect.h"

FrameRect paneSwitchFrame(const FrameRect &window, const FrameRect &content, const FrameRect &pane)
{
    FrameRect frame;
    frame.x = window.x;
    frame.width = pane.width;
    // Kept as separate float statements so no wider intermediate or reassociation sneaks in.
    const float chrome = window.height - content.height;
    frame.height = chrome + pane.height;
    const float grow = content.height - pane.height;
    frame.y = grow + window.y;
    return frame;
}
