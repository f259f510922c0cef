#pragma once

#include "ConsoleSelection.h"

#include <QElapsedTimer>
#include <QPointF>

class ConsoleView;
class QMouseEvent;

// Selecting in the console with the mouse: a press puts the selection's anchor down (with Shift
// it extends the selection instead), a drag extends it and scrolls a row at a time past the
// viewport's top or bottom edge, a double-click selects a word and a click soon after it the
// whole line. While the button is down, following the end stays paused, so that the rows under
// the pointer keep still.
//
// The view owns it and hands it its left-button events; it reaches into the view (a friend) for
// the rows as last laid out and the selection.
class SelectionMouse
{
public:
    explicit SelectionMouse(ConsoleView &view) : m_view(view) {}

    void press(QMouseEvent *event);
    void move(QMouseEvent *event);
    void release(QMouseEvent *event);
    void doubleClick(QMouseEvent *event);
    // The selection went away under a drag: the drag ends.
    void cancel() { m_dragging = false; }

    // The position under a point of the view, on the rows as last laid out; false when the
    // console is empty.
    bool positionAt(const QPointF &point, TextPosition *at) const;

private:
    void dragPastEdge(const QPointF &point);

    ConsoleView &m_view;
    bool m_dragging = false;
    QElapsedTimer m_sinceDoubleClick; // a press soon after a double-click is a triple-click
    QPointF m_doubleClickAt;
};
