#include "ListedDisplayModes.h"

bool ListedDisplayModes::activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const
{
    displays.clear();
    if (!m_answered)
        return false;
    for (qsizetype i = 0; i < m_displays.size() && displays.size() < capacity; ++i)
        displays.push_back(static_cast<DisplayId>(i + 1));
    return true;
}

std::optional<QList<ModeDescription>> ListedDisplayModes::availableModes(DisplayId display) const
{
    if (display == 0 || display > static_cast<quint64>(m_displays.size()))
        return std::nullopt;
    return m_displays.at(display - 1);
}

ModeDescription ListedDisplayModes::mode(int width, int height, double refreshRate)
{
    ModeDescription description{{QStringLiteral("Width"), width},
                                {QStringLiteral("Height"), height}};
    if (refreshRate > 0.0)
        description.insert(QStringLiteral("RefreshRate"), refreshRate);
    return description;
}

void ListedDisplayModes::addDisplay(const QList<ModeDescription> &modes)
{
    QList<ModeDescription> sized;
    for (const ModeDescription &m : modes) {
        if (m.value(QStringLiteral("Width")).toInt() > 0 &&
            m.value(QStringLiteral("Height")).toInt() > 0)
            sized.append(m);
    }
    m_displays.append(sized);
}
