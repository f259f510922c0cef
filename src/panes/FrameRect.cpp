#include "FrameRect.h"

#include <algorithm>

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

FrameRect fitFrameToScreen(const FrameRect &frame, const FrameRect &available)
{
    if (!(available.width > 0.0f && available.height > 0.0f))
        return frame;
    FrameRect fitted = frame;
    fitted.width = std::min(frame.width, available.width);
    fitted.height = std::min(frame.height, available.height);
    // The top edge stays unless the window would reach above the screen's top or below its
    // bottom; then it moves as little as it takes. The left edge likewise.
    float top = frame.y + frame.height;
    top = std::min(top, available.y + available.height);
    top = std::max(top, available.y + fitted.height);
    fitted.y = top - fitted.height;
    fitted.x = std::min(frame.x, available.x + available.width - fitted.width);
    fitted.x = std::max(fitted.x, available.x);
    return fitted;
}
