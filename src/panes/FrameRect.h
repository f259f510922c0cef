#pragma once

// A window or view rectangle in bottom-left screen coordinates: the origin is the bottom-left
// corner of the primary screen and y grows upward, so a window's top edge is at y + height.
// Single precision on purpose: the pane-switch arithmetic is defined on floats.
struct FrameRect
{
    float x = 0.0f;
    float y = 0.0f;
    float width = 0.0f;
    float height = 0.0f;
};

inline bool operator==(const FrameRect &a, const FrameRect &b)
{
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}

inline bool operator!=(const FrameRect &a, const FrameRect &b)
{
    return !(a == b);
}

// The window frame that fits `pane` as the new content while the left and top edges stay put.
// `window` is the current window frame, `content` the frame of the current content area; the
// part above the content (title bar, toolbar) keeps its height. Worked in single precision in a
// fixed order (the part above the content first, then the height, then y), on which the frames
// that callers compare depend.
FrameRect paneSwitchFrame(const FrameRect &window, const FrameRect &content, const FrameRect &pane);

// `frame` made to lie within `available` (the screen's area less its panels): no larger than it
// in either direction, and moved in only as far as it sticks out, so a frame that fits is left
// as it is. An empty `available` (no screen known) leaves the frame unchanged.
FrameRect fitFrameToScreen(const FrameRect &frame, const FrameRect &available);
