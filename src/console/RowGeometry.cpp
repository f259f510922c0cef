#include "RowGeometry.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <climits>

void RowGeometry::reset()
{
    // Keeps the storage: a row slot is reset for every row that passes through it.
    m_columns.resize(1);
    m_x.resize(1);
}

int RowGeometry::pieceEnd(QStringView row, int start)
{
    const int size = int(row.size());
    const int end = start + PieceLength;
    if (end >= size)
        return size;
    // Grapheme boundaries depend on a few neighbours only: a window around the cut finds one.
    constexpr int Reach = 32;
    static_assert(Reach < PieceLength);
    const int from = end - Reach;
    const int to = std::min(size, end + Reach);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, row.data() + from, to - from);
    finder.setPosition(end - from);
    if (finder.isAtBoundary())
        return end;
    const qsizetype next = finder.toNextBoundary();
    if (next > 0 && from + next < to)
        return int(from + next);
    // A cluster longer than the window (a pile of combining marks) is cut, but never a pair.
    return row[end].isLowSurrogate() ? end + 1 : end;
}

void RowGeometry::measureUntil(QStringView row, qreal x, int column, const Measure &measure)
{
    const int size = int(row.size());
    while (m_columns.last() < size && m_x.last() <= x && m_columns.last() < column) {
        const int start = m_columns.last();
        const int end = pieceEnd(row, start);
        m_x.append(m_x.last() + measure(start, end));
        m_columns.append(end);
    }
}

int RowGeometry::pieceAtX(qreal x) const
{
    // The first measured piece that ends past x, else the last one measured.
    const auto after = std::upper_bound(m_x.cbegin() + 1, m_x.cend(), x);
    return int(std::min(after, m_x.cend() - 1) - m_x.cbegin()) - 1;
}

int RowGeometry::pieceAtColumn(int column) const
{
    return int(std::upper_bound(m_columns.cbegin(), m_columns.cend(), column) -
               m_columns.cbegin()) -
           1;
}

RowGeometry::Slice RowGeometry::slice(QStringView row, qreal left, qreal right,
                                      const Measure &measure)
{
    const int size = int(row.size());
    left = std::max(left, 0.0);
    if (size == 0 || right <= left)
        return {};
    // Most rows are one piece: drawn whole, from the start, with nothing to measure.
    if (left == 0.0 && size <= PieceLength)
        return {0, size, 0.0};
    measureUntil(row, left, INT_MAX, measure);
    if (m_x.last() <= left)
        return {size, size, m_x.last()}; // the row ends before the range begins
    const int piece = pieceAtX(left);
    Slice slice{m_columns[piece], size, m_x[piece]};
    const qreal room = std::min((right - left) * MaxUnitsPerPixel, qreal(INT_MAX / 2));
    measureUntil(row, right, slice.first + std::max(PieceLength, int(room)), measure);
    slice.end = m_columns[pieceAtX(right) + 1];
    return slice;
}

qreal RowGeometry::xOf(QStringView row, int column, const Measure &measure, qreal limit)
{
    column = std::clamp(column, 0, int(row.size()));
    measureUntil(row, limit, column, measure);
    if (m_columns.last() < column)
        return std::max(m_x.last(), limit);
    const int piece = pieceAtColumn(column);
    if (m_columns[piece] == column)
        return m_x[piece];
    return m_x[piece] + measure(m_columns[piece], column);
}

int RowGeometry::columnAt(QStringView row, qreal x, const Measure &measure)
{
    const int size = int(row.size());
    if (size == 0 || x <= 0.0)
        return 0;
    measureUntil(row, x, INT_MAX, measure);
    if (m_x.last() <= x)
        return size;
    const int piece = pieceAtX(x);
    const int start = m_columns[piece];
    const auto advance = [&](int column) {
        return m_x[piece] + (column == start ? 0.0 : measure(start, column));
    };
    int low = start;
    int high = m_columns[piece + 1];
    while (low < high) {
        const int mid = (low + high) / 2;
        if (x < (advance(mid) + advance(mid + 1)) / 2.0)
            high = mid;
        else
            low = mid + 1;
    }
    if (low > 0 && low < size && row[low].isLowSurrogate() && row[low - 1].isHighSurrogate())
        --low;
    return low;
}
