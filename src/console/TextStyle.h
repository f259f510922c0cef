#pragma once

#include <QString>
#include <QVector>

// The same type as QtGui's QRgb (0xAARRGGBB), named here so that the text side of the console
// needs QtCore only.
using QRgb = unsigned int;

// How a stretch of console text is drawn when the server asked for more than the console's
// plain green. A row without spans is drawn exactly as plain text always was.
struct TextStyle
{
    bool hasColour = false; // false: the console's own green
    QRgb colour = 0;
    bool bold = false;

    bool isPlain() const { return !hasColour && !bold; }
    friend bool operator==(const TextStyle &a, const TextStyle &b)
    {
        return a.hasColour == b.hasColour && (!a.hasColour || a.colour == b.colour) &&
               a.bold == b.bold;
    }
    friend bool operator!=(const TextStyle &a, const TextStyle &b) { return !(a == b); }
};

// A styled stretch of one row, in UTF-16 code units of that row's text. Spans of a row are in
// order, do not overlap and never cover a line feed or a carriage return; text outside every span
// is plain.
struct StyleSpan
{
    int start = 0;
    int length = 0;
    TextStyle style;

    friend bool operator==(const StyleSpan &a, const StyleSpan &b)
    {
        return a.start == b.start && a.length == b.length && a.style == b.style;
    }
};

using StyleSpans = QVector<StyleSpan>;

// Text ready for the console: no escape sequences left, line feeds still in it, and the spans
// in offsets of `text` (each within one line).
struct StyledText
{
    QString text;
    StyleSpans spans;
};
