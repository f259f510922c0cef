// Decoding of the server's output: chunk by chunk, as the reads deliver it.
#include "ProcessTestSupport.h"
#include "ServerRun.h"
#include "Utf8ChunkDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace ProcessTestSupport;

class TestServerRunDecode : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void chunks_data();
    void chunks();
    void sequenceSplitAtEveryByte_data();
    void sequenceSplitAtEveryByte();
    void runsDecodeIndependently();
    void binaryOutputThroughTerminal();
};

void TestServerRunDecode::chunks_data()
{
    QTest::addColumn<QByteArrayList>("input");
    QTest::addColumn<QStringList>("expected");

    QByteArray ascii;
    for (int c = 1; c < 128; ++c)
        ascii += char(c);
    QTest::newRow("every 7-bit byte unchanged")
        << QByteArrayList{ascii} << QStringList{QString::fromLatin1(ascii)};
    QTest::newRow("carriage returns and NUL kept")
        << QByteArrayList{QByteArray("a\r\n\0b\r", 6)}
        << QStringList{QString::fromLatin1("a\r\n\0b\r", 6)};
    QTest::newRow("empty chunk") << QByteArrayList{""} << QStringList{""};
    QTest::newRow("lone high byte between text")
        << QByteArrayList{QByteArray("ab\xff") + "cd"} << QStringList{u"ab\uFFFDcd"_qs};
    QTest::newRow("Latin-1 text") << QByteArrayList{"caf\xe9 ok"}
                                  << QStringList{u"caf\uFFFD ok"_qs};
    QTest::newRow("stray continuation byte")
        << QByteArrayList{"x\x80y"} << QStringList{u"x\uFFFDy"_qs};
    // Each byte of the cut sequence is replaced on its own; the text after it survives.
    QTest::newRow("truncated sequence before text")
        << QByteArrayList{QByteArray("\xe2\x82") + 'A'} << QStringList{u"\uFFFD\uFFFDA"_qs};
    QTest::newRow("valid multi-byte text")
        << QByteArrayList{"Serveur \xc3\xa0 Paris \xe6\x97\xa5 \xf0\x9f\x8e\xae"}
        << QStringList{u"Serveur \u00e0 Paris \u65e5 \U0001F3AE"_qs};
    QTest::newRow("leading byte order mark kept")
        << QByteArrayList{"\xef\xbb\xbfhi"} << QStringList{u"\uFEFFhi"_qs};
    QTest::newRow("split two-byte sequence")
        << QByteArrayList{"caf\xc3", "\xa9 x"} << QStringList{"caf", u"\u00e9 x"_qs};
    QTest::newRow("sequence cut by a 7-bit byte")
        << QByteArrayList{"a\xc3", "b"} << QStringList{"a", u"\uFFFDb"_qs};
    QTest::newRow("sequence cut by the end of output")
        << QByteArrayList{"x\xe6\x97", ""} << QStringList{"x", u"\uFFFD\uFFFD"_qs};
    QTest::newRow("sequence split over three chunks")
        << QByteArrayList{"\xf0", "\x9f\x8e", "\xae!"} << QStringList{"", "", u"\U0001F3AE!"_qs};
    QTest::newRow("four continuation bytes are not held back")
        << QByteArrayList{"\x80\x80\x80\x80", "z"}
        << QStringList{u"\uFFFD\uFFFD\uFFFD\uFFFD"_qs, "z"};
    QTest::newRow("bad bytes do not poison the next chunk")
        << QByteArrayList{"\xff\xfe", "plain"} << QStringList{u"\uFFFD\uFFFD"_qs, "plain"};
}

void TestServerRunDecode::chunks()
{
    QFETCH(QByteArrayList, input);
    QFETCH(QStringList, expected);
    // An empty chunk stands for the end of output, as a read of nothing does.
    Utf8ChunkDecoder decoder;
    QStringList got;
    for (const QByteArray &chunk : input)
        got << (chunk.isEmpty() ? decoder.finish() : decoder.decode(chunk));
    QCOMPARE(got, expected);
}

void TestServerRunDecode::sequenceSplitAtEveryByte_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("two bytes") << QByteArray("<\xc3\xa9>") << u"<\u00e9>"_qs;
    QTest::newRow("three bytes") << QByteArray("<\xe6\x97\xa5>") << u"<\u65e5>"_qs;
    QTest::newRow("four bytes") << QByteArray("<\xf0\x9f\x8e\xae>") << u"<\U0001F3AE>"_qs;
}

void TestServerRunDecode::sequenceSplitAtEveryByte()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    for (qsizetype cut = 1; cut < bytes.size(); ++cut) {
        Utf8ChunkDecoder decoder;
        QString joined = decoder.decode(bytes.left(cut));
        joined += decoder.decode(bytes.mid(cut));
        joined += decoder.finish();
        QVERIFY2(joined == text, qPrintable(QString::number(cut)));
        QVERIFY(!joined.contains(QChar::ReplacementCharacter));
    }
}

void TestServerRunDecode::runsDecodeIndependently()
{
    // A sequence left open in one run's stream must not join the next run's first bytes.
    Utf8ChunkDecoder stopped;
    Utf8ChunkDecoder next;
    QCOMPARE(stopped.decode("x\xc3"), QStringLiteral("x"));
    QCOMPARE(next.decode("\xa9y"), u"\uFFFDy"_qs);
    QCOMPARE(stopped.decode("\xa9"), u"\u00e9"_qs);
}

void TestServerRunDecode::binaryOutputThroughTerminal()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray path = QFile::encodeName(writeScript(
        dir.path(), "binary", "printf 'start caf\\303\\251 \\377\\376 mid \\200 end\\n'\n"));
    ServerRun run;
    RunLog log(&run);
    QVERIFY(run.start(path, {path}, "/") > 0);
    run.readInBackgroundAndNotify();
    QTRY_VERIFY_WITH_TIMEOUT(log.finishes == 1, Patience);
    QCOMPARE(log.text, u"start caf\u00e9 \uFFFD\uFFFD mid \uFFFD end\r\n"_qs);
}

QTEST_GUILESS_MAIN(TestServerRunDecode)
#include "tst_ServerRunDecode.moc"
