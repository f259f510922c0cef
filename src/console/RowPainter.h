#pragma once

#include "ConsoleModel.h"
#include "RowGeometry.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QVector>

#include <array>

class QPainter;

// How the console's rows look and where their characters lie: the fonts and colours of each kind
// of row (the server's output, the launcher's notes and echoed commands, the separator after a
// run), and what is known of each row's layout. A row is measured only as far as a question
// needs (see RowGeometry), and what was measured is kept while the row's text stays the same.
// It reads the model and never changes it; the view owns both.
class RowPainter
{
public:
    // Where every row's text begins, and the room kept after the widest one.
    static constexpr qreal TextLeft = 2.0;

    explicit RowPainter(const ConsoleModel &model);

    // The font of every row; forgets what was measured in the old one.
    void setFont(const QFont &font);
    const QFont &font() const { return m_font; }
    qreal ascent() const { return m_ascent; }
    // What a selection that goes on past a row's end adds to it.
    qreal spaceWidth() const { return m_spaceWidth; }

    // Where `column` of line `index` begins, from the text's left edge (no further than `limit`:
    // a column beyond it answers some x at or past it); the column boundary nearest to `x`.
    qreal xOf(int index, int column, qreal limit = 1e300) const;
    int columnAt(int index, qreal x) const;

    // The width the widest row needs, both margins included. A row of printable ASCII is summed
    // from its characters' advances; any other is measured only up to `limit`, so that a long row
    // of other scripts costs a page of measuring, not a whole row: it counts as at least
    // `limit` wide, and a larger limit later measures on from where this one stopped.
    qreal contentWidth(qreal limit) const;

    // Draws line `index` in the row whose top is `top`, the columns that [left, right) of the
    // text's x shows.
    void drawRow(QPainter &painter, int index, qreal top, qreal left, qreal right) const;

private:
    struct RowLayout
    {
        quint64 revision = 0; // the model's revision of the text it holds; 0 for none
        RowGeometry geometry;
        qreal width = -1.0; // as far as measured; below 0 when not yet
        qreal widthLimit = 0.0;
        bool wholeWidth = false;
    };

    RowLayout &layoutOf(int index) const;
    const QFont &fontFor(int index, bool bold) const;
    const QFontMetricsF &metricsFor(int index, bool bold) const;
    QColor colourOf(int index) const;
    // The width of line `index`'s columns [from, to) as drawn, in its styles.
    qreal measure(int index, int from, int to) const;
    RowGeometry::Measure measurer(int index) const;
    // The width of the whole row from the advance table, or below 0 where it does not apply.
    qreal asciiWidth(int index) const;
    // What a note shows after its text: the time it was written.
    QString suffixOf(int index) const;
    void drawColumns(QPainter &painter, int index, int from, int to, qreal x, qreal baseline) const;

    const ConsoleModel &m_model;
    QFont m_font;
    QFont m_boldFont;
    QFont m_italicFont;
    QFontMetricsF m_metrics;
    QFontMetricsF m_boldMetrics;
    QFontMetricsF m_italicMetrics;
    qreal m_ascent = 0.0;
    qreal m_spaceWidth = 0.0;
    // The advances of the printable ASCII characters, plain and bold.
    std::array<qreal, 95> m_advances{};
    bool m_boldAdvancesSame = false;
    mutable QVector<RowLayout> m_layouts; // by sequence number, modulo MaxLines
};
