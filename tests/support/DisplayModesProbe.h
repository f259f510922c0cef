#pragma once

#include <QList>
#include <QProcessEnvironment>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

// What tests/displays/displaymodes_probe printed in a session: the name of the source the
// launcher would ask, and each display's mode sizes in the source's order.
struct DisplayModesProbe
{
    QString backEnd;
    QList<QList<QSize>> displays;

    // Runs the probe named by VELMORA_DISPLAYMODES_PROBE with `env` and `args`; nothing and the
    // reason when it fails, hangs or prints nothing.
    static std::optional<DisplayModesProbe> run(QProcessEnvironment env, const QStringList &args,
                                                QString *whyNot);
    // "1920x1080 | 1280x1024", for messages.
    static QString describe(const QList<QList<QSize>> &displays);
};
