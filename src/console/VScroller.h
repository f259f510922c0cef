#pragma once

#include <QScrollBar>
#include <QStyle>

class ConsoleView;

// The console's vertical scroll bar. It tells which of its parts a press hit, and brings the
// console's pending rows to the screen before it hit-tests, so that the user presses the bar they
// see. Whether the console follows the end is the console's own rule for every kind of scrolling:
// a press that moves the bar is one more of them.
//
// The scroll area owns it once ConsoleView::awakeFromNib() has installed it.
class VScroller : public QScrollBar
{
    Q_OBJECT

public:
    enum Part
    {
        NoPart = 0,
        DecrementPage = 1,
        Knob = 2,
        IncrementPage = 3,
        DecrementLine = 4,
        IncrementLine = 5,
        KnobSlot = 6
    };

    explicit VScroller(QWidget *parent = nullptr);

    // The part of the latest press that scrolls.
    int hitPart() const { return m_hitPart; }

    // `absoluteJump`: the press moves the knob straight to the pointer instead of paging.
    static int partFor(QStyle::SubControl control, bool absoluteJump);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    ConsoleView *console() const;

    int m_hitPart = NoPart;
};
