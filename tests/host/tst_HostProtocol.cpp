// The host's protocol at its own layer: frames, fields, versions and what is refused.
#include "HostProtocol.h"

#include <QTest>
#include <QtEndian>

using namespace HostProtocol;

Q_DECLARE_METATYPE(HostProtocol::Message)

namespace {

QByteArray u32(quint32 value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A frame's body: the type, then the fields.
QByteArray body(Type type, const QByteArray &fields)
{
    return char(type) + fields;
}

QByteArray text(const QByteArray &utf8)
{
    return u32(quint32(utf8.size())) + utf8;
}

QByteArray span(quint32 start, quint32 length)
{
    return u32(start) + u32(length) + char(1) + u32(0xffcd0000);
}

// Every frame that `stream` holds, fed in pieces of `piece` bytes.
QList<QByteArray> framesOf(const QByteArray &stream, qsizetype piece, FrameReader &reader)
{
    QList<QByteArray> bodies;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        reader.feed(QByteArrayView(stream).sliced(at, std::min(piece, stream.size() - at)));
        while (const std::optional<QByteArray> body = reader.next())
            bodies << *body;
    }
    return bodies;
}

} // namespace

class HostProtocolTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void refused_data();
    void refused();
    void streamCut_data();
    void streamCut();
    void outputSplit_data();
    void outputSplit();
};

void HostProtocolTest::roundTrip_data()
{
    QTest::addColumn<Message>("message");
    const State state{true, 42, 1765000000000, 3, "exited", "/l/ä.log", "/l", 7, "detached"};
    const StyleSpans spans{{0, 3, {true, 0xffcd0000, false}}, {4, 2, {false, 0, true}}};
    QTest::newRow("hello") << Message(Hello{Version, true});
    QTest::newRow("error") << Message(Error{"nein"});
    QTest::newRow("state") << Message(state);
    QTest::newRow("history row") << Message(HistoryRow{"red ok", spans});
    QTest::newRow("history end") << Message(HistoryEnd{true, 9});
    QTest::newRow("output") << Message(Output{5, {"red ok\nnext", spans}});
    QTest::newRow("end of output") << Message(EndOutput{5});
    QTest::newRow("line") << Message(Line{QStringLiteral("Server ready. 🎲")});
    QTest::newRow("command") << Message(Command{7, 32767, "say hi"});
    QTest::newRow("command result") << Message(CommandResult{7, false, "why"});
    QTest::newRow("stop") << Message(Stop{});
    QTest::newRow("flush log") << Message(FlushLog{"/l/a.log"});
}

void HostProtocolTest::roundTrip()
{
    QFETCH(Message, message);
    const QByteArray encoded = encode(message);
    // Two of it in one stream, fed a byte, a few bytes and all at once.
    for (qsizetype piece : {qsizetype(1), qsizetype(5), encoded.size() * 2}) {
        FrameReader reader;
        const QList<QByteArray> bodies = framesOf(encoded + encoded, piece, reader);
        QVERIFY(bodies.size() == 2 && !reader.hasPartialFrame());
        const Decoded decoded = decode(bodies.last());
        QCOMPARE(decoded.result, Parse::Ok);
        QCOMPARE(decoded.message.index(), message.index());
        QCOMPARE(encode(decoded.message), encoded);
    }
}

void HostProtocolTest::refused_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<Parse>("result");
    const QByteArray version = QByteArray(1, '\0') + char(1) + char(1);
    const QByteArray row = text("ab\ncd");
    QTest::newRow("hello") << body(Type::Hello, text(Magic) + version) << Parse::Ok;
    QTest::newRow("hello of another program")
        << body(Type::Hello, text("other") + version) << Parse::Malformed;
    QTest::newRow("later version's extra fields")
        << body(Type::Hello, text(Magic) + version + "more") << Parse::Ok;
    QTest::newRow("unknown message") << body(Type(200), "whatever") << Parse::Unknown;
    QTest::newRow("no type") << QByteArray() << Parse::Malformed;
    QTest::newRow("field cut short")
        << body(Type::EndOutput, QByteArray(2, '\0')) << Parse::Malformed;
    QTest::newRow("text longer than the frame")
        << body(Type::Line, u32(10) + "abc") << Parse::Malformed;
    QTest::newRow("span past the text")
        << body(Type::HistoryRow, row + u32(1) + span(3, 3)) << Parse::Malformed;
    QTest::newRow("span over a line feed")
        << body(Type::HistoryRow, row + u32(1) + span(1, 2)) << Parse::Malformed;
    QTest::newRow("spans overlapping")
        << body(Type::HistoryRow, row + u32(2) + span(0, 2) + span(1, 1)) << Parse::Malformed;
    QTest::newRow("empty span") << body(Type::HistoryRow, row + u32(1) + span(0, 0))
                                << Parse::Malformed;
    QTest::newRow("span count beyond the frame")
        << body(Type::HistoryRow, row + u32(0x10000000)) << Parse::Malformed;
}

void HostProtocolTest::refused()
{
    QFETCH(QByteArray, body);
    QFETCH(Parse, result);
    QCOMPARE(decode(body).result, result);
}

void HostProtocolTest::streamCut_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<int>("frames");
    QTest::addColumn<bool>("partial");
    QTest::addColumn<bool>("oversized");
    const QByteArray stop = encode(Stop{});
    QTest::newRow("whole") << stop + stop << 2 << false << false;
    QTest::newRow("cut in the header") << stop + stop.left(2) << 1 << true << false;
    QTest::newRow("cut in the body") << stop + encode(Line{"abc"}).chopped(1) << 1 << true << false;
    QTest::newRow("announces more than allowed")
        << stop + u32(quint32(MaxFrame) + 1) + "x" + stop << 1 << false << true;
    QTest::newRow("announces the most allowed")
        << stop + u32(quint32(MaxFrame)) + "x" << 1 << true << false;
    QTest::newRow("announces nothing") << stop + u32(0) + stop << 1 << false << true;
}

void HostProtocolTest::streamCut()
{
    QFETCH(QByteArray, stream);
    QFETCH(int, frames);
    QFETCH(bool, partial);
    QFETCH(bool, oversized);
    FrameReader reader;
    QCOMPARE(framesOf(stream, 3, reader).size(), frames);
    QCOMPARE(reader.hasPartialFrame(), partial);
    QCOMPARE(reader.status() == FrameReader::Status::Oversized, oversized);
}

void HostProtocolTest::outputSplit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<StyleSpans>("spans");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("styled"); // the styled characters, the same after the cut
    QTest::newRow("span across the cut")
        << QStringLiteral("abcdefg") << StyleSpans{{2, 4, {true, 0xffcd0000, false}}}
        << QStringList{"abc", "def", "g"} << QStringLiteral("cdef");
    QTest::newRow("surrogate pair kept whole")
        << QStringLiteral("ab🎲cd") << StyleSpans{} << QStringList{"ab", QStringLiteral("🎲c"), "d"}
        << QString();
}

void HostProtocolTest::outputSplit()
{
    QFETCH(QString, text);
    QFETCH(StyleSpans, spans);
    QFETCH(QStringList, pieces);
    QFETCH(QString, styled);
    QStringList texts;
    QString styledAfter;
    for (const StyledText &piece : splitOutput({text, spans}, 3)) {
        texts << piece.text;
        for (const StyleSpan &span : piece.spans)
            styledAfter += piece.text.mid(span.start, span.length);
    }
    QCOMPARE(texts, pieces);
    QCOMPARE(styledAfter, styled);
}

QTEST_GUILESS_MAIN(HostProtocolTest)
#include "tst_HostProtocol.moc"
