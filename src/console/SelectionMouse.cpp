#include "SelectionMouse.h"

#include "ConsoleView.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>

#include <cmath>

bool SelectionMouse::positionAt(const QPointF &point, TextPosition *at) const
{
    const ConsoleModel &model = m_view.m_model;
    if (model.lineCount() == 0)
        return false;
    const int row = int(std::floor(point.y() / ConsoleModel::RowHeight));
    // Rows as laid out last; above the first or below the last means the first or last line.
    const quint64 first = model.firstSequence();
    const quint64 last = first + quint64(model.lineCount() - 1);
    const qint64 wanted = qint64(m_view.m_paintedFirst) + row;
    const quint64 sequence = wanted < qint64(first) ? first : std::min(quint64(wanted), last);
    const int index = int(sequence - first);
    at->sequence = sequence;
    if (row < 0 && wanted < qint64(first))
        at->column = 0;
    else if (quint64(wanted) > last)
        at->column = int(model.line(index).size());
    else
        at->column = m_view.columnAt(index, point.x() - RowPainter::TextLeft);
    return true;
}

void SelectionMouse::press(QMouseEvent *event)
{
    TextPosition at;
    if (!positionAt(event->position(), &at))
        return;
    m_view.flush();
    m_view.m_model.holdFollowing(true);
    ConsoleSelection &selection = m_view.m_selection;
    const bool triple =
        m_sinceDoubleClick.isValid() &&
        m_sinceDoubleClick.elapsed() < QApplication::doubleClickInterval() &&
        (event->position() - m_doubleClickAt).manhattanLength() < QApplication::startDragDistance();
    m_sinceDoubleClick.invalidate();
    if (triple) {
        selection.selectLine(m_view.m_model, at.sequence);
        m_dragging = false;
        m_view.copyToPrimary();
    } else {
        if (event->modifiers() & Qt::ShiftModifier)
            selection.extendTo(at);
        else
            selection.start(at);
        m_dragging = true;
    }
    m_view.selectionChanged();
}

void SelectionMouse::move(QMouseEvent *event)
{
    if (!m_dragging || !(event->buttons() & Qt::LeftButton))
        return;
    dragPastEdge(event->position());
    // Where the pointer is now, over rows that may have scrolled under it.
    TextPosition at;
    ConsoleSelection &selection = m_view.m_selection;
    if (!positionAt(m_view.mapFromGlobal(event->globalPosition()), &at) || at == selection.cursor())
        return;
    selection.extendTo(at);
    m_view.selectionChanged();
}

void SelectionMouse::dragPastEdge(const QPointF &point)
{
    QWidget *viewport = m_view.m_viewport;
    if (!m_view.m_bar || !viewport)
        return;
    const qreal y = m_view.mapTo(viewport, point).y();
    if (y >= 0 && y < viewport->height())
        return;
    m_view.flush();
    m_view.m_bar->triggerAction(y < 0 ? QAbstractSlider::SliderSingleStepSub
                                      : QAbstractSlider::SliderSingleStepAdd);
}

void SelectionMouse::release(QMouseEvent *)
{
    if (m_dragging)
        m_view.copyToPrimary();
    m_dragging = false;
    m_view.flush();
    m_view.m_model.holdFollowing(false);
    m_view.announceUnseenRows();
}

void SelectionMouse::doubleClick(QMouseEvent *event)
{
    TextPosition at;
    if (!positionAt(event->position(), &at))
        return;
    m_view.m_selection.selectWord(m_view.m_model, at);
    m_dragging = false;
    m_sinceDoubleClick.start();
    m_doubleClickAt = event->position();
    m_view.selectionChanged();
    m_view.copyToPrimary();
}
