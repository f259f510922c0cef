#include "EscapeParser.h"

#include <array>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr QRgb opaqueRgb(int r, int g, int b)
{
    return 0xffu << 24 | QRgb(r & 0xff) << 16 | QRgb(g & 0xff) << 8 | QRgb(b & 0xff);
}

constexpr char16_t Esc = 0x1b;
constexpr char16_t Bel = 0x07;
constexpr char16_t Can = 0x18;
constexpr char16_t Sub = 0x1a;

constexpr QRgb BasicColours[16] = {
    0xff000000, 0xffcd0000, 0xff00cd00, 0xffcdcd00, 0xff0000ee, 0xffcd00cd, 0xff00cdcd, 0xffe5e5e5,
    0xff7f7f7f, 0xffff0000, 0xff00ff00, 0xffffff00, 0xff5c5cff, 0xffff00ff, 0xff00ffff, 0xffffffff,
};

bool endsEverySequence(char16_t c)
{
    return c == u'\n' || c == Can || c == Sub;
}

// Parameters of an SGR sequence, into `out`; an empty one reads 0, a huge one stays huge
// without overflow. Answers how many there are.
template <std::size_t N>
int sgrParameters(const char *params, int length, std::array<int, N> &out)
{
    static_assert(N > 0);
    int count = 0;
    int value = 0;
    for (int i = 0; i < length; ++i) {
        const char c = params[i];
        if (c == ';' || c == ':') {
            if (count + 1 < int(N))
                out[count++] = value;
            value = 0;
        } else if (c >= '0' && c <= '9') {
            value = value > 100000 ? value : value * 10 + (c - '0');
        }
    }
    out[count++] = value;
    return count;
}

// Ordinary text is everything but C0 controls (line feed excepted), DEL and C1 controls.
bool isOrdinary(char16_t u)
{
    return !((u < 0x20 && u != u'\n') || (u >= 0x7f && u <= 0x9f));
}

// Where the run of ordinary text that starts at `i` ends: the first other code unit before
// `end`, or `end`. Output is nearly all ordinary text, so this is the parser's inner loop; with
// SSE2 it looks at eight code units at a time.
qsizetype ordinaryRunEnd(const char16_t *data, qsizetype i, qsizetype end)
{
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    const __m128i lineFeed = _mm_set1_epi16(u'\n');
    const __m128i lastC0 = _mm_set1_epi16(0x1f);
    const __m128i del = _mm_set1_epi16(0x7f);
    const __m128i delToLastC1 = _mm_set1_epi16(0x9f - 0x7f);
    for (; i + 8 <= end; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i));
        // u <= 0x1f, and (u - 0x7f) mod 2^16 <= 0x20, by saturating subtraction to zero.
        const __m128i c0 = _mm_andnot_si128(_mm_cmpeq_epi16(v, lineFeed),
                                            _mm_cmpeq_epi16(_mm_subs_epu16(v, lastC0), zero));
        const __m128i c1 =
            _mm_cmpeq_epi16(_mm_subs_epu16(_mm_sub_epi16(v, del), delToLastC1), zero);
        const int mask = _mm_movemask_epi8(_mm_or_si128(c0, c1));
        if (mask != 0)
            return i + __builtin_ctz(unsigned(mask)) / 2;
    }
#endif
    while (i < end && isOrdinary(data[i]))
        ++i;
    return i;
}

// Where the last `rows` lines of `data` begin: just after the line feed before them, looked for
// from the end; 0 when there are no more lines than that.
qsizetype lastLinesStart(const char16_t *data, qsizetype size, int rows)
{
    qsizetype i = size;
    int found = 0; // line feeds from i to the end
#ifdef __SSE2__
    const __m128i lineFeed = _mm_set1_epi16(u'\n');
    for (; i >= 8; i -= 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(data + i - 8));
        // One bit per code unit: the odd bits of the byte mask.
        unsigned mask = unsigned(_mm_movemask_epi8(_mm_cmpeq_epi16(v, lineFeed))) & 0xaaaau;
        const int here = __builtin_popcount(mask);
        if (found + here <= rows) {
            found += here;
            continue;
        }
        for (;;) {
            const int top = 31 - __builtin_clz(mask);
            if (++found == rows + 1)
                return i - 8 + top / 2 + 1;
            mask &= ~(1u << top);
        }
    }
#endif
    while (i > 0) {
        --i;
        if (data[i] == u'\n' && ++found == rows + 1)
            return i + 1;
    }
    return 0;
}

} // namespace

QRgb EscapeParser::paletteColour(int index)
{
    if (index < 0 || index > 255)
        return BasicColours[7];
    if (index < 16)
        return BasicColours[index];
    if (index < 232) {
        static constexpr int Levels[6] = {0, 95, 135, 175, 215, 255};
        const int cube = index - 16;
        return opaqueRgb(Levels[cube / 36], Levels[(cube / 6) % 6], Levels[cube % 6]);
    }
    const int grey = 8 + 10 * (index - 232);
    return opaqueRgb(grey, grey, grey);
}

StyledText EscapeParser::feed(const QString &chunk, int keepRows)
{
    m_out.text.reserve(chunk.size());
    const QChar *data = chunk.constData();
    const qsizetype size = chunk.size();
    // Every line feed of the chunk is one of the output's (one inside a sequence ends it and is
    // kept), so the rows that stay start after the same line feed in both: the one before the
    // last `keepRows`. Looked for from the end, so that a flood's chunk is not scanned twice.
    const auto *units = reinterpret_cast<const char16_t *>(data);
    const qsizetype spansFrom = keepRows >= 0 ? lastLinesStart(units, size, keepRows) : 0;
    m_spanless = spansFrom > 0;
    qsizetype i = 0;
    while (i < size) {
        if (m_spanless && i >= spansFrom)
            m_spanless = false;
        if (m_state == State::Text && !m_heldReturn) {
            // Ordinary text, the bulk of any output, is copied in runs rather than char by char.
            const qsizetype limit = m_spanless ? spansFrom : size;
            const qsizetype end = ordinaryRunEnd(units, i, limit);
            if (end > i) {
                putRun(data + i, end - i);
                i = end;
                if (i == size)
                    break;
                if (i == limit)
                    continue;
            }
            // The CR of a CR LF, the terminal's end of every line, goes without a call of its own,
            // and so does the start of a CSI sequence, the form of every colour change.
            if (data[i] == u'\r' && i + 1 < size && data[i + 1] == u'\n') {
                ++i;
                continue;
            }
            if (data[i] == Esc && i + 1 < size && data[i + 1] == u'[') {
                m_state = State::Csi;
                m_paramLength = 0;
                m_paramsUsable = true;
                i += 2;
                continue;
            }
        } else if (m_state == State::Csi) {
            // Parameters, the bulk of a colour sequence, without a call per character.
            for (; i < size; ++i) {
                const char16_t u = data[i].unicode();
                if (u < 0x30 || u > 0x3f)
                    break;
                if (m_paramLength < MaxParameters)
                    m_params[m_paramLength++] = char(u);
                else
                    m_paramsUsable = false;
            }
            if (i == size)
                break;
            if (data[i] == u'm') {
                m_state = State::Text;
                csiFinal(data[i++]);
                continue;
            }
        }
        process(data[i++]);
    }
    return take();
}

void EscapeParser::putRun(const QChar *run, qsizetype length)
{
    const int at = int(m_out.text.size());
    m_out.text.append(run, length);
    if (m_style.isPlain() || m_spanless)
        return;
    int start = 0;
    for (int k = 0; k <= int(length); ++k) {
        if (k < int(length) && run[k] != u'\n')
            continue;
        if (k > start)
            addToSpans(at + start, k - start);
        start = k + 1;
    }
}

void EscapeParser::addToSpans(int at, int length)
{
    if (m_spanless)
        return;
    StyleSpans &spans = m_out.spans;
    if (!spans.isEmpty() && spans.last().start + spans.last().length == at &&
        spans.last().style == m_style)
        spans.last().length += length;
    else
        spans.append(StyleSpan{at, length, m_style});
}

StyledText EscapeParser::finish()
{
    releaseReturn();
    m_state = State::Text;
    m_paramLength = 0;
    m_bold = false;
    m_basic = -1;
    m_hasRgb = false;
    updateStyle();
    StyledText out = take();
    m_column = 0;
    return out;
}

StyledText EscapeParser::take()
{
    m_column = column();
    m_columnAt = 0;
    StyledText out = std::move(m_out);
    m_out = StyledText();
    return out;
}

int EscapeParser::column()
{
    // Counted only when a tab asks, from where it was last known: the bulk of the text is copied
    // in runs without looking at columns.
    const QStringView text = QStringView(m_out.text).sliced(m_columnAt);
    qsizetype start = text.size();
    while (start > 0 && text[start - 1] != u'\n' && text[start - 1] != u'\r')
        --start;
    int column = start == 0 ? m_column : 0;
    for (const QChar c : text.sliced(start)) {
        if (!c.isLowSurrogate())
            ++column;
    }
    m_column = column;
    m_columnAt = m_out.text.size();
    return column;
}

void EscapeParser::process(QChar c)
{
    const char16_t u = c.unicode();
    switch (m_state) {
    case State::Text:
        text(c);
        return;
    case State::Escape:
        if (u == u'[') {
            m_state = State::Csi;
            m_paramLength = 0;
            m_paramsUsable = true;
        } else if (u == u']' || u == u'P' || u == u'X' || u == u'^' || u == u'_') {
            m_state = State::String;
        } else if (u >= 0x20 && u <= 0x2f) {
            m_state = State::EscapeIntermediate;
        } else if (u >= 0x30 && u <= 0x7e) {
            m_state = State::Text;
        } else if (u == Esc) {
            // The first ESC began nothing; the second begins the sequence.
        } else if (endsEverySequence(u)) {
            abandonSequence(c);
        } else {
            // Not a sequence at all: the ESC shows for what it is.
            m_state = State::Text;
            releaseReturn();
            put(QChar(0x2400 + Esc));
            text(c);
        }
        return;
    case State::EscapeIntermediate:
        if (u >= 0x20 && u <= 0x2f)
            return;
        m_state = State::Text;
        if (u < 0x30 || u > 0x7e)
            text(c);
        return;
    case State::Csi:
        if (u >= 0x40 && u <= 0x7e) {
            m_state = State::Text;
            csiFinal(c);
        } else if (u >= 0x20 && u <= 0x3f) {
            if (u >= 0x30 && m_paramLength < MaxParameters)
                m_params[m_paramLength++] = char(u);
            else
                m_paramsUsable = false; // intermediates, or more than any SGR needs
        } else if (u == Esc) {
            m_state = State::Escape;
        } else if (endsEverySequence(u)) {
            abandonSequence(c);
        } else if (u > 0x7e) {
            m_state = State::Text;
            text(c);
        } else {
            // A terminal carries out a control inside a sequence and goes on with the sequence.
            text(c);
        }
        return;
    case State::String:
        if (u == Bel) {
            m_state = State::Text;
        } else if (u == Esc) {
            m_state = State::StringEscape;
        } else if (endsEverySequence(u)) {
            abandonSequence(c);
        }
        return;
    case State::StringEscape:
        if (u == u'\\') {
            m_state = State::Text;
        } else {
            m_state = State::Escape;
            process(c);
        }
        return;
    }
}

void EscapeParser::abandonSequence(QChar c)
{
    m_state = State::Text;
    if (c == u'\n')
        text(c);
}

void EscapeParser::text(QChar c)
{
    const char16_t u = c.unicode();
    if (m_heldReturn) {
        // A progress line is often redrawn as "\r", a sequence that erases it, then the text: the
        // return waits through sequences and more returns for what it turns out to be.
        if (u == u'\r')
            return;
        if (u == Esc) {
            m_state = State::Escape;
            return;
        }
        if (u == u'\n') {
            m_heldReturn = false;
            put(c);
            return;
        }
        releaseReturn();
    }
    if (u == u'\n') {
        put(c);
    } else if (u == u'\r') {
        m_heldReturn = true;
    } else if (u == Esc) {
        m_state = State::Escape;
    } else if (u == u'\t') {
        const int spaces = 8 - column() % 8;
        for (int i = 0; i < spaces; ++i)
            put(QLatin1Char(' '));
    } else if (u < 0x20) {
        put(QChar(0x2400 + u));
    } else if (u == 0x7f) {
        put(QChar(0x2421));
    } else if (u >= 0x80 && u <= 0x9f) {
        put(QChar::ReplacementCharacter);
    } else {
        put(c);
    }
}

void EscapeParser::put(QChar c)
{
    const int at = int(m_out.text.size());
    m_out.text.append(c);
    if (c == u'\n' || c == u'\r')
        return;
    if (!m_style.isPlain())
        addToSpans(at, 1);
}

void EscapeParser::releaseReturn()
{
    if (!m_heldReturn)
        return;
    m_heldReturn = false;
    put(QLatin1Char('\r'));
}

void EscapeParser::csiFinal(QChar final)
{
    // Private sequences (a leading < = > ?) and ones with intermediates are not SGR.
    if (final != u'm' || !m_paramsUsable || (m_paramLength > 0 && m_params[0] >= '<'))
        return;
    applySgr();
}

void EscapeParser::applySgr()
{
    std::array<int, MaxParameters + 1> p; // one more than the separators that fit
    const int count = sgrParameters(m_params.data(), m_paramLength, p);
    for (int i = 0; i < count; ++i) {
        const int code = p[i];
        if (code == 0) {
            m_bold = false;
            m_basic = -1;
            m_hasRgb = false;
        } else if (code == 1) {
            m_bold = true;
        } else if (code == 22) {
            m_bold = false;
        } else if (code >= 30 && code <= 37) {
            m_basic = code - 30;
            m_hasRgb = false;
        } else if (code >= 90 && code <= 97) {
            m_basic = -1;
            m_hasRgb = true;
            m_rgb = BasicColours[code - 90 + 8];
        } else if (code == 39) {
            m_basic = -1;
            m_hasRgb = false;
        } else if (code == 38 || code == 48) {
            // An extended colour: its arguments are consumed even where it is ignored.
            const int mode = i + 1 < count ? p[i + 1] : -1;
            QRgb colour = 0;
            if (mode == 5 && i + 2 < count) {
                colour = paletteColour(qBound(0, p[i + 2], 255));
                i += 2;
            } else if (mode == 2 && i + 4 < count) {
                colour = opaqueRgb(qBound(0, p[i + 2], 255), qBound(0, p[i + 3], 255),
                                   qBound(0, p[i + 4], 255));
                i += 4;
            } else {
                break; // malformed: the rest cannot be read reliably
            }
            if (code == 38) {
                m_basic = -1;
                m_hasRgb = true;
                m_rgb = colour;
            }
        }
    }
    updateStyle();
}

void EscapeParser::updateStyle()
{
    TextStyle style;
    if (m_basic >= 0) {
        style.hasColour = true;
        style.colour = BasicColours[m_bold ? m_basic + 8 : m_basic];
    } else if (m_hasRgb) {
        style.hasColour = true;
        style.colour = m_rgb;
    }
    style.bold = m_bold && m_basic < 0;
    m_style = style;
}
