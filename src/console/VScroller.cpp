#include "VScroller.h"

#include "ConsoleView.h"

#include <QMouseEvent>
#include <QScrollArea>
#include <QStyle>
#include <QStyleOptionSlider>

VScroller::VScroller(QWidget *parent) : QScrollBar(Qt::Vertical, parent)
{
    setAccessibleName(tr("Console scroll bar"));
}

int VScroller::partFor(QStyle::SubControl control, bool absoluteJump)
{
    switch (control) {
    case QStyle::SC_ScrollBarAddLine:
        return IncrementLine;
    case QStyle::SC_ScrollBarSubLine:
        return DecrementLine;
    case QStyle::SC_ScrollBarAddPage:
        return absoluteJump ? KnobSlot : IncrementPage;
    case QStyle::SC_ScrollBarSubPage:
        return absoluteJump ? KnobSlot : DecrementPage;
    case QStyle::SC_ScrollBarSlider:
        return Knob;
    case QStyle::SC_ScrollBarGroove:
        return KnobSlot;
    default:
        return NoPart;
    }
}

ConsoleView *VScroller::console() const
{
    for (QWidget *w = parentWidget(); w; w = w->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(w))
            return qobject_cast<ConsoleView *>(area->widget());
    }
    return nullptr;
}

void VScroller::mousePressEvent(QMouseEvent *event)
{
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    const bool middleJumps =
        style()->styleHint(QStyle::SH_ScrollBar_MiddleClickAbsolutePosition, &opt, this);
    const bool leftJumps =
        style()->styleHint(QStyle::SH_ScrollBar_LeftClickAbsolutePosition, &opt, this);
    // Only the presses that the bar turns into scrolling ask for the part, as QScrollBar
    // ignores the others.
    const bool scrolls =
        event->button() == Qt::LeftButton || (event->button() == Qt::MiddleButton && middleJumps);
    ConsoleView *view = console();
    if (scrolls) {
        // The bar must show the document the rules have now before it is hit-tested.
        if (view) {
            view->flush();
            initStyleOption(&opt);
        }
        const QStyle::SubControl control = style()->hitTestComplexControl(
            QStyle::CC_ScrollBar, &opt, event->position().toPoint(), this);
        const bool jump = (event->button() == Qt::MiddleButton && middleJumps) ||
                          (event->button() == Qt::LeftButton && leftJumps);
        m_hitPart = partFor(control, jump);
    }
    QScrollBar::mousePressEvent(event);
}

void VScroller::wheelEvent(QWheelEvent *event)
{
    if (ConsoleView *view = console())
        view->flush();
    QScrollBar::wheelEvent(event);
}
