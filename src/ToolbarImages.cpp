#include "ToolbarImages.h"

#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QResource>

#include <initializer_list>

namespace {

// The images are compiled into the application as bare pixels in the pixmaps' own format (see
// render_icon_main.cpp), drawn from their SVG sources at these sizes (src/CMakeLists.txt,
// velmora_render_icon) and stored uncompressed, so they are used in place and copied, not
// converted, into pixmaps; other sizes are scaled from the nearest.
QIcon drawnImage(const QString &prefix, std::initializer_list<int> sides)
{
    QIcon icon;
    for (const int side : sides) {
        const QResource pixels(QStringLiteral("%1-%2.argb").arg(prefix).arg(side));
        if (!pixels.isValid() || pixels.compressionAlgorithm() != QResource::NoCompression ||
            pixels.size() != qint64(side) * side * 4)
            return QIcon();
        const QImage image(pixels.data(), side, side, side * 4,
                           QImage::Format_ARGB32_Premultiplied);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

QIcon toolbarImageNamed(const QString &name)
{
    // A name is one plain word; anything else could reach outside the icon folder.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-]+$"));
    if (!plainName.match(name).hasMatch())
        return QIcon();
    // The toolbar's 32 pixels, and twice that for doubled displays.
    return drawnImage(QStringLiteral(":/toolbar/") + name, {32, 64});
}

QIcon applicationImage()
{
    // The sizes an X11 window's icon is given in.
    return drawnImage(QStringLiteral(":/icons/velmora-launcher"), {16, 32, 64, 128});
}
