#pragma once

#include <QStringView>
#include <QVector>

#include <functional>

// Where the columns of one console row lie along x, so that painting and hit-testing lay out only
// what an x range shows, never a whole row of up to 64 K characters. The row is measured a piece
// at a time from its start, only as far as a question needs, and the answers are kept: a row is
// measured once however often it is painted or clicked. Pieces end where a character does (never
// inside a surrogate pair or a grapheme cluster, so a combining mark stays with its base), and
// each is measured on its own: joining and kerning across a piece's edge are not counted, which
// moves x by a fraction of a glyph at most.
//
// One object per text: reset() when the row's text or styles change. Columns are UTF-16 offsets;
// x is measured from the row's left edge.
class RowGeometry
{
public:
    // The width of row[from, to) as drawn, styles included.
    using Measure = std::function<qreal(int from, int to)>;

    // Pieces are about this many code units long.
    static constexpr int PieceLength = 128;
    // However narrow its glyphs (a run of combining marks has no width at all), a slice holds at
    // most this many code units per pixel of its x range.
    static constexpr int MaxUnitsPerPixel = 4;

    // The columns [first, end) to draw for x in [left, right), and the x at which `first` starts.
    struct Slice
    {
        int first = 0;
        int end = 0;
        qreal x = 0.0;
    };

    void reset();

    Slice slice(QStringView row, qreal left, qreal right, const Measure &measure);
    // The x at which `column` starts. Measures no further than `limit`: a column beyond it
    // answers some x at or past `limit`.
    qreal xOf(QStringView row, int column, const Measure &measure, qreal limit = 1e300);
    // The column boundary nearest to `x` (a point on a character's right half goes after it),
    // never inside a surrogate pair.
    int columnAt(QStringView row, qreal x, const Measure &measure);

    // Where the piece that starts at `start` ends.
    static int pieceEnd(QStringView row, int start);

private:
    // Measures on until the last piece measured ends past `x`, at or past `column`, or at the
    // row's end.
    void measureUntil(QStringView row, qreal x, int column, const Measure &measure);
    // The piece that holds x (the last whose start is at or before it).
    int pieceAtX(qreal x) const;
    int pieceAtColumn(int column) const;

    // Piece i is [m_columns[i], m_columns[i + 1]) and starts at m_x[i]; the last entry is where
    // measuring has got to.
    QVector<int> m_columns{0};
    QVector<qreal> m_x{0.0};
};
