#pragma once

#include "TextStyle.h"

#include <QRectF>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVector>

#include <utility>

// The console's exact rules, kept free of widgets so that they can be driven and checked directly:
// the line buffer, the document frame, the follow-the-end flag and a host viewport (its top edge
// and height, in document coordinates). Every append updates this state at once; the work that
// the real widget must do to catch up (resize, scroll, repaint) is gathered in Pending until the
// widget takes it, which lets the widget apply a whole flood of lines in one go.
//
// Rows are whole lines. Output arrives as a stream of texts from one or more sources (server
// runs): a text without its line feed shows at once as the last row, which stays open and grows
// in place when the same source sends the rest; the line feed closes it and the next line starts
// a new row. appendLine() is for the launcher's own lines: it closes whatever row is open and
// adds a complete row of its own. A row that never ends is cut into rows of at most MaxRowLength.
// A carriage return with no line feed after it returns to the start of the open row, as on a
// terminal: what follows overwrites the row from there and the rest of a longer row stays, so a
// progress line redrawn in place shows its latest state. One right before a line feed ends the
// line and stays at the row's end, as rows always kept it; one that ends a text waits for the
// source's next text, so that a CR LF that a read cuts in two is still a line end.
// The buffer, frame and scrolling rules count rows: each new row is one append of those rules,
// and growing the open row asks for a redraw of that row alone.
//
// All geometry is in the document's top-left coordinates and computed in single precision.
// Only vertical scrolling is modelled: the rules never look at the horizontal position. The
// frame is as wide as the widest row that the widget has measured (setContentWidth()), and never
// narrower than FrameWidth.
class ConsoleModel
{
public:
    // Who wrote a row: the server, or the launcher itself (a note such as an exit status or a
    // refusal, a command the user sent, the separator after a run).
    enum class RowKind : quint8
    {
        Output,
        Note,
        Command,
        Separator
    };

    static constexpr int MaxLines = 201;
    // 64 KiB of ASCII output; a surrogate pair is never cut in two.
    static constexpr qsizetype MaxRowLength = 64 * 1024;
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

    int lineCount() const { return m_count; }
    // Line 0 is the oldest; index must be in [0, lineCount()).
    const QString &line(int index) const;
    // The styled stretches of line `index`; empty for a plain line (most of them).
    const StyleSpans &spans(int index) const;
    QStringList lines() const;
    // Every line ever appended has a sequence number, counting from 0; line(0) has firstSequence().
    // Lets a painter that lags behind find the lines it last laid out, or learn that they are gone.
    quint64 firstSequence() const { return m_appended - quint64(m_count); }
    // Changes whenever line `index`'s text or spans change, and is never the same for two texts:
    // what a painter measured of a line holds while the revision does.
    quint64 revision(int index) const;

    // Who wrote line `index`, and when, for the launcher's own rows (null for output).
    RowKind kind(int index) const;
    QTime time(int index) const;

    // A launcher line: always a complete row of its own.
    void appendLine(const QString &line, RowKind kind = RowKind::Output, QTime time = QTime());
    // Output of `source` (any tag that tells senders apart, 0 for a single sender). Empty lines
    // add nothing. `spans` are in offsets of `text` and never cover a line feed (see
    // EscapeParser).
    void appendText(QStringView text, quintptr source = 0, const StyleSpans &spans = StyleSpans());
    // The source's output has ended: its open row, if any, is complete. A later text of the same
    // tag starts a new row.
    void endText(quintptr source);
    // Whether the last row still waits for its line feed.
    bool hasOpenRow() const { return m_open; }
    void deleteLines();

    void scrollToEnd(bool enable) { m_endScroll = enable; }
    bool endScroll() const { return m_endScroll; }
    // The user moved the viewport to `top`, whatever the means (wheel, keys, the scroll bar, a
    // selection dragged past an edge): following pauses anywhere but at the end and resumes
    // there. While held, it stays paused wherever the viewport is.
    void userScrolled(float top);
    // A selection under way holds following paused, so that the rows under the pointer keep
    // still; letting go resumes it only at the end.
    void holdFollowing(bool hold);
    bool isAtEnd() const { return atEnd(); }

    // Rows that arrived while the view did not follow the end and that the viewport has not
    // reached since: 0 whenever the viewport stands at the end of the document.
    int unseenRows() const { return m_unseenRows; }
    // The way back from reading older rows: follows the end again and moves the viewport there.
    void jumpToEnd();

    QRectF frame() const { return QRectF(m_frameX, m_frameY, m_frameWidth, m_frameHeight); }
    // The width the rows need, margins included, as the widget measured them; the frame takes
    // it, rounded up, where it passes FrameWidth. Cleared with the lines.
    void setContentWidth(float width);
    float frameWidth() const;
    // The frame the host gave the view before any append; asks for no work.
    void setInitialFrame(const QRectF &frame);

    // Without a viewport the view is not inside a scroll area: everything is visible and
    // nothing can scroll.
    bool hasViewport() const { return m_hasViewport; }
    void setViewport(float top, float height);
    // Follows the host: a user's scroll or a resize of the scroll area. Clamped to the document.
    void setViewportTop(float top);
    void setViewportHeight(float height);
    float viewportTop() const { return m_viewportTop; }
    float viewportHeight() const { return m_viewportHeight; }

    QRectF visibleRect() const;
    // Scrolls by the smallest distance that shows the whole rect, never past the document's
    // edges. Answers whether the viewport moved.
    bool scrollRectToVisible(const QRectF &rect);

    // The redisplay that the latest appendLine() asked for, and whether it scrolled instead.
    Redraw lastRedraw() const { return m_lastRedraw; }
    QRectF lastRedrawRect() const { return m_lastRedrawRect; }
    bool lastScrolled() const { return m_lastScrolled; }

    bool hasPending() const;
    Pending takePending();

    // Rows [first, second) that a repaint of `dirty` draws, for a buffer of `lineCount` lines.
    static std::pair<int, int> rowRange(const QRectF &dirty, int lineCount);

private:
    struct RowMark
    {
        RowKind kind = RowKind::Output;
        QTime time;
    };

    // The row's text is copied into the slot it takes, into the slot's own buffer where that
    // is not much larger: a flood replaces every row many times over.
    void appendRow(QStringView row, StyleSpans spans = StyleSpans(), RowKind kind = RowKind::Output,
                   QTime time = QTime());
    // Writes `piece` into the open row at the cursor, over what is there; it fits.
    void writeOpenRow(QStringView piece, const StyleSpans &spans);
    void rowChanged(int slot);
    // Adds text[at, end), a piece of one line, to the open row or rows of its own, carriage
    // returns included.
    void addPiece(QStringView text, qsizetype at, qsizetype end, quintptr source,
                  const StyleSpans &spans);
    // The same for a stretch without carriage returns.
    void writeStretch(QStringView text, qsizetype at, qsizetype end, quintptr source,
                      const StyleSpans &spans);
    // The carriage return of a CR LF: kept at the end of the row it ends.
    void endRowWithReturn(quintptr source);
    void appendRows(QStringView text, qsizetype start, quintptr source, const StyleSpans &spans);
    void advanceRows(quint64 count);
    QString &lastRow() { return m_ring[(m_head + m_count - 1) % MaxLines]; }
    void setFrame(float x, float y, float width, float height);
    float maxTop() const;
    bool atEnd() const { return !m_hasViewport || m_viewportTop >= maxTop(); }
    void forgetUnseenAtEnd();

    QVector<QString> m_ring;
    QVector<StyleSpans> m_styles; // beside m_ring, slot for slot
    QVector<quint64> m_revisions; // beside m_ring, slot for slot
    QVector<RowMark> m_marks;     // beside m_ring, slot for slot
    quint64 m_edits = 0;
    int m_head = 0; // slot of line 0
    int m_count = 0;
    quint64 m_appended = 0;
    bool m_endScroll = false;
    bool m_holding = false;
    int m_unseenRows = 0;
    bool m_open = false; // the last row waits for its line feed
    quintptr m_openSource = 0;
    qsizetype m_cursor = 0;    // where the open row's next text goes
    bool m_heldReturn = false; // m_heldSource's last text ended in a carriage return
    quintptr m_heldSource = 0;

    float m_frameX = 0.0f;
    float m_frameY = 0.0f;
    float m_frameWidth = 0.0f;
    float m_frameHeight = 0.0f;
    float m_contentWidth = 0.0f;

    bool m_hasViewport = false;
    float m_viewportTop = 0.0f;
    float m_viewportHeight = 0.0f;

    Redraw m_lastRedraw = Redraw::None;
    QRectF m_lastRedrawRect;
    bool m_lastScrolled = false;

    Pending m_pending;
};
