#include "ConsoleModel.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <utility>

namespace {

// Truncation towards zero of a value already known to lie in [lo, hi]; out-of-range and NaN
// values are pinned first so that a wild rectangle can never overflow the int conversion.
int truncatedWithin(float value, int lo, int hi)
{
    if (!(value > float(lo)))
        return lo;
    if (value >= float(hi))
        return hi;
    return int(value);
}

} // namespace

ConsoleModel::ConsoleModel()
    : m_ring(MaxLines), m_styles(MaxLines), m_revisions(MaxLines), m_marks(MaxLines)
{}

const QString &ConsoleModel::line(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_ring[(m_head + index) % MaxLines];
}

const StyleSpans &ConsoleModel::spans(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_styles[(m_head + index) % MaxLines];
}

ConsoleModel::RowKind ConsoleModel::kind(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_marks[(m_head + index) % MaxLines].kind;
}

QTime ConsoleModel::time(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_marks[(m_head + index) % MaxLines].time;
}

quint64 ConsoleModel::revision(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_revisions[(m_head + index) % MaxLines];
}

QStringList ConsoleModel::lines() const
{
    QStringList out;
    out.reserve(m_count);
    for (int i = 0; i < m_count; ++i)
        out.append(line(i));
    return out;
}

void ConsoleModel::appendLine(const QString &line, RowKind kind, QTime time)
{
    m_open = false;
    m_heldReturn = false;
    appendRow(line, StyleSpans(), kind, time);
}

void ConsoleModel::appendRow(QStringView row, StyleSpans spans, RowKind kind, QTime time)
{
    const bool chop = m_count > MaxLines - 1;
    if (chop) {
        m_styles[m_head].clear();
        m_head = (m_head + 1) % MaxLines;
        --m_count;
    }
    // After a chop this is the slot of the row that went.
    const int slot = (m_head + m_count) % MaxLines;
    QString &text = m_ring[slot];
    if (text.capacity() > 2 * row.size() + 256)
        text = row.toString(); // a long row's buffer is not kept for short ones
    else
        text.setUnicode(row.data(), row.size());
    if (!spans.isEmpty() || !m_styles[slot].isEmpty())
        m_styles[slot] = std::move(spans);
    m_revisions[slot] = ++m_edits;
    m_marks[slot] = {kind, time};
    ++m_count;
    ++m_appended;
    const int n = m_count;
    m_pending.linesChanged = true;

    setFrame(0.0f, 0.0f, frameWidth(), float(12 * n));
    const QRectF rect(0.0f, float(12 * n - 12), FrameWidth, RowHeight);

    m_lastRedraw = Redraw::None;
    m_lastRedrawRect = QRectF();
    m_lastScrolled = false;

    bool scrolled = false;
    if (m_endScroll) {
        scrolled = scrollRectToVisible(rect);
    } else {
        int i = int(float(visibleRect().y()) / RowHeight);
        if (!chop)
            i += 1;
        i = std::clamp(i, 0, n);
        const QRectF vrect(0.0f, float(12 * i - 12), FrameWidth, RowHeight);
        scrolled = scrollRectToVisible(vrect);
    }
    // Counted after the rules have placed the viewport: a row that came into view is seen.
    m_unseenRows = !m_endScroll && !atEnd() ? m_unseenRows + 1 : 0;

    if (scrolled) {
        m_lastScrolled = true;
        // A scroll only brings in what it exposes; after a chop every row's text has moved as
        // well, so the rows already on screen are stale too.
        if (chop)
            m_pending.wholeView = true;
        return;
    }
    if (chop) {
        m_lastRedraw = Redraw::Whole;
        m_pending.wholeView = true;
    } else {
        m_lastRedraw = Redraw::Row;
        m_lastRedrawRect = rect;
        m_pending.dirty = m_pending.dirty.isNull() ? rect : m_pending.dirty.united(rect);
    }
}

namespace {

// How much of `piece` fits in `room` code units without cutting a surrogate pair in two.
qsizetype fitting(QStringView piece, qsizetype room)
{
    if (piece.size() <= room)
        return piece.size();
    if (room > 0 && piece[room - 1].isHighSurrogate() && piece[room].isLowSurrogate())
        return room - 1;
    return room;
}

// The parts of `spans` (in offsets of some text) that lie in [from, from + length), in offsets
// of that stretch. Spans are in order and never overlap, so their ends are in order too.
StyleSpans spansWithin(const StyleSpans &spans, qsizetype from, qsizetype length)
{
    StyleSpans out;
    if (spans.isEmpty())
        return out;
    const qsizetype to = from + length;
    auto span =
        std::lower_bound(spans.begin(), spans.end(), from, [](const StyleSpan &s, qsizetype at) {
            return qsizetype(s.start) + s.length <= at;
        });
    for (; span != spans.end() && span->start < to; ++span) {
        const qsizetype start = std::max<qsizetype>(span->start, from);
        const qsizetype end = std::min<qsizetype>(qsizetype(span->start) + span->length, to);
        if (end > start)
            out.append({int(start - from), int(end - start), span->style});
    }
    return out;
}

// Where text written over `row` up to `end` stops taking the old text away: never inside a
// character, so a low surrogate or the combining marks of a character that was partly overwritten
// go with it instead of clinging to the new text.
qsizetype overwrittenEnd(QStringView row, qsizetype end)
{
    while (end < row.size()) {
        char32_t c = row[end].unicode();
        qsizetype length = 1;
        if (row[end].isHighSurrogate() && end + 1 < row.size() && row[end + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(row[end], row[end + 1]);
            length = 2;
        }
        if (!row[end].isLowSurrogate() && !QChar::isMark(c))
            break;
        end += length;
    }
    return end;
}

// The spans of a row whose [from, to) is replaced by a text of `length` code units with spans
// `written` (in that text's offsets): the rest of the row keeps its own.
StyleSpans overwrittenSpans(const StyleSpans &row, qsizetype from, qsizetype to,
                            qsizetype rowLength, qsizetype length, const StyleSpans &written)
{
    StyleSpans out = spansWithin(row, 0, from);
    for (StyleSpan span : written) {
        span.start += int(from);
        out.append(span);
    }
    for (StyleSpan span : spansWithin(row, to, rowLength - to)) {
        span.start += int(from + length);
        out.append(span);
    }
    return out;
}

// Whether text[start, end), one line, holds a carriage return other than one right before the
// line feed at `end`.
bool returnsWithin(QStringView text, qsizetype start, qsizetype end)
{
    const qsizetype found = text.sliced(start, end - start).indexOf(u'\r');
    return found >= 0 && (start + found != end - 1 || end == text.size());
}

} // namespace

void ConsoleModel::writeOpenRow(QStringView piece, const StyleSpans &spans)
{
    const int slot = (m_head + m_count - 1) % MaxLines;
    QString &row = m_ring[slot];
    StyleSpans &rowSpans = m_styles[slot];
    const qsizetype from = m_cursor;
    if (from == row.size()) {
        for (StyleSpan span : spans) {
            span.start += int(from);
            rowSpans.append(span);
        }
        row.append(piece);
    } else {
        const qsizetype to = overwrittenEnd(row, std::min(from + piece.size(), row.size()));
        if (!rowSpans.isEmpty() || !spans.isEmpty())
            rowSpans = overwrittenSpans(rowSpans, from, to, row.size(), piece.size(), spans);
        row.replace(from, to - from, piece.data(), piece.size());
    }
    m_cursor = from + piece.size();
    rowChanged(slot);
}

void ConsoleModel::rowChanged(int slot)
{
    m_revisions[slot] = ++m_edits;
    // The row keeps its place: nothing moves, only its own band needs drawing again.
    const QRectF rect(0.0f, float(12 * m_count - 12), FrameWidth, RowHeight);
    m_pending.linesChanged = true;
    m_pending.dirty = m_pending.dirty.isNull() ? rect : m_pending.dirty.united(rect);
    m_lastRedraw = Redraw::Row;
    m_lastRedrawRect = rect;
    m_lastScrolled = false;
}

void ConsoleModel::addPiece(QStringView text, qsizetype at, qsizetype end, quintptr source,
                            const StyleSpans &spans)
{
    for (;;) {
        const qsizetype found = text.sliced(at, end - at).indexOf(u'\r');
        const qsizetype stop = found < 0 ? end : at + found;
        writeStretch(text, at, stop, source, spans);
        if (stop == end)
            return;
        if (stop == end - 1 && end < text.size()) {
            endRowWithReturn(source);
            return;
        }
        m_cursor = 0;
        at = stop + 1;
    }
}

void ConsoleModel::endRowWithReturn(quintptr source)
{
    if (m_open)
        m_cursor = lastRow().size();
    writeStretch(u"\r", 0, 1, source, StyleSpans());
}

void ConsoleModel::writeStretch(QStringView text, qsizetype at, qsizetype end, quintptr source,
                                const StyleSpans &spans)
{
    while (at < end) {
        QStringView piece = text.sliced(at, end - at);
        if (m_open) {
            const qsizetype take = fitting(piece, MaxRowLength - m_cursor);
            if (take > 0) {
                writeOpenRow(piece.first(take), spansWithin(spans, at, take));
                at += take;
            }
            if (at == end)
                return;
            // The row is full: the rest of its line goes on in rows of its own.
            m_open = false;
            piece = text.sliced(at, end - at);
        }
        const qsizetype take = std::max<qsizetype>(1, fitting(piece, MaxRowLength));
        appendRow(piece.first(take), spansWithin(spans, at, take));
        m_open = true;
        m_openSource = source;
        m_cursor = take;
        at += take;
    }
}

void ConsoleModel::appendText(QStringView text, quintptr source, const StyleSpans &spans)
{
    if (m_open && m_openSource != source)
        m_open = false;
    if (m_heldReturn && m_heldSource != source)
        m_heldReturn = false;
    if (text.isEmpty())
        return;
    if (std::exchange(m_heldReturn, false)) {
        if (text.front() == u'\n')
            endRowWithReturn(source);
        else
            m_cursor = 0;
    }
    if (text.back() == u'\r') {
        m_heldReturn = true;
        m_heldSource = source;
        text.chop(1);
    }
    qsizetype start = 0;
    if (m_open) {
        // The text's first line is the rest of the open row.
        const qsizetype feed = text.indexOf(QLatin1Char('\n'));
        addPiece(text, 0, feed < 0 ? text.size() : feed, source, spans);
        if (feed < 0)
            return;
        m_open = false;
        start = feed + 1;
    }
    appendRows(text, start, source, spans);
}

void ConsoleModel::appendRows(QStringView text, qsizetype start, quintptr source,
                              const StyleSpans &spans)
{
    // One pass finds every row the text makes but remembers where the last MaxLines lie: the
    // rows before those are pushed out again within this call, so they only run the rules'
    // arithmetic and never become strings.
    struct Span
    {
        qsizetype start = 0;
        qsizetype length = 0;
    };
    std::array<Span, MaxLines> last;
    quint64 rows = 0;
    bool open = false;
    const auto addRows = [&] {
        const quint64 kept = std::min<quint64>(rows, MaxLines);
        advanceRows(rows - kept);
        for (quint64 row = rows - kept; row < rows; ++row) {
            const Span span = last[row % MaxLines];
            appendRow(text.sliced(span.start, span.length),
                      spansWithin(spans, span.start, span.length));
        }
        rows = 0;
    };
    // Server output seldom holds a carriage return that is not part of a CR LF: a line that does
    // is written row by row, with the rows found so far added first.
    const bool returns = text.sliced(start).contains(u'\r');
    const qsizetype size = text.size();
    while (start < size) {
        const qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
        const qsizetype end = feed < 0 ? size : feed;
        if (returns && returnsWithin(text, start, end)) {
            addRows();
            addPiece(text, start, end, source, spans);
            if (feed < 0)
                return;
            m_open = false;
            start = feed + 1;
            continue;
        }
        for (qsizetype at = start; at < end;) {
            const qsizetype take =
                std::max<qsizetype>(1, fitting(text.sliced(at, end - at), MaxRowLength));
            last[rows % MaxLines] = {at, take};
            ++rows;
            at += take;
        }
        if (feed < 0) {
            open = end > start;
            break;
        }
        start = feed + 1;
    }

    addRows();
    if (open) {
        m_open = true;
        m_openSource = source;
        m_cursor = lastRow().size();
    }
}

void ConsoleModel::advanceRows(quint64 count)
{
    // Only for rows that MaxLines later rows of the same call replace: the slots written here
    // are all overwritten before anyone can read them.
    while (count > 0) {
        const bool full = m_count == MaxLines;
        appendRow(QStringView());
        --count;
        // A row that chops and scrolls nothing leaves the state as it found it, so every further
        // row does exactly the same: they only need counting.
        if (full && !m_lastScrolled) {
            m_head = int((quint64(m_head) + count) % MaxLines);
            m_appended += count;
            if (m_unseenRows > 0)
                m_unseenRows = int(std::min<quint64>(quint64(m_unseenRows) + count, INT_MAX));
            return;
        }
    }
}

void ConsoleModel::endText(quintptr source)
{
    if (m_open && m_openSource == source)
        m_open = false;
    if (m_heldReturn && m_heldSource == source)
        m_heldReturn = false;
}

void ConsoleModel::deleteLines()
{
    for (int i = 0; i < m_count; ++i) {
        m_ring[(m_head + i) % MaxLines] = QString();
        m_styles[(m_head + i) % MaxLines].clear();
    }
    m_head = 0;
    m_count = 0;
    m_contentWidth = 0.0f;
    m_unseenRows = 0;
    m_open = false;
    m_heldReturn = false;
    m_pending.linesChanged = true;
    setFrame(0.0f, 0.0f, 0.0f, 0.0f);
    m_lastRedraw = Redraw::None;
    m_lastRedrawRect = QRectF();
    m_lastScrolled = false;
}

void ConsoleModel::setContentWidth(float width)
{
    m_contentWidth = width;
    if (m_count > 0)
        setFrame(m_frameX, m_frameY, frameWidth(), m_frameHeight);
}

float ConsoleModel::frameWidth() const
{
    return std::max(FrameWidth, std::ceil(m_contentWidth));
}

void ConsoleModel::setInitialFrame(const QRectF &frame)
{
    m_frameX = float(frame.x());
    m_frameY = float(frame.y());
    m_frameWidth = float(frame.width());
    m_frameHeight = float(frame.height());
    m_viewportTop = std::min(m_viewportTop, maxTop());
}

void ConsoleModel::setFrame(float x, float y, float width, float height)
{
    if (x != m_frameX || y != m_frameY || width != m_frameWidth || height != m_frameHeight)
        m_pending.frameChanged = true;
    m_frameX = x;
    m_frameY = y;
    m_frameWidth = width;
    m_frameHeight = height;
    // A shrinking document pulls the viewport back inside it, as the scroll area does.
    const float top = std::min(m_viewportTop, maxTop());
    if (top != m_viewportTop) {
        m_viewportTop = top;
        m_pending.scrolled = true;
    }
}

float ConsoleModel::maxTop() const
{
    return std::max(0.0f, m_frameHeight - m_viewportHeight);
}

void ConsoleModel::setViewport(float top, float height)
{
    m_hasViewport = true;
    m_viewportHeight = std::max(0.0f, height);
    m_viewportTop = std::clamp(top, 0.0f, maxTop());
    forgetUnseenAtEnd();
}

void ConsoleModel::setViewportTop(float top)
{
    m_viewportTop = std::clamp(top, 0.0f, maxTop());
    forgetUnseenAtEnd();
}

void ConsoleModel::setViewportHeight(float height)
{
    m_viewportHeight = std::max(0.0f, height);
    m_viewportTop = std::min(m_viewportTop, maxTop());
    forgetUnseenAtEnd();
}

void ConsoleModel::userScrolled(float top)
{
    setViewportTop(top);
    m_endScroll = !m_holding && atEnd();
}

void ConsoleModel::holdFollowing(bool hold)
{
    m_holding = hold;
    m_endScroll = !hold && atEnd();
}

void ConsoleModel::forgetUnseenAtEnd()
{
    if (atEnd())
        m_unseenRows = 0;
}

void ConsoleModel::jumpToEnd()
{
    m_endScroll = true;
    m_unseenRows = 0;
    if (!m_hasViewport || m_viewportTop == maxTop())
        return;
    m_viewportTop = maxTop();
    m_pending.scrolled = true;
}

QRectF ConsoleModel::visibleRect() const
{
    if (!m_hasViewport)
        return QRectF(0.0f, 0.0f, m_frameWidth, m_frameHeight);
    const float height = std::clamp(m_frameHeight - m_viewportTop, 0.0f, m_viewportHeight);
    return QRectF(0.0f, m_viewportTop, m_frameWidth, height);
}

bool ConsoleModel::scrollRectToVisible(const QRectF &rect)
{
    if (!m_hasViewport)
        return false;
    const float top = float(rect.y());
    const float bottom = float(rect.y() + rect.height());
    float target = m_viewportTop;
    if (top < m_viewportTop)
        target = top;
    else if (bottom > m_viewportTop + m_viewportHeight)
        target = std::min(bottom - m_viewportHeight, top); // a rect taller than the view: its top
    target = std::clamp(target, 0.0f, maxTop());
    if (target == m_viewportTop)
        return false;
    m_viewportTop = target;
    m_pending.scrolled = true;
    forgetUnseenAtEnd();
    return true;
}

bool ConsoleModel::hasPending() const
{
    return m_pending.frameChanged || m_pending.scrolled || m_pending.linesChanged ||
           m_pending.wholeView || !m_pending.dirty.isNull();
}

ConsoleModel::Pending ConsoleModel::takePending()
{
    Pending out = m_pending;
    m_pending = Pending();
    return out;
}

std::pair<int, int> ConsoleModel::rowRange(const QRectF &dirty, int lineCount)
{
    const float y = float(dirty.y());
    const float height = float(dirty.height());
    const int first = truncatedWithin(y / RowHeight, 0, lineCount);
    const int end = truncatedWithin(1.0f + (y + height) / RowHeight, 0, lineCount);
    return {first, std::max(first, end)};
}
