#pragma once

#include "DisplayModeSource.h"

#include <QList>
#include <QPointer>
#include <QScreen>

// The last resort: every QScreen the application knows, in QGuiApplication::screens() order,
// offering its current size in device pixels as its single mode. Needs a QGuiApplication; without
// one the display list cannot be had.
class ScreenDisplayModes : public DisplayModeSource
{
public:
    bool activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const override;
    std::optional<QList<ModeDescription>> availableModes(DisplayId display) const override;

private:
    // Screens seen so far; a screen's id is its position here plus one. A screen that goes away
    // leaves a null entry, so its id is never reused for another screen.
    mutable QList<QPointer<QScreen>> m_known;
};
