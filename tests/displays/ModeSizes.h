#pragma once

#include "DisplayModeSource.h"

#include <QList>
#include <QSize>

#include <optional>

// The (width, height) of each mode, in order, as the tests compare them. A missing number reads
// -1, so that it is told apart from a real 0.
using Sizes = QList<QSize>;

inline Sizes sizesOf(const QList<ModeDescription> &modes)
{
    Sizes sizes;
    for (const ModeDescription &mode : modes)
        sizes.append(QSize(mode.value(QStringLiteral("Width"), -1).toInt(),
                           mode.value(QStringLiteral("Height"), -1).toInt()));
    return sizes;
}

// No mode list reads as no sizes.
inline Sizes sizesOf(const std::optional<QList<ModeDescription>> &modes)
{
    return modes ? sizesOf(*modes) : Sizes();
}
