#pragma once

#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <utility>

// The console's exact rules, kept free of widgets so that they can be driven and checked directly:
// the line buffer, the document frame, the follow-the-end flag and a host viewport (its top edge
// and height, in document coordinates). Every append updates this state at once; the work that
// the real widget must do to catch up (resize, scroll, repaint) is gathered in Pending until the
// widget takes it, which lets the widget apply a whole flood of lines in one go.
//
// All geometry is in the document's top-left coordinates and computed in single precision.
// Only vertical scrolling is modelled: the rules never look at the horizontal position.
class ConsoleModel
{
public:
    static constexpr int MaxLines = 201;
    static constexpr float RowHeight = 12.0f;
    static constexpr float FrameWidth = 500.0f;

    enum class Redraw
    {
        None,
        Row,
        Whole
    };

    // What the widget still owes the screen since it last called takePending().
    struct Pending
    {
        bool frameChanged = false;
        bool scrolled = false;
        bool linesChanged = false;
        bool wholeView = false; // repaint everything that is visible
        QRectF dirty;           // union of row rects to repaint, in document coordinates
    };

    ConsoleModel();

    int lineCount() const { return count_; }
    // Line 0 is the oldest; index must be in [0, lineCount()).
    const QString &line(int index) const;
    QStringList lines() const;
    // Every line ever appended has a sequence number, counting from 0; line(0) has firstSequence().
    // Lets a painter that lags behind find the lines it last laid out, or learn that they are gone.
    quint64 firstSequence() const { return appended_ - quint64(count_); }

    void appendLine(const QString &line);
    void appendText(const QString &text);
    void deleteLines();

    void scrollToEnd(bool enable) { endScroll_ = enable; }
    bool endScroll() const { return endScroll_; }

    QRectF frame() const { return QRectF(frameX_, frameY_, frameWidth_, frameHeight_); }
    // The frame the host gave the view before any append; asks for no work.
    void setInitialFrame(const QRectF &frame);

    // Without a viewport the view is not inside a scroll area: everything is visible and
    // nothing can scroll.
    bool hasViewport() const { return hasViewport_; }
    void setViewport(float top, float height);
    // Follows the host: a user's scroll or a resize of the scroll area. Clamped to the document.
    void setViewportTop(float top);
    void setViewportHeight(float height);
    float viewportTop() const { return viewportTop_; }
    float viewportHeight() const { return viewportHeight_; }

    QRectF visibleRect() const;
    // Scrolls by the smallest distance that shows the whole rect, never past the document's
    // edges. Answers whether the viewport moved.
    bool scrollRectToVisible(const QRectF &rect);

    // The redisplay that the latest appendLine() asked for, and whether it scrolled instead.
    Redraw lastRedraw() const { return lastRedraw_; }
    QRectF lastRedrawRect() const { return lastRedrawRect_; }
    bool lastScrolled() const { return lastScrolled_; }

    bool hasPending() const;
    Pending takePending();

    // Rows [first, second) that a repaint of `dirty` draws, for a buffer of `lineCount` lines.
    static std::pair<int, int> rowRange(const QRectF &dirty, int lineCount);

private:
    void setFrame(float x, float y, float width, float height);
    float maxTop() const;

    QVector<QString> ring_;
    int head_ = 0; // slot of line 0
    int count_ = 0;
    quint64 appended_ = 0;
    bool endScroll_ = false;

    float frameX_ = 0.0f;
    float frameY_ = 0.0f;
    float frameWidth_ = 0.0f;
    float frameHeight_ = 0.0f;

    bool hasViewport_ = false;
    float viewportTop_ = 0.0f;
    float viewportHeight_ = 0.0f;

    Redraw lastRedraw_ = Redraw::None;
    QRectF lastRedrawRect_;
    bool lastScrolled_ = false;

    Pending pending_;
};
