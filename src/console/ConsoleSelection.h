#pragma once

#include <QString>

#include <utility>

class ConsoleModel;

// A place in the console's text: a line by its sequence number (see ConsoleModel), so that it
// stays on its text while lines arrive and older ones are trimmed, and a column in that line
// (UTF-16 code units, 0 to the line's length).
struct TextPosition
{
    quint64 sequence = 0;
    int column = 0;

    friend bool operator<(const TextPosition &a, const TextPosition &b)
    {
        return a.sequence != b.sequence ? a.sequence < b.sequence : a.column < b.column;
    }
    friend bool operator==(const TextPosition &a, const TextPosition &b)
    {
        return a.sequence == b.sequence && a.column == b.column;
    }
};

// The selected text of the console, from an anchor (where it began) to a cursor (where it was
// extended to), either way round. Rows are joined by "\n" in the selected text. Plain logic on
// a ConsoleModel; the view turns mouse and keys into these calls.
class ConsoleSelection
{
public:
    bool isEmpty() const { return !m_active || m_anchor == m_cursor; }
    bool isActive() const { return m_active; }
    void clear() { m_active = false; }

    // A press: nothing selected yet, the anchor set.
    void start(const TextPosition &at);
    // A drag or Shift+click: from the anchor to `to` (a press when nothing was selected).
    void extendTo(const TextPosition &to);
    // A double-click: the word under `at` (letters, digits and "_"), or the run of spaces or
    // the single other character there.
    void selectWord(const ConsoleModel &model, const TextPosition &at);
    // A triple-click: the whole line of `at`.
    void selectLine(const ConsoleModel &model, quint64 sequence);
    void selectAll(const ConsoleModel &model);
    // A selection whose first line has been trimmed away is cleared; true when that happened.
    bool dropIfTrimmed(const ConsoleModel &model);

    TextPosition begin() const { return m_cursor < m_anchor ? m_cursor : m_anchor; }
    TextPosition end() const { return m_cursor < m_anchor ? m_anchor : m_cursor; }
    TextPosition cursor() const { return m_cursor; }

    // The selected columns [first, second) of line `index` of `model`; empty when none. A line
    // that the selection runs past also answers `throughEnd` (its line break is selected).
    std::pair<int, int> columnsInLine(const ConsoleModel &model, int index,
                                      bool *throughEnd = nullptr) const;
    QString text(const ConsoleModel &model) const;

    // Offsets into the model's lines joined by "\n" (what the accessible text reads), and back.
    static int offsetOf(const ConsoleModel &model, const TextPosition &at);
    static TextPosition positionAt(const ConsoleModel &model, int offset);

private:
    bool m_active = false;
    TextPosition m_anchor;
    TextPosition m_cursor;
};
