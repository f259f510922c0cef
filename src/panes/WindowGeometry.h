#pragma once

#include "FrameRect.h"

#include <QSizeF>

class QMainWindow;
class QWidget;

// Bridges between Qt's top-left, y-down geometry and FrameRect's bottom-left, y-up screen
// coordinates (origin at the bottom-left corner of the primary screen). Window frames include
// the window manager's decorations where the platform reports them.

// The window's frame on screen, decorations included.
FrameRect windowFrame(const QWidget *window);

// The central widget's frame in the window frame's own coordinates (origin at the frame's
// bottom-left corner), after any pending layout has been applied. Empty without one.
FrameRect contentFrame(const QMainWindow *window);

// The area of the screen the window is on that windows may take (less panels and docks), in
// the same coordinates as windowFrame(). Empty when no screen is known.
FrameRect availableFrame(const QWidget *window);

// A widget's frame in its parent's coordinates with the origin at the parent's bottom-left
// corner; a parentless widget is placed on the screen like a window.
FrameRect viewFrame(const QWidget *view);

// Moves and resizes the window so that its frame, decorations included, becomes `frame`.
// Animated only when asked and the window is visible; the call then returns once the
// animation has ended, having run the event loop without user input meanwhile, so what the
// caller does next happens on the final frame. The minimum and maximum sizes are widened as
// far as this frame needs: they limit the user, not this call. Frames that are not finite
// numbers are ignored.
void setWindowFrame(QWidget *window, const FrameRect &frame, bool animate);

// The user cannot make the central widget smaller than `size`: the window's minimum size
// becomes `size` plus everything around the central widget (toolbars and the like). With a
// `largestFrame`, no more than a window whose frame, decorations included, is that large.
void setContentMinSize(QMainWindow *window, QSizeF size, QSizeF largestFrame = QSizeF());

// Makes `newCentral` the central widget and returns the one it replaces, which is not
// destroyed: it stays a hidden child of the window (so it can be shown again later and is
// never orphaned) until the caller deletes or reuses it. Returns nullptr when there was none
// or when `newCentral` already was the central widget.
QWidget *takeAndSetCentralWidget(QMainWindow *window, QWidget *newCentral);
