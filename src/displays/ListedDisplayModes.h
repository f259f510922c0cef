#pragma once

#include "DisplayModeSource.h"

#include <QList>

// A source that learnt every display and its modes in one go (one compositor request, one IPC
// reply) and answers from that snapshot afterwards. A display's id is its position plus one.
// Modes with a width or height below 1 are dropped when they come in, so no caller ever sees
// one; a display left with no mode still counts as a display.
//
// Compositor sources derive from it and fill it in their constructor, bounded by a deadline;
// `answered()` tells whether the compositor gave an account at all.
class ListedDisplayModes : public DisplayModeSource
{
public:
    bool activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const override;
    std::optional<QList<ModeDescription>> availableModes(DisplayId display) const override;

    // False when the source could not be asked, failed or ran out of time; the display list
    // then cannot be had.
    bool answered() const { return m_answered; }

    // A mode description in pixels, with the refresh rate in Hz when it is known (> 0).
    static ModeDescription mode(int width, int height, double refreshRate = 0.0);

    // Appends a display with these modes, minus those without a positive size.
    void addDisplay(const QList<ModeDescription> &modes);
    void setAnswered(bool answered) { m_answered = answered; }

private:
    QList<QList<ModeDescription>> m_displays;
    bool m_answered = false;
};

// The answer when nothing else answers: an empty list, never an invented mode.
class NoDisplayModes : public ListedDisplayModes
{
public:
    NoDisplayModes() { setAnswered(true); }
};
