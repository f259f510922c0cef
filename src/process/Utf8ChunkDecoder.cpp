#include "Utf8ChunkDecoder.h"

#include <utility>

namespace {

// Length of a multi-byte sequence at the end of `bytes` that has begun but is not complete.
qsizetype incompleteTailLength(const QByteArray &bytes)
{
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto c = static_cast<unsigned char>(bytes.at(size - back));
        if ((c & 0xC0) == 0x80)
            continue;
        const qsizetype length = (c & 0xE0) == 0xC0   ? 2
                                 : (c & 0xF0) == 0xE0 ? 3
                                 : (c & 0xF8) == 0xF0 ? 4
                                                      : 1;
        return length > back ? back : 0;
    }
    return 0;
}

} // namespace

Utf8ChunkDecoder::Utf8ChunkDecoder()
    : m_decoder(QStringDecoder::Utf8,
                QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom)
{}

QString Utf8ChunkDecoder::decode(const QByteArray &chunk)
{
    // The carry-over is kept here rather than in the decoder's own state: a stateful decoder
    // that finds the held sequence broken by the next chunk drops that chunk's first byte.
    if (chunk.isEmpty())
        return QString();
    QByteArray bytes = m_heldBack.isEmpty() ? chunk : m_heldBack + chunk;
    const qsizetype keep = incompleteTailLength(bytes);
    m_heldBack = bytes.right(keep);
    bytes.chop(keep);
    return m_decoder.decode(bytes);
}

QString Utf8ChunkDecoder::finish()
{
    return m_decoder.decode(std::exchange(m_heldBack, QByteArray()));
}
