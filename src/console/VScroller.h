#pragma once

#include <QScrollBar>
#include <QStyle>

class ConsoleView;

// The console's vertical scroll bar. A press on it says whether the user wants to follow the end
// of the output: a step down (the down arrow or the track below the knob) turns following on,
// anything else turns it off. Wheel and keyboard scrolling do not touch the flag.
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
