// Draws an SVG image at fixed sizes through Qt's own icon engine, so that the files hold exactly
// what the application would draw from the SVG at run time. Used by the build: the launcher ships
// these pixels and so loads no icon-engine or image-format plugin, parses no SVG and decodes no
// image at start-up. Each file is the bare pixels, row by row, as premultiplied 32-bit ARGB words
// in this machine's byte order (QImage::Format_ARGB32_Premultiplied): the format a pixmap holds on
// this machine, so that making one from them converts nothing. The build runs this tool where the
// launcher is built, and so writes the byte order the launcher reads.
// Usage: velmora-render-icon <image.svg> <output prefix> <size>...  (writes <prefix>-<size>.argb)
// Run it on the offscreen platform (QT_QPA_PLATFORM=offscreen), where one pixel is one pixel.

#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QGuiApplication::arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: velmora-render-icon <image.svg> <output prefix> <size>...\n");
        return 2;
    }
    const QIcon icon(args.at(1));
    if (icon.isNull()) {
        std::fprintf(stderr, "velmora-render-icon: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    for (qsizetype i = 3; i < args.size(); ++i) {
        bool ok = false;
        const int side = args.at(i).toInt(&ok);
        const QString out = QStringLiteral("%1-%2.argb").arg(args.at(2), args.at(i));
        const QImage image = ok && side > 0
                                 ? icon.pixmap(QSize(side, side))
                                       .toImage()
                                       .convertToFormat(QImage::Format_ARGB32_Premultiplied)
                                 : QImage();
        QFile file(out);
        bool written = image.size() == QSize(side, side) && file.open(QIODevice::WriteOnly);
        for (int y = 0; written && y < side; ++y) {
            const auto *row = reinterpret_cast<const char *>(image.constScanLine(y));
            written = file.write(row, qint64(side) * 4) == qint64(side) * 4;
        }
        if (!written || !file.flush()) {
            std::fprintf(stderr, "velmora-render-icon: cannot write %s\n", qPrintable(out));
            return 1;
        }
    }
    return 0;
}
