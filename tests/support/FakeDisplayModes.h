#pragma once

#include "DisplayModeSource.h"

#include <QList>

#include <algorithm>
#include <initializer_list>
#include <utility>

// A display-mode source whose displays and answers a test sets up by hand. It keeps the same
// contract as the real back ends: the list holds at most `capacity` ids in the order they were
// added, a failing list leaves nothing behind, and an unknown id has no mode list. It records
// what it was asked, so a test can check that displays past the capacity were never queried.
class FakeDisplayModes : public DisplayModeSource
{
public:
    struct Display
    {
        DisplayId id = 0;
        std::optional<QList<ModeDescription>> modes;
    };

    // A mode answering "Width" and "Height", plus any extra keys ("RefreshRate", "Depth"...).
    static ModeDescription mode(int width, int height, const QVariantMap &extra = {})
    {
        ModeDescription m = extra;
        m.insert(QStringLiteral("Width"), width);
        m.insert(QStringLiteral("Height"), height);
        return m;
    }

    // Appends a display offering `modes` in this order; returns its id.
    DisplayId addDisplay(QList<ModeDescription> modes)
    {
        m_displays.append(Display{nextId(), std::move(modes)});
        return m_displays.last().id;
    }

    // Appends a display offering plain (width, height) modes in this order; returns its id.
    DisplayId addDisplay(std::initializer_list<std::pair<int, int>> sizes)
    {
        QList<ModeDescription> modes;
        for (const auto &[width, height] : sizes)
            modes.append(mode(width, height));
        return addDisplay(std::move(modes));
    }

    // Appends an active display that has no mode list at all; returns its id.
    DisplayId addDisplayWithoutModes()
    {
        m_displays.append(Display{nextId(), std::nullopt});
        return m_displays.last().id;
    }

    // Makes the display list itself fail, as when the platform cannot answer.
    void setListFails(bool fails) { m_listFails = fails; }

    const QList<Display> &displays() const { return m_displays; }
    int listCalls() const { return m_listCalls; }
    const QList<DisplayId> &modeQueries() const { return m_modeQueries; }

    bool activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const override
    {
        ++m_listCalls;
        displays.clear();
        if (m_listFails)
            return false;
        const qsizetype count = std::min<qsizetype>(m_displays.size(), capacity);
        for (qsizetype i = 0; i < count; ++i)
            displays.push_back(m_displays.at(i).id);
        return true;
    }

    std::optional<QList<ModeDescription>> availableModes(DisplayId display) const override
    {
        m_modeQueries.append(display);
        for (const Display &d : m_displays) {
            if (d.id == display)
                return d.modes;
        }
        return std::nullopt;
    }

private:
    // Ids deliberately neither 0 nor positions, so code that confuses the two shows it.
    DisplayId nextId() const { return 0x1000u + 7u * static_cast<DisplayId>(m_displays.size()); }

    QList<Display> m_displays;
    bool m_listFails = false;
    mutable int m_listCalls = 0;
    mutable QList<DisplayId> m_modeQueries;
};
