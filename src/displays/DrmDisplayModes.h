#pragma once

#include "DisplayModeSource.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Display modes from the kernel's DRM/KMS connectors as sysfs shows them: every entry
// "card<N>-<connector>" under the root whose `status` reads "connected" and whose `enabled`
// reads "enabled" is an active display; its `modes` file lists one "WIDTHxHEIGHT[suffix]" per
// line in the kernel's order.
//
// Display order: connector names sorted naturally, that is runs of digits compare by their
// numeric value and everything else by character code ("card0-DP-2" before "card0-DP-10",
// "card2-..." before "card10-..."); names equal in that sense fall back to plain comparison,
// so the order is total and the same on every call.
class DrmDisplayModes : public DisplayModeSource
{
public:
    explicit DrmDisplayModes(QString sysfsRoot = QStringLiteral("/sys/class/drm"));

    bool activeDisplayList(quint32 capacity, std::vector<DisplayId> &displays) const override;
    std::optional<QList<ModeDescription>> availableModes(DisplayId display) const override;

    // Parses the text of a connector's `modes` file. Lines that do not start with two positive
    // decimal numbers joined by 'x' are skipped; a suffix after the height (the kernel writes
    // "i" for interlaced modes) is kept as "Interlaced" when it is exactly "i".
    static QList<ModeDescription> parseModes(const QByteArray &text);

    // True when `a` sorts before `b` in the display order described above.
    static bool connectorLess(const QString &a, const QString &b);

    // The names of the active connectors under `sysfsRoot`, in display order.
    static QStringList activeConnectors(const QString &sysfsRoot);

private:
    DisplayId idFor(const QString &connector) const;

    QString m_root;
    // Connector names seen so far; a connector's id is its position here plus one, so an id
    // keeps naming the same connector for the source's whole life.
    mutable QStringList m_known;
};
