#include "ConsoleSelection.h"

#include "ConsoleModel.h"

#include <algorithm>

namespace {

// Characters of a kind make one word for a double-click.
int kindOf(char32_t c)
{
    if (QChar::isLetterOrNumber(c) || c == U'_' || QChar::isMark(c))
        return 0;
    if (QChar::isSpace(c))
        return 1;
    return 2;
}

// Whether `at` falls between the two halves of a surrogate pair.
bool insidePair(const QString &line, int at)
{
    return at > 0 && at < line.size() && line.at(at).isLowSurrogate() &&
           line.at(at - 1).isHighSurrogate();
}

// The kind of the character that starts at `at`, and its length in code units.
int kindAt(const QString &line, int at, int *length)
{
    *length = insidePair(line, at + 1) ? 2 : 1;
    return kindOf(*length == 2 ? QChar::surrogateToUcs4(line.at(at), line.at(at + 1))
                               : char32_t(line.at(at).unicode()));
}

// The index of line `sequence` in `model`, or -1 when it is not (or no longer) there.
int indexOf(const ConsoleModel &model, quint64 sequence)
{
    const quint64 first = model.firstSequence();
    if (sequence < first || sequence - first >= quint64(model.lineCount()))
        return -1;
    return int(sequence - first);
}

} // namespace

void ConsoleSelection::start(const TextPosition &at)
{
    m_active = true;
    m_anchor = at;
    m_cursor = at;
}

void ConsoleSelection::extendTo(const TextPosition &to)
{
    if (!m_active)
        start(to);
    m_cursor = to;
}

void ConsoleSelection::selectWord(const ConsoleModel &model, const TextPosition &at)
{
    const int index = indexOf(model, at.sequence);
    if (index < 0)
        return;
    const QString &line = model.line(index);
    if (line.isEmpty()) {
        start(TextPosition{at.sequence, 0});
        return;
    }
    // A click past the end of the line means its last character.
    // Characters outside the first plane are whole, never half of one.
    int column = std::clamp(at.column, 0, int(line.size()) - 1);
    if (insidePair(line, column))
        --column;
    int length = 1;
    const int kind = kindAt(line, column, &length);
    int from = column;
    int to = column + length;
    if (kind != 2) {
        while (from > 0) {
            const int before = insidePair(line, from - 1) ? from - 2 : from - 1;
            if (kindAt(line, before, &length) != kind)
                break;
            from = before;
        }
        while (to < line.size() && kindAt(line, to, &length) == kind)
            to += length;
    }
    start(TextPosition{at.sequence, from});
    m_cursor.column = to;
}

void ConsoleSelection::selectLine(const ConsoleModel &model, quint64 sequence)
{
    const int index = indexOf(model, sequence);
    if (index < 0)
        return;
    start(TextPosition{sequence, 0});
    m_cursor.column = int(model.line(index).size());
}

void ConsoleSelection::selectAll(const ConsoleModel &model)
{
    if (model.lineCount() == 0) {
        clear();
        return;
    }
    const int last = model.lineCount() - 1;
    start(TextPosition{model.firstSequence(), 0});
    m_cursor = TextPosition{model.firstSequence() + quint64(last), int(model.line(last).size())};
}

bool ConsoleSelection::dropIfTrimmed(const ConsoleModel &model)
{
    if (!m_active || indexOf(model, begin().sequence) >= 0)
        return false;
    clear();
    return true;
}

std::pair<int, int> ConsoleSelection::columnsInLine(const ConsoleModel &model, int index,
                                                    bool *throughEnd) const
{
    if (throughEnd)
        *throughEnd = false;
    if (isEmpty() || index < 0 || index >= model.lineCount())
        return {0, 0};
    const quint64 sequence = model.firstSequence() + quint64(index);
    const TextPosition from = begin();
    const TextPosition to = end();
    if (sequence < from.sequence || sequence > to.sequence)
        return {0, 0};
    const int length = int(model.line(index).size());
    const int first = sequence == from.sequence ? std::min(from.column, length) : 0;
    const int last = sequence == to.sequence ? std::min(to.column, length) : length;
    if (throughEnd)
        *throughEnd = sequence < to.sequence;
    return {first, std::max(first, last)};
}

QString ConsoleSelection::text(const ConsoleModel &model) const
{
    QString out;
    if (isEmpty())
        return out;
    const int first = std::max(0, indexOf(model, begin().sequence));
    for (int index = first; index < model.lineCount(); ++index) {
        bool throughEnd = false;
        const auto [from, to] = columnsInLine(model, index, &throughEnd);
        if (model.firstSequence() + quint64(index) > end().sequence)
            break;
        out += model.line(index).mid(from, to - from);
        if (throughEnd)
            out += u'\n';
    }
    return out;
}

int ConsoleSelection::offsetOf(const ConsoleModel &model, const TextPosition &at)
{
    int offset = 0;
    const int index = indexOf(model, at.sequence);
    const int rows = index < 0 ? model.lineCount() : index;
    for (int i = 0; i < rows; ++i)
        offset += int(model.line(i).size()) + 1;
    if (index < 0)
        return std::max(0, offset - 1);
    return offset + std::clamp(at.column, 0, int(model.line(index).size()));
}

TextPosition ConsoleSelection::positionAt(const ConsoleModel &model, int offset)
{
    offset = std::max(0, offset);
    for (int i = 0; i < model.lineCount(); ++i) {
        const int length = int(model.line(i).size());
        if (offset <= length || i == model.lineCount() - 1)
            return TextPosition{model.firstSequence() + quint64(i), std::min(offset, length)};
        offset -= length + 1;
    }
    return TextPosition{model.firstSequence(), 0};
}
