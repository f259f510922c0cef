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

ConsoleModel::ConsoleModel() : ring_(MaxLines) {}

const QString &ConsoleModel::line(int index) const
{
    Q_ASSERT(index >= 0 && index < count_);
    return ring_[(head_ + index) % MaxLines];
}

QStringList ConsoleModel::lines() const
{
    QStringList out;
    out.reserve(count_);
    for (int i = 0; i < count_; ++i)
        out.append(line(i));
    return out;
}

void ConsoleModel::appendLine(const QString &line)
{
    const bool chop = count_ > MaxLines - 1;
    if (chop) {
        ring_[head_] = QString();
        head_ = (head_ + 1) % MaxLines;
        --count_;
    }
    ring_[(head_ + count_) % MaxLines] = line;
    ++count_;
    ++appended_;
    const int n = count_;
    pending_.linesChanged = true;

    setFrame(0.0f, 0.0f, FrameWidth, float(12 * n));
    const QRectF rect(0.0f, float(12 * n - 12), FrameWidth, RowHeight);

    lastRedraw_ = Redraw::None;
    lastRedrawRect_ = QRectF();
    lastScrolled_ = false;

    bool scrolled = false;
    if (endScroll_) {
        scrolled = scrollRectToVisible(rect);
    } else {
        int i = int(float(visibleRect().y()) / RowHeight);
        if (!chop)
            i += 1;
        i = std::clamp(i, 0, n);
        const QRectF vrect(0.0f, float(12 * i - 12), FrameWidth, RowHeight);
        scrolled = scrollRectToVisible(vrect);
    }

    if (scrolled) {
        lastScrolled_ = true;
        // A scroll only brings in what it exposes; after a chop every row's text has moved as
        // well, so the rows already on screen are stale too.
        if (chop)
            pending_.wholeView = true;
        return;
    }
    if (chop) {
        lastRedraw_ = Redraw::Whole;
        pending_.wholeView = true;
    } else {
        lastRedraw_ = Redraw::Row;
        lastRedrawRect_ = rect;
        pending_.dirty = pending_.dirty.isNull() ? rect : pending_.dirty.united(rect);
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
    for (int i = 0; i < count_; ++i)
        ring_[(head_ + i) % MaxLines] = QString();
    head_ = 0;
    count_ = 0;
    pending_.linesChanged = true;
    setFrame(0.0f, 0.0f, 0.0f, 0.0f);
    lastRedraw_ = Redraw::None;
    lastRedrawRect_ = QRectF();
    lastScrolled_ = false;
}

void ConsoleModel::setInitialFrame(const QRectF &frame)
{
    frameX_ = float(frame.x());
    frameY_ = float(frame.y());
    frameWidth_ = float(frame.width());
    frameHeight_ = float(frame.height());
    viewportTop_ = std::min(viewportTop_, maxTop());
}

void ConsoleModel::setFrame(float x, float y, float width, float height)
{
    if (x != frameX_ || y != frameY_ || width != frameWidth_ || height != frameHeight_)
        pending_.frameChanged = true;
    frameX_ = x;
    frameY_ = y;
    frameWidth_ = width;
    frameHeight_ = height;
    // A shrinking document pulls the viewport back inside it, as the scroll area does.
    const float top = std::min(viewportTop_, maxTop());
    if (top != viewportTop_) {
        viewportTop_ = top;
        pending_.scrolled = true;
    }
}

float ConsoleModel::maxTop() const
{
    return std::max(0.0f, frameHeight_ - viewportHeight_);
}

void ConsoleModel::setViewport(float top, float height)
{
    hasViewport_ = true;
    viewportHeight_ = std::max(0.0f, height);
    viewportTop_ = std::clamp(top, 0.0f, maxTop());
}

void ConsoleModel::setViewportTop(float top)
{
    viewportTop_ = std::clamp(top, 0.0f, maxTop());
}

void ConsoleModel::setViewportHeight(float height)
{
    viewportHeight_ = std::max(0.0f, height);
    viewportTop_ = std::min(viewportTop_, maxTop());
}

QRectF ConsoleModel::visibleRect() const
{
    if (!hasViewport_)
        return QRectF(0.0f, 0.0f, frameWidth_, frameHeight_);
    const float height = std::clamp(frameHeight_ - viewportTop_, 0.0f, viewportHeight_);
    return QRectF(0.0f, viewportTop_, frameWidth_, height);
}

bool ConsoleModel::scrollRectToVisible(const QRectF &rect)
{
    if (!hasViewport_)
        return false;
    const float top = float(rect.y());
    const float bottom = float(rect.y() + rect.height());
    float target = viewportTop_;
    if (top < viewportTop_)
        target = top;
    else if (bottom > viewportTop_ + viewportHeight_)
        target = std::min(bottom - viewportHeight_, top); // a rect taller than the view: its top
    target = std::clamp(target, 0.0f, maxTop());
    if (target == viewportTop_)
        return false;
    viewportTop_ = target;
    pending_.scrolled = true;
    return true;
}

bool ConsoleModel::hasPending() const
{
    return pending_.frameChanged || pending_.scrolled || pending_.linesChanged ||
           pending_.wholeView || !pending_.dirty.isNull();
}

ConsoleModel::Pending ConsoleModel::takePending()
{
    Pending out = pending_;
    pending_ = Pending();
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
