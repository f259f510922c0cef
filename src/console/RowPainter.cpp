#include "RowPainter.h"

#include <QPainter>

#include <algorithm>

namespace {

using RowKind = ConsoleModel::RowKind;

// The server's output in the console's green; the launcher's own rows apart from it: notes grey
// and italic, echoed commands near white, the separator a rule across the row.
const QColor OutputColour = QColor::fromRgbF(0.2f, 0.8f, 0.2f, 1.0f);
const QColor NoteColour(150, 160, 150);
const QColor TimeColour(110, 120, 110);
const QColor CommandColour(220, 230, 220);
const QColor RuleColour(80, 100, 80);

// The first of `spans` (in order, not overlapping) that ends past `column`.
StyleSpans::const_iterator firstSpanAfter(const StyleSpans &spans, int column)
{
    return std::lower_bound(spans.begin(), spans.end(), column, [](const StyleSpan &span, int at) {
        return span.start + span.length <= at;
    });
}

QFont styled(QFont font, bool bold, bool italic)
{
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

} // namespace

RowPainter::RowPainter(const ConsoleModel &model)
    : m_model(model), m_metrics(m_font), m_boldMetrics(m_font), m_italicMetrics(m_font),
      m_layouts(ConsoleModel::MaxLines)
{}

void RowPainter::setFont(const QFont &font)
{
    m_font = font;
    m_boldFont = styled(font, true, false);
    m_italicFont = styled(font, false, true);
    m_metrics = QFontMetricsF(m_font);
    m_boldMetrics = QFontMetricsF(m_boldFont);
    m_italicMetrics = QFontMetricsF(m_italicFont);
    m_ascent = m_metrics.ascent();
    m_spaceWidth = m_metrics.horizontalAdvance(u' ');
    m_boldAdvancesSame = true;
    for (char16_t c = 0x20; c < 0x7f; ++c) {
        m_advances[c - 0x20] = m_metrics.horizontalAdvance(QChar(c));
        m_boldAdvancesSame =
            m_boldAdvancesSame && m_boldMetrics.horizontalAdvance(QChar(c)) == m_advances[c - 0x20];
    }
    for (RowLayout &layout : m_layouts)
        layout = RowLayout();
}

RowPainter::RowLayout &RowPainter::layoutOf(int index) const
{
    const quint64 sequence = m_model.firstSequence() + quint64(index);
    RowLayout &layout = m_layouts[int(sequence % ConsoleModel::MaxLines)];
    const quint64 revision = m_model.revision(index);
    if (layout.revision != revision) {
        layout.revision = revision;
        layout.geometry.reset();
        layout.width = -1.0;
        layout.widthLimit = 0.0;
        layout.wholeWidth = false;
    }
    return layout;
}

const QFont &RowPainter::fontFor(int index, bool bold) const
{
    if (m_model.kind(index) == RowKind::Note)
        return m_italicFont;
    return bold ? m_boldFont : m_font;
}

const QFontMetricsF &RowPainter::metricsFor(int index, bool bold) const
{
    if (m_model.kind(index) == RowKind::Note)
        return m_italicMetrics;
    return bold ? m_boldMetrics : m_metrics;
}

QColor RowPainter::colourOf(int index) const
{
    switch (m_model.kind(index)) {
    case RowKind::Note:
        return NoteColour;
    case RowKind::Command:
        return CommandColour;
    case RowKind::Output:
    case RowKind::Separator:
        break;
    }
    return OutputColour;
}

qreal RowPainter::measure(int index, int from, int to) const
{
    const QString &line = m_model.line(index);
    const StyleSpans &spans = m_model.spans(index);
    const QFontMetricsF &plain = metricsFor(index, false);
    qreal x = 0.0;
    int at = from;
    for (auto span = firstSpanAfter(spans, from); span != spans.end() && span->start < to; ++span) {
        const int start = std::max(span->start, from);
        const int end = std::min(span->start + span->length, to);
        if (start > at)
            x += plain.horizontalAdvance(line.mid(at, start - at));
        x += metricsFor(index, span->style.bold).horizontalAdvance(line.mid(start, end - start));
        at = end;
    }
    if (to > at)
        x += plain.horizontalAdvance(line.mid(at, to - at));
    return x;
}

RowGeometry::Measure RowPainter::measurer(int index) const
{
    return [this, index](int from, int to) { return measure(index, from, to); };
}

qreal RowPainter::xOf(int index, int column, qreal limit) const
{
    return layoutOf(index).geometry.xOf(m_model.line(index), column, measurer(index), limit);
}

int RowPainter::columnAt(int index, qreal x) const
{
    return layoutOf(index).geometry.columnAt(m_model.line(index), x, measurer(index));
}

qreal RowPainter::asciiWidth(int index) const
{
    if (m_model.kind(index) == RowKind::Note)
        return -1.0;
    if (!m_boldAdvancesSame) {
        const StyleSpans &spans = m_model.spans(index);
        if (std::any_of(spans.begin(), spans.end(),
                        [](const StyleSpan &s) { return s.style.bold; }))
            return -1.0;
    }
    // Without joining or kerning between them, as a fixed-pitch font draws them; a proportional
    // font kerns a little narrower.
    qreal width = 0.0;
    for (const QChar c : m_model.line(index)) {
        const char16_t code = c.unicode();
        if (code < 0x20 || code > 0x7e)
            return -1.0;
        width += m_advances[code - 0x20];
    }
    return width;
}

QString RowPainter::suffixOf(int index) const
{
    const QTime time = m_model.time(index);
    if (m_model.kind(index) != RowKind::Note || !time.isValid())
        return QString();
    return QStringLiteral("  ") + time.toString(QStringLiteral("HH:mm:ss"));
}

qreal RowPainter::contentWidth(qreal limit) const
{
    qreal widest = 0.0;
    for (int i = 0; i < m_model.lineCount(); ++i) {
        RowLayout &layout = layoutOf(i);
        if (layout.width < 0.0) {
            layout.width = asciiWidth(i);
            layout.wholeWidth = layout.width >= 0.0;
        }
        if (!layout.wholeWidth && layout.widthLimit < limit) {
            const int size = int(m_model.line(i).size());
            layout.width = layout.geometry.xOf(m_model.line(i), size, measurer(i), limit);
            layout.widthLimit = limit;
            layout.wholeWidth = layout.width < limit;
            if (const QString suffix = suffixOf(i); !suffix.isEmpty())
                layout.width += m_italicMetrics.horizontalAdvance(suffix);
        }
        widest = std::max(widest, layout.width);
    }
    return TextLeft + widest + TextLeft;
}

void RowPainter::drawRow(QPainter &painter, int index, qreal top, qreal left, qreal right) const
{
    if (m_model.kind(index) == RowKind::Separator) {
        const qreal y = top + ConsoleModel::RowHeight / 2.0 - 0.5;
        painter.fillRect(QRectF(TextLeft + left, y, right - left, 1.0), RuleColour);
        return;
    }
    const QString &line = m_model.line(index);
    RowLayout &layout = layoutOf(index);
    const RowGeometry::Slice slice = layout.geometry.slice(line, left, right, measurer(index));
    const qreal baseline = top + m_ascent;
    painter.setFont(fontFor(index, false));
    painter.setPen(colourOf(index));
    drawColumns(painter, index, slice.first, slice.end, TextLeft + slice.x, baseline);
    const QString suffix = suffixOf(index);
    if (!suffix.isEmpty() && slice.end == line.size()) {
        painter.setPen(TimeColour);
        painter.drawText(QPointF(TextLeft + xOf(index, int(line.size())), baseline), suffix);
    }
}

void RowPainter::drawColumns(QPainter &painter, int index, int from, int to, qreal x,
                             qreal baseline) const
{
    const QString &line = m_model.line(index);
    const StyleSpans &spans = m_model.spans(index);
    if (spans.isEmpty()) {
        painter.drawText(QPointF(x, baseline),
                         from == 0 && to == line.size() ? line : line.mid(from, to - from));
        return;
    }
    // Plain stretches in the row's own colour and font, styled ones as the server asked.
    const QColor plain = colourOf(index);
    const auto draw = [&](int start, int end, const TextStyle &style) {
        if (end <= start)
            return;
        const QString piece = line.mid(start, end - start);
        painter.setFont(fontFor(index, style.bold));
        painter.setPen(style.hasColour ? QColor::fromRgb(style.colour) : plain);
        painter.drawText(QPointF(x, baseline), piece);
        if (end < to)
            x += metricsFor(index, style.bold).horizontalAdvance(piece);
    };
    int at = from;
    for (auto span = firstSpanAfter(spans, from); span != spans.end() && span->start < to; ++span) {
        const int start = std::max(span->start, from);
        const int end = std::min(span->start + span->length, to);
        draw(at, start, TextStyle());
        draw(start, end, span->style);
        at = end;
    }
    draw(at, to, TextStyle());
}
