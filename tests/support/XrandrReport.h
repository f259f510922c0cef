#pragma once

#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>

// What `xrandr --verbose` itself says about a server: the outputs that are connected and driven
// by a CRTC, in its order, each with its modes' sizes in its order. The tests' reference for
// what the XRandR back end must find.
class XrandrReport
{
public:
    struct Output
    {
        QString name;
        QList<QSize> modes;
    };

    static QList<Output> activeOutputs(const QByteArray &verboseText);
};
