#include "ConsoleModel.h"

#include <algorithm>
#include <cmath>

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

ConsoleModel::ConsoleModel() : m_ring(MaxLines) {}

const QString &ConsoleModel::line(int index) const
{
    Q_ASSERT(index >= 0 && index < m_count);
    return m_ring[(m_head + index) % MaxLines];
}

QStringList ConsoleModel::lines() const
{
    QStringList out;
    out.reserve(m_count);
    for (int i = 0; i < m_count; ++i)
        out.append(line(i));
    return out;
}

void ConsoleModel::appendLine(const QString &line)
{
    const bool chop = m_count > MaxLines - 1;
    if (chop) {
        m_ring[m_head] = QString();
        m_head = (m_head + 1) % MaxLines;
        --m_count;
    }
    m_ring[(m_head + m_count) % MaxLines] = line;
    ++m_count;
    ++m_appended;
    const int n = m_count;
    m_pending.linesChanged = true;

    setFrame(0.0f, 0.0f, FrameWidth, float(12 * n));
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

void ConsoleModel::appendText(const QString &text)
{
    // Walks the text instead of splitting it so that a flood of chunks allocates only the
    // lines it keeps.
    const qsizetype size = text.size();
    qsizetype start = 0;
    while (start <= size) {
        qsizetype feed = text.indexOf(QLatin1Char('\n'), start);
        const qsizetype end = feed < 0 ? size : feed;
        if (end > start)
            appendLine(text.mid(start, end - start));
        if (feed < 0)
            break;
        start = feed + 1;
    }
}

void ConsoleModel::deleteLines()
{
    for (int i = 0; i < m_count; ++i)
        m_ring[(m_head + i) % MaxLines] = QString();
    m_head = 0;
    m_count = 0;
    m_unseenRows = 0;
    m_pending.linesChanged = true;
    setFrame(0.0f, 0.0f, 0.0f, 0.0f);
    m_lastRedraw = Redraw::None;
    m_lastRedrawRect = QRectF();
    m_lastScrolled = false;
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
