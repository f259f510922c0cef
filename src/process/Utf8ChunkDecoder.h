#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

// UTF-8 decoding of one stream that arrives in consecutive chunks: a sequence split across two
// chunks is held back and decoded whole with the next one; invalid bytes become U+FFFD. finish()
// flushes a sequence still held back (as U+FFFD), as at the end of the stream.
class Utf8ChunkDecoder
{
public:
    Utf8ChunkDecoder();

    QString decode(const QByteArray &chunk);
    QString finish();

private:
    QStringDecoder m_decoder;
    QByteArray m_heldBack;
};
