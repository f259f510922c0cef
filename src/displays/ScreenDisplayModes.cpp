#include "ScreenDisplayModes.h"

#include <QGuiApplication>

#include <cmath>

bool ScreenDisplayModes::activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const
{
    displays.clear();
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        if (displays.size() >= capacity)
            break;
        qsizetype index = m_known.indexOf(screen);
        if (index < 0) {
            m_known.append(screen);
            index = m_known.size() - 1;
        }
        displays.push_back(static_cast<DisplayId>(index + 1));
    }
    return true;
}

std::optional<QList<ModeDescription>> ScreenDisplayModes::availableModes(DisplayId display) const
{
    if (display == 0 || display > static_cast<quint64>(m_known.size()))
        return std::nullopt;
    const QScreen *screen = m_known.at(display - 1);
    if (!screen)
        return std::nullopt;
    // geometry() is in device-independent pixels; a mode is what the hardware drives.
    const QSizeF pixels = QSizeF(screen->geometry().size()) * screen->devicePixelRatio();
    const ModeDescription mode{
        {QStringLiteral("Width"), static_cast<int>(std::lround(pixels.width()))},
        {QStringLiteral("Height"), static_cast<int>(std::lround(pixels.height()))},
        {QStringLiteral("RefreshRate"), screen->refreshRate()}};
    return QList<ModeDescription>{mode};
}
