#pragma once

#include "TextStyle.h"

#include <QString>

#include <array>

// Turns one stream of terminal output (already decoded to text, arriving in chunks) into what the
// console shows: escape sequences are taken out, also when a read cuts one in two, and the colour
// and weight that SGR sequences ask for become style spans.
//
// - CSI (ESC [ ... final byte) and the string sequences OSC, DCS, SOS, PM and APC (ESC ] P X ^ _
//   ... ended by BEL or ESC \) are never shown; other escape sequences (ESC, intermediates, final
//   byte) neither. A line feed, CAN or SUB inside a sequence ends it, so that a stray ESC cannot
//   swallow the rest of a run's output.
// - SGR: 0, 1, 22, 30-37, 39, 90-97, 38;5;n and 38;2;r;g;b. Bold with 30-37 gives the bright
//   colour; bold otherwise gives the bold weight. Backgrounds (40-49, 100-107, 48;...) and
//   everything else are ignored.
// - A carriage return right before a line feed ends the line with it (also with escape sequences
//   or more carriage returns between them) and goes; any other carriage return stays in the text
//   as one '\r', outside every style span, for the console to return to the start of the row
//   (the log keeps it, and with it every state of a redrawn progress line). Other control
//   characters show as their control pictures (U+2400 block), C1 controls as U+FFFD; a tab
//   advances to the next multiple of 8 columns (counted from the last line feed or carriage
//   return) with spaces.
//
// One parser per stream: its state (a sequence in progress, the style, the column) carries from
// one chunk to the next.
class EscapeParser
{
public:
    // With `keepRows` at 0 or more, only the last `keepRows` rows of this chunk's output get style
    // spans: whoever shows them keeps no more, and the rows before are dropped unseen. The text
    // is the same either way, and so is the style that carries over to the next chunk.
    StyledText feed(const QString &chunk, int keepRows = -1);
    // The end of the stream: a sequence still open is dropped, a carriage return held back goes
    // out.
    // The style and column go back to their start.
    StyledText finish();

    // The colour of the 256-colour palette entry `index` (0-255); 0-15 are the 16 basic colours.
    static QRgb paletteColour(int index);

private:
    enum class State
    {
        Text,
        Escape,
        EscapeIntermediate,
        Csi,
        String,
        StringEscape
    };

    void process(QChar c);
    // A line feed, CAN or SUB inside a sequence: the sequence is dropped, the line feed kept.
    void abandonSequence(QChar c);
    void text(QChar c);
    void put(QChar c);
    // The carriage return held back turned out to be a return of its own.
    void releaseReturn();
    // Ordinary characters and line feeds, as they are.
    void putRun(const QChar *run, qsizetype length);
    void addToSpans(int at, int length);
    void csiFinal(QChar final);
    void applySgr();
    void updateStyle();
    StyledText take();
    // The column the output so far ends in, in shown characters.
    int column();

    static constexpr int MaxParameters = 128;

    State m_state = State::Text;
    std::array<char, MaxParameters> m_params; // what a CSI sequence has so far: "0" to "?"
    int m_paramLength = 0;
    bool m_paramsUsable = true;
    bool m_heldReturn = false;
    bool m_spanless = false; // the rows being made now are dropped unseen: no spans for them
    // The column at m_columnAt of the output being gathered (see column()).
    int m_column = 0;
    qsizetype m_columnAt = 0;

    bool m_bold = false;
    int m_basic = -1; // 0-7 while the colour is one of 30-37
    bool m_hasRgb = false;
    QRgb m_rgb = 0;
    TextStyle m_style;

    StyledText m_out;
};
