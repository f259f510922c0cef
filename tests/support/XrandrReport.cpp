#include "XrandrReport.h"

#include <QRegularExpression>

QList<XrandrReport::Output> XrandrReport::activeOutputs(const QByteArray &verboseText)
{
    // An output block starts at column 0 ("DUMMY0 connected primary 1920x1080+0+0 ..."); its
    // "CRTC:" line appears only when a CRTC drives it; its modes are "  name (0x..) ..." lines,
    // each followed by "h: width N ..." and "v: height N ...".
    static const QRegularExpression outputLine(
        QStringLiteral("^(\\S+) (connected|disconnected|unknown connection)"));
    static const QRegularExpression widthLine(QStringLiteral("^\\s+h: width\\s+(\\d+)"));
    static const QRegularExpression heightLine(QStringLiteral("^\\s+v: height\\s+(\\d+)"));

    struct Block
    {
        Output output;
        bool connected = false;
        bool driven = false;
    };
    QList<Block> blocks;
    qsizetype current = -1;
    int pendingWidth = -1;
    for (const QByteArray &raw : verboseText.split('\n')) {
        const QString line = QString::fromLocal8Bit(raw);
        if (const auto m = outputLine.match(line); m.hasMatch()) {
            blocks.append(Block{Output{m.captured(1), {}}, m.captured(2) == "connected", false});
            current = blocks.size() - 1;
            pendingWidth = -1;
            continue;
        }
        if (line.isEmpty())
            continue;
        if (!line.front().isSpace()) {
            current = -1; // "Screen N: ..." ends the output before it
            continue;
        }
        if (current < 0)
            continue;
        Block &block = blocks[current];
        if (line.trimmed().startsWith(QLatin1String("CRTC:"))) {
            block.driven = true;
        } else if (const auto w = widthLine.match(line); w.hasMatch()) {
            pendingWidth = w.captured(1).toInt();
        } else if (const auto h = heightLine.match(line); h.hasMatch() && pendingWidth >= 0) {
            block.output.modes.append(QSize(pendingWidth, h.captured(1).toInt()));
            pendingWidth = -1;
        }
    }
    QList<Output> active;
    for (const Block &block : blocks) {
        if (block.connected && block.driven)
            active.append(block.output);
    }
    return active;
}
