#include "ConsoleModel.h"
#include "ConsoleSelection.h"
#include "EscapeParser.h"
#include "RowGeometry.h"
#include "Utf8ChunkDecoder.h"

#include <QtTest>

#include <functional>

Q_DECLARE_METATYPE(ConsoleModel::Redraw)

namespace {

constexpr float ViewportHeight = 120.0f; // ten rows

// The parser's output as one string: each run of styled text as «colour:text», «b:text» or
// «colourb:text», colour in hex; neighbouring spans of one style read as one.
QString render(const StyledText &styled)
{
    QString out;
    int at = 0;
    const StyleSpans &spans = styled.spans;
    for (int i = 0; i < spans.size();) {
        const StyleSpan &span = spans[i];
        int end = span.start + span.length;
        int next = i + 1;
        while (next < spans.size() && spans[next].start == end && spans[next].style == span.style)
            end += spans[next++].length;
        out += styled.text.mid(at, span.start - at);
        QString key =
            span.style.hasColour
                ? QString::number(span.style.colour & 0xffffff, 16).rightJustified(6, u'0')
                : QString();
        if (span.style.bold)
            key += u'b';
        out += QStringLiteral("\u00ab%1:%2\u00bb")
                   .arg(key, styled.text.mid(span.start, end - span.start));
        at = end;
        i = next;
    }
    return out + styled.text.mid(at);
}

// Appends `more` to `into`, as one longer output.
void append(StyledText &into, const StyledText &more)
{
    const int offset = int(into.text.size());
    into.text += more.text;
    for (StyleSpan span : more.spans) {
        span.start += offset;
        into.spans.append(span);
    }
}

void fill(ConsoleModel &model, int count)
{
    for (int i = 0; i < count; ++i)
        model.appendLine(QString::number(i));
}

} // namespace

class TestConsoleModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bufferKeepsNewest201_data();
    void bufferKeepsNewest201();
    void appendTextSplitsAtLineFeeds_data();
    void appendTextSplitsAtLineFeeds();
    void appendLineKeepsEmptyLine();
    void wholeLinesWhereverReadsFall_data();
    void wholeLinesWhereverReadsFall();
    void textMatchesLineByLine_data();
    void textMatchesLineByLine();
    void growingRowRedrawsItAlone();
    void ownLinesAndSourcesStartRows();
    void endlessRowIsCut_data();
    void endlessRowIsCut();
    void scrollingAndRedisplay_data();
    void scrollingAndRedisplay();
    void scrollToEndAloneMovesNothing();
    void deleteThenAppend();
    void rowRange_data();
    void rowRange();
    void scrollRectToVisible_data();
    void scrollRectToVisible();
    void pendingWorkIsGatheredAcrossAppends();
    void unseenRows_data();
    void unseenRows();
    void frameWidth_data();
    void frameWidth();
    void escapesSplitAnywhere_data();
    void escapesSplitAnywhere();
    void escapeStateEndsWithStream();
    void palette_data();
    void palette();
    void spansFollowTheirLines();
    void selectionText_data();
    void selectionText();
    void selectWord_data();
    void selectWord();
    void selectionFollowsItsText();
    void selectionOffsets_data();
    void selectionOffsets();
    void pieceEnds_data();
    void pieceEnds();
    void visibleSlice_data();
    void visibleSlice();
};

void TestConsoleModel::bufferKeepsNewest201_data()
{
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("first");
    QTest::addColumn<bool>("chopRedrawsWhole");

    QTest::newRow("200 lines: nothing dropped") << 200 << 201 << "0" << false;
    QTest::newRow("201 lines: oldest dropped") << 201 << 201 << "1" << true;
    QTest::newRow("long run wraps the ring") << 1000 << 201 << "800" << true;
}

void TestConsoleModel::bufferKeepsNewest201()
{
    QFETCH(int, before);
    QFETCH(int, count);
    QFETCH(QString, first);
    QFETCH(bool, chopRedrawsWhole);

    ConsoleModel model; // no viewport: nothing scrolls, so the redisplay shows the chop
    fill(model, before);
    model.appendLine(QStringLiteral("new"));

    QCOMPARE(model.lineCount(), count);
    QCOMPARE(model.line(0), first);
    QCOMPARE(model.line(count - 1), QStringLiteral("new"));
    QCOMPARE(model.lines().size(), count);
    QCOMPARE(model.lines().first(), first);
    QCOMPARE(model.frame(), QRectF(0, 0, 500, 12.0 * count));
    QCOMPARE(model.lastRedraw(),
             chopRedrawsWhole ? ConsoleModel::Redraw::Whole : ConsoleModel::Redraw::Row);
}

void TestConsoleModel::appendTextSplitsAtLineFeeds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("separator line") << "\n \n" << QStringList{" "};
    QTest::newRow("two feeds in a row") << "a\n\nb" << QStringList{"a", "b"};
    QTest::newRow("no line feed") << "abc" << QStringList{"abc"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("null") << QString() << QStringList{};
    QTest::newRow("only feeds") << "\n\n\n" << QStringList{};
    QTest::newRow("carriage returns kept") << "x\r\ny\r\n" << QStringList{"x\r", "y\r"};
    QTest::newRow("lone carriage return") << "a\n\r\nb" << QStringList{"a", "\r", "b"};
}

void TestConsoleModel::appendTextSplitsAtLineFeeds()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);

    ConsoleModel model;
    model.appendText(text);
    QCOMPARE(model.lines(), lines);
    // A launcher line is a row of its own, even after a text without its line feed.
    model.appendLine(QStringLiteral("tail"));
    QCOMPARE(model.line(model.lineCount() - 1), QStringLiteral("tail"));
    QCOMPARE(model.lineCount(), lines.size() + 1);
}

void TestConsoleModel::appendLineKeepsEmptyLine()
{
    ConsoleModel model;
    model.appendLine(QString());
    model.appendLine(QStringLiteral(""));
    QCOMPARE(model.lineCount(), 2);
    QCOMPARE(model.frame(), QRectF(0, 0, 500, 24));
    QCOMPARE(model.lastRedrawRect(), QRectF(0, 12, 500, 12));
}

// The same output gives the same rows however the reads cut it: every cut into two pieces at each
// byte, and one piece per byte, decoded as the server's reads are. Characters cut by a read are
// tst_ServerRunDecode's.
void TestConsoleModel::wholeLinesWhereverReadsFall_data()
{
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("open"); // the last row still waits for its line feed

    QTest::newRow("terminal lines")
        << QByteArray("alpha\r\nbeta\r\n") << QStringList{"alpha\r", "beta\r"} << false;
    QTest::newRow("unfinished last line")
        << QByteArray("one\ntwo") << QStringList{"one", "two"} << true;
    QTest::newRow("empty lines add nothing")
        << QByteArray("\na\n\n\nb\n\n") << QStringList{"a", "b"} << false;
    QTest::newRow("lone carriage return")
        << QByteArray("a\n\r\nb") << QStringList{"a", "\r", "b"} << true;
    QTest::newRow("only line feeds") << QByteArray("\n\n\n") << QStringList{} << false;
    // A carriage return returns to the start of the row; what follows overwrites it.
    QTest::newRow("progress redrawn in place")
        << QByteArray("10%\r20%\r30%\n") << QStringList{"30%"} << false;
    QTest::newRow("overwriting keeps the rest of the row")
        << QByteArray("loading 99%\rdone\n") << QStringList{"doneing 99%"} << false;
    QTest::newRow("progress row stays open")
        << QByteArray("a\n40%\r41%\r") << QStringList{"a", "41%"} << true;
    QTest::newRow("CR LF and CR CR LF end lines")
        << QByteArray("x\r\ny\r\r\n\rz") << QStringList{"x\r", "y\r", "z"} << true;
    QTest::newRow("overwriting leaves no half character") << QByteArray("\xf0\x9d\x84\x9e"
                                                                        "b\rx\ne\xcc\x81z\ry\n")
                                                          << QStringList{"xb", "yz"} << false;

    // Past 201 rows: the oldest go, counted in rows; some rows are redrawn on the way.
    QByteArray many;
    QStringList kept;
    for (int i = 0; i < 230; ++i) {
        const QByteArray line = "row " + QByteArray::number(i);
        many += (i % 5 ? "" : "#\r") + line + (i % 3 ? "\r\n" : "\n\n");
        if (i >= 29)
            kept << QString::fromLatin1(line) + (i % 3 ? "\r" : "");
    }
    QTest::newRow("more rows than kept") << many << kept << false;
}

void TestConsoleModel::wholeLinesWhereverReadsFall()
{
    QFETCH(QByteArray, output);
    QFETCH(QStringList, rows);
    QFETCH(bool, open);

    // Two rows of viewport, so following scrolls with every new row; the same rules run for the
    // reader scrolled back to the top.
    const auto feed = [](bool follow, const QByteArrayList &reads) {
        auto model = std::make_unique<ConsoleModel>();
        model->setViewport(0.0f, 24.0f);
        model->scrollToEnd(follow);
        Utf8ChunkDecoder decoder;
        for (const QByteArray &read : reads)
            model->appendText(decoder.decode(read));
        return model;
    };
    for (const bool follow : {true, false}) {
        const auto whole = feed(follow, {output});
        QCOMPARE(whole->lines(), rows);
        QCOMPARE(whole->hasOpenRow(), open);
        QCOMPARE(whole->frame().height(), 12.0 * rows.size());

        QList<QByteArrayList> cuts;
        for (qsizetype at = 1; at < output.size(); ++at)
            cuts << QByteArrayList{output.left(at), output.mid(at)};
        QByteArrayList bytes;
        for (const char c : output)
            bytes << QByteArray(1, c);
        cuts << bytes;
        for (const QByteArrayList &reads : cuts) {
            const auto cut = feed(follow, reads);
            const QString where = QStringLiteral("first read %1 bytes of %2, following %3")
                                      .arg(reads.first().size())
                                      .arg(reads.size())
                                      .arg(follow);
            QVERIFY2(cut->lines() == rows, qPrintable(where));
            QVERIFY2(cut->hasOpenRow() == open, qPrintable(where));
            QVERIFY2(cut->firstSequence() == whole->firstSequence(), qPrintable(where));
            QVERIFY2(cut->viewportTop() == whole->viewportTop(), qPrintable(where));
            QVERIFY2(cut->frame() == whole->frame(), qPrintable(where));
        }
    }
}

// Many rows in one text leave exactly the state that appending them one by one leaves, even
// though the rows pushed out within the text are never kept.
void TestConsoleModel::textMatchesLineByLine_data()
{
    QTest::addColumn<bool>("viewport");
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("before");
    QTest::addColumn<float>("top");
    QTest::addColumn<int>("count");

    QTest::newRow("following, a few") << true << true << 0 << 0.f << 5;
    QTest::newRow("following, a flood") << true << true << 0 << 0.f << 1000;
    QTest::newRow("following, crossing 201") << true << true << 150 << 0.f << 100;
    QTest::newRow("following from higher up") << true << true << 201 << 600.f << 300;
    QTest::newRow("not following, scrolled back") << true << false << 50 << 120.f << 1000;
    QTest::newRow("not following, top cuts a row") << true << false << 120 << 125.f << 500;
    QTest::newRow("not following at the end") << true << false << 201 << 2292.f << 30;
    QTest::newRow("not following at the top") << true << false << 201 << 0.f << 2000;
    QTest::newRow("no viewport") << false << false << 10 << 0.f << 1000;
}

void TestConsoleModel::textMatchesLineByLine()
{
    QFETCH(bool, viewport);
    QFETCH(bool, follow);
    QFETCH(int, before);
    QFETCH(float, top);
    QFETCH(int, count);

    ConsoleModel batched;
    ConsoleModel single;
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("line %1\r\n").arg(i);
    for (ConsoleModel *model : {&batched, &single}) {
        if (viewport)
            model->setViewport(0.0f, ViewportHeight);
        model->scrollToEnd(true);
        fill(*model, before);
        model->setViewportTop(top);
        model->scrollToEnd(follow);
        model->takePending();
    }
    batched.appendText(text);
    for (int i = 0; i < count; ++i)
        single.appendLine(QStringLiteral("line %1\r").arg(i));

    QCOMPARE(batched.lines(), single.lines());
    QCOMPARE(batched.firstSequence(), single.firstSequence());
    QCOMPARE(batched.frame(), single.frame());
    QCOMPARE(batched.viewportTop(), single.viewportTop());
    QCOMPARE(batched.lastRedraw(), single.lastRedraw());
    QCOMPARE(batched.lastRedrawRect(), single.lastRedrawRect());
    QCOMPARE(batched.lastScrolled(), single.lastScrolled());
    QCOMPARE(batched.unseenRows(), single.unseenRows());
    const ConsoleModel::Pending a = batched.takePending();
    const ConsoleModel::Pending b = single.takePending();
    QCOMPARE(a.frameChanged, b.frameChanged);
    QCOMPARE(a.scrolled, b.scrolled);
    QCOMPARE(a.linesChanged, b.linesChanged);
    QCOMPARE(a.wholeView, b.wholeView);
    QCOMPARE(a.dirty, b.dirty);
}

void TestConsoleModel::growingRowRedrawsItAlone()
{
    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    model.scrollToEnd(true);
    model.appendText(u"first\nsecond\nthi");
    QCOMPARE(model.lines(), (QStringList{"first", "second", "thi"}));
    model.takePending();

    model.appendText(u"rd pa");
    model.appendText(u"rt");
    const quint64 second = model.revision(1);
    model.appendText(u"\rTHIRD");
    QCOMPARE(model.lines(), (QStringList{"first", "second", "THIRD part"}));
    QCOMPARE(model.revision(1), second); // what a painter measured of it still holds
    QCOMPARE(model.lastRedraw(), ConsoleModel::Redraw::Row);
    QCOMPARE(model.lastRedrawRect(), QRectF(0, 24, 500, 12));
    QVERIFY(!model.lastScrolled());
    ConsoleModel::Pending work = model.takePending();
    QCOMPARE(work.dirty, QRectF(0, 24, 500, 12));
    QVERIFY(!work.frameChanged && !work.scrolled && !work.wholeView);
    QVERIFY(work.linesChanged);

    // Its line feed alone changes nothing on screen; the next line is a new row.
    model.appendText(u"\n");
    QVERIFY(!model.hasPending());
    QVERIFY(!model.hasOpenRow());
    model.appendText(u"fourth");
    QCOMPARE(model.lineCount(), 4);
    QCOMPARE(model.lastRedrawRect(), QRectF(0, 36, 500, 12));
}

void TestConsoleModel::ownLinesAndSourcesStartRows()
{
    ConsoleModel model;
    model.appendText(u"serving", 1);
    model.appendLine(QStringLiteral("Error - can't launch server"), ConsoleModel::RowKind::Note,
                     QTime(14, 3, 22));
    model.appendText(u" on\n", 1);
    // A stopped run still draining and a new one: each row holds one source's text.
    model.appendText(u"old tail ", 1);
    model.appendText(u"new banner ", 2);
    model.appendText(u"continued\n", 1);
    model.appendText(u"goes on\n", 2);
    // A source that has ended does not grow its row again; a text with the same tag is new.
    model.appendText(u"last words", 3);
    model.endText(2); // someone else's end leaves the row open
    QVERIFY(model.hasOpenRow());
    model.endText(3);
    QVERIFY(!model.hasOpenRow());
    model.appendText(u"reused tag", 3);
    model.appendText(u"\n \n"); // the separator after a row left open
    QCOMPARE(model.lines(),
             (QStringList{"serving", "Error - can't launch server", " on", "old tail ",
                          "new banner ", "continued", "goes on", "last words", "reused tag", " "}));
    QCOMPARE(model.kind(1), ConsoleModel::RowKind::Note);
    QCOMPARE(model.time(1), QTime(14, 3, 22));
    QCOMPARE(model.kind(2), ConsoleModel::RowKind::Output); // the run's text goes on as output

    model.appendText(u"before clear", 1);
    model.deleteLines();
    model.appendText(u" after\n", 1);
    QCOMPARE(model.lines(), QStringList{" after"});
}

void TestConsoleModel::endlessRowIsCut_data()
{
    const qsizetype max = ConsoleModel::MaxRowLength;
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QList<qsizetype>>("lengths");

    const QString a = QString(max, u'a');
    QTest::newRow("one long text") << QStringList{a + "tail\n"} << QList<qsizetype>{max, 4};
    QTest::newRow("grown in pieces")
        << QStringList{a.left(40000), a.mid(40000) + "xy", "z\n"} << QList<qsizetype>{max, 3};
    QTest::newRow("exactly full, then its line feed")
        << QStringList{a, "\n", "next"} << QList<qsizetype>{max, 4};
    QTest::newRow("full row, then more") << QStringList{a, "b"} << QList<qsizetype>{max, 1};
    const QString clef = u"\U0001D11E"_qs;
    QTest::newRow("surrogate pair kept whole")
        << QStringList{a.left(max - 1) + clef + "\n"} << QList<qsizetype>{max - 1, 2};
    QTest::newRow("three rows") << QStringList{a + a + "c"} << QList<qsizetype>{max, max, 1};
}

void TestConsoleModel::endlessRowIsCut()
{
    QFETCH(QStringList, pieces);
    QFETCH(QList<qsizetype>, lengths);

    ConsoleModel model;
    QString all;
    for (const QString &piece : pieces) {
        model.appendText(piece);
        all += piece;
    }
    QList<qsizetype> got;
    for (const QString &row : model.lines())
        got << row.size();
    QCOMPARE(got, lengths);
    // Nothing is lost: the rows are the text without its line feeds.
    QCOMPARE(model.lines().join(QString()), QString(all).remove(u'\n'));
}

void TestConsoleModel::scrollingAndRedisplay_data()
{
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("before");
    QTest::addColumn<float>("top");
    QTest::addColumn<float>("expectedTop");
    QTest::addColumn<bool>("scrolled");
    QTest::addColumn<ConsoleModel::Redraw>("redraw");
    QTest::addColumn<QRectF>("redrawRect");

    using R = ConsoleModel::Redraw;
    const QRectF none;
    QTest::newRow("following, all lines fit")
        << true << 3 << 0.f << 0.f << false << R::Row << QRectF(0, 36, 500, 12);
    QTest::newRow("following, first overflow")
        << true << 10 << 0.f << 12.f << true << R::None << none;
    QTest::newRow("following at the end")
        << true << 20 << 120.f << 132.f << true << R::None << none;
    QTest::newRow("following from higher up")
        << true << 50 << 0.f << 492.f << true << R::None << none;
    QTest::newRow("following at 201 lines")
        << true << 201 << 2292.f << 2292.f << false << R::Whole << none;
    QTest::newRow("not following, top on row edge")
        << false << 50 << 120.f << 120.f << false << R::Row << QRectF(0, 600, 500, 12);
    QTest::newRow("not following, top cuts a row")
        << false << 50 << 125.f << 120.f << true << R::None << none;
    QTest::newRow("not following, all lines fit")
        << false << 3 << 0.f << 0.f << false << R::Row << QRectF(0, 36, 500, 12);
    QTest::newRow("chop, not following, top 120")
        << false << 201 << 120.f << 108.f << true << R::None << none;
    QTest::newRow("chop, not following, top 0")
        << false << 201 << 0.f << 0.f << false << R::Whole << none;
    QTest::newRow("chop, not following, top inside row 0")
        << false << 201 << 5.f << 0.f << true << R::None << none;
}

void TestConsoleModel::scrollingAndRedisplay()
{
    QFETCH(bool, follow);
    QFETCH(int, before);
    QFETCH(float, top);
    QFETCH(float, expectedTop);
    QFETCH(bool, scrolled);
    QFETCH(ConsoleModel::Redraw, redraw);
    QFETCH(QRectF, redrawRect);

    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    fill(model, before);
    model.setViewportTop(top);
    QCOMPARE(model.viewportTop(), top);
    model.scrollToEnd(follow);

    model.appendLine(QStringLiteral("new"));

    QCOMPARE(model.viewportTop(), expectedTop);
    QCOMPARE(model.visibleRect().y(), double(expectedTop));
    QCOMPARE(model.lastScrolled(), scrolled);
    QCOMPARE(model.lastRedraw(), redraw);
    QCOMPARE(model.lastRedrawRect(), redrawRect);
    QCOMPARE(model.endScroll(), follow);
}

void TestConsoleModel::scrollToEndAloneMovesNothing()
{
    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    fill(model, 50);
    model.setViewportTop(36.0f);
    model.takePending();
    model.scrollToEnd(true);
    QCOMPARE(model.viewportTop(), 36.0f);
    QVERIFY(!model.hasPending());
}

void TestConsoleModel::deleteThenAppend()
{
    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    model.scrollToEnd(true);
    fill(model, 50);
    QCOMPARE(model.viewportTop(), 480.0f);

    model.deleteLines();
    QCOMPARE(model.lineCount(), 0);
    QCOMPARE(model.frame(), QRectF(0, 0, 0, 0));
    QVERIFY(model.endScroll());
    QCOMPARE(model.lastRedraw(), ConsoleModel::Redraw::None);
    // The document is gone, so the viewport cannot stay below its top.
    QCOMPARE(model.viewportTop(), 0.0f);

    model.appendLine(QStringLiteral("again"));
    QCOMPARE(model.frame(), QRectF(0, 0, 500, 12));
    QCOMPARE(model.line(0), QStringLiteral("again"));
}

void TestConsoleModel::rowRange_data()
{
    QTest::addColumn<QRectF>("dirty");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("end");

    QTest::newRow("top row") << QRectF(0, 0, 500, 12) << 5 << 0 << 2;
    QTest::newRow("inside rows 2 and 3") << QRectF(0, 30, 500, 10) << 5 << 2 << 4;
    QTest::newRow("top row, one line") << QRectF(0, 0, 500, 12) << 1 << 0 << 1;
    QTest::newRow("empty buffer") << QRectF(0, 0, 500, 120) << 0 << 0 << 0;
    QTest::newRow("below the last row") << QRectF(0, 72, 500, 12) << 5 << 5 << 5;
    QTest::newRow("above the view") << QRectF(0, -20, 500, 30) << 5 << 0 << 1;
    QTest::newRow("far away") << QRectF(0, 1e30, 500, 12) << 5 << 5 << 5;
}

void TestConsoleModel::rowRange()
{
    QFETCH(QRectF, dirty);
    QFETCH(int, lines);
    QFETCH(int, first);
    QFETCH(int, end);
    QCOMPARE(ConsoleModel::rowRange(dirty, lines), std::make_pair(first, end));
}

void TestConsoleModel::scrollRectToVisible_data()
{
    QTest::addColumn<float>("top");
    QTest::addColumn<QRectF>("rect");
    QTest::addColumn<bool>("scrolled");
    QTest::addColumn<float>("expectedTop");

    QTest::newRow("inside") << 120.f << QRectF(0, 132, 500, 12) << false << 120.f;
    QTest::newRow("above: to the top edge") << 120.f << QRectF(0, 60, 500, 12) << true << 60.f;
    QTest::newRow("below: to the bottom edge") << 0.f << QRectF(0, 300, 500, 12) << true << 192.f;
    QTest::newRow("past the end: clamped") << 0.f << QRectF(0, 900, 500, 12) << true << 480.f;
    QTest::newRow("past the top: clamped") << 0.f << QRectF(0, -12, 500, 12) << false << 0.f;
}

void TestConsoleModel::scrollRectToVisible()
{
    QFETCH(float, top);
    QFETCH(QRectF, rect);
    QFETCH(bool, scrolled);
    QFETCH(float, expectedTop);

    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    fill(model, 50); // not following: the viewport stays at 0
    model.setViewportTop(top);
    QCOMPARE(model.scrollRectToVisible(rect), scrolled);
    QCOMPARE(model.viewportTop(), expectedTop);

    ConsoleModel unplaced;
    fill(unplaced, 50);
    QVERIFY(!unplaced.scrollRectToVisible(rect));
}

void TestConsoleModel::pendingWorkIsGatheredAcrossAppends()
{
    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    model.scrollToEnd(false);
    fill(model, 3); // rows 0..2 marked, nothing scrolls
    ConsoleModel::Pending work = model.takePending();
    QVERIFY(work.frameChanged);
    QVERIFY(!work.scrolled);
    QVERIFY(!work.wholeView);
    QCOMPARE(work.dirty, QRectF(0, 0, 500, 36));
    QVERIFY(!model.hasPending());

    fill(model, 198);
    model.setViewportTop(120.0f);
    model.takePending();
    model.appendLine(QStringLiteral("chops and scrolls"));
    QCOMPARE(model.lastRedraw(), ConsoleModel::Redraw::None);
    work = model.takePending();
    QVERIFY(work.scrolled);
    // Rows already on screen hold other text after a chop, even though the rules asked for no
    // redisplay of their own.
    QVERIFY(work.wholeView);
}

// Rows that arrive while the user reads older ones are counted until the view stands at the end
// again; `then` is what happens next: "" nothing, "top N" the user scrolls to N, "end" the user
// scrolls to the very end, "taller" the viewport grows over the whole document, "jump" the way
// back to the end, "clear" the console is cleared.
void TestConsoleModel::unseenRows_data()
{
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("before");
    QTest::addColumn<float>("top");
    QTest::addColumn<int>("appends");
    QTest::addColumn<int>("unseen");
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("after");

    QTest::newRow("following at the end") << true << 50 << 480.f << 5 << 0 << "" << 0;
    QTest::newRow("following from higher up") << true << 50 << 0.f << 1 << 0 << "" << 0;
    QTest::newRow("scrolled back") << false << 50 << 120.f << 5 << 5 << "" << 5;
    QTest::newRow("scrolled back, then nearly to the end")
        << false << 50 << 120.f << 5 << 5 << "top 530" << 5;
    QTest::newRow("scrolled back, then to the end") << false << 50 << 120.f << 5 << 5 << "end" << 0;
    QTest::newRow("not following, at the end: the next row is below")
        << false << 50 << 480.f << 1 << 1 << "" << 1;
    QTest::newRow("not following, everything fits") << false << 3 << 0.f << 4 << 0 << "" << 0;
    QTest::newRow("not following, filling the viewport")
        << false << 8 << 0.f << 4 << 2 << "taller" << 0;
    QTest::newRow("dropping the oldest rows") << false << 201 << 120.f << 10 << 10 << "jump" << 0;
    QTest::newRow("way back to the end") << false << 50 << 120.f << 3 << 3 << "jump" << 0;
    QTest::newRow("cleared") << false << 50 << 120.f << 3 << 3 << "clear" << 0;
}

void TestConsoleModel::unseenRows()
{
    QFETCH(bool, follow);
    QFETCH(int, before);
    QFETCH(float, top);
    QFETCH(int, appends);
    QFETCH(int, unseen);
    QFETCH(QString, then);
    QFETCH(int, after);

    ConsoleModel model;
    model.setViewport(0.0f, ViewportHeight);
    model.scrollToEnd(true);
    fill(model, before);
    model.setViewportTop(top);
    model.scrollToEnd(follow);
    QCOMPARE(model.unseenRows(), 0);
    for (int i = 0; i < appends; ++i)
        model.appendLine(QStringLiteral("new %1").arg(i));
    QCOMPARE(model.unseenRows(), unseen);

    const float end = std::max(0.0f, float(model.frame().height()) - ViewportHeight);
    if (then.startsWith(u"top "))
        model.setViewportTop(then.mid(4).toFloat());
    else if (then == u"end")
        model.setViewportTop(end);
    else if (then == u"taller")
        model.setViewportHeight(float(model.frame().height()));
    else if (then == u"jump")
        model.jumpToEnd();
    else if (then == u"clear")
        model.deleteLines();
    QCOMPARE(model.unseenRows(), after);

    if (then == u"jump") {
        // Following again, at the end, and the next row scrolls into view.
        QVERIFY(model.endScroll());
        QCOMPARE(model.viewportTop(), end);
        model.appendLine(QStringLiteral("next"));
        QCOMPARE(model.unseenRows(), 0);
        QCOMPARE(model.viewportTop() + ViewportHeight, float(model.frame().height()));
    } else {
        QCOMPARE(model.endScroll(), follow);
    }
}

// The frame is as wide as the widest row, rounded up to whole pixels, and never narrower than
// the console always was; cleared lines take their width with them.
void TestConsoleModel::frameWidth_data()
{
    QTest::addColumn<float>("content");
    QTest::addColumn<float>("width");

    QTest::newRow("narrower rows") << 321.5f << 500.f;
    QTest::newRow("a fraction more") << 500.25f << 501.f;
}

void TestConsoleModel::frameWidth()
{
    QFETCH(float, content);
    QFETCH(float, width);

    ConsoleModel model;
    fill(model, 3);
    model.setContentWidth(content);
    QCOMPARE(model.frame(), QRectF(0, 0, width, 36));
    model.appendLine(QStringLiteral("more"));
    QCOMPARE(model.frame(), QRectF(0, 0, width, 48));
    model.deleteLines();
    model.appendLine(QStringLiteral("again"));
    QCOMPARE(model.frame(), QRectF(0, 0, 500, 12));
}

void TestConsoleModel::escapesSplitAnywhere_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("shown");

    const QString esc(QChar(0x1b));
    auto e = [&esc](const char *rest) { return esc + QString::fromUtf8(rest); };

    QTest::newRow("plain") << "hello world"
                           << "hello world";
    QTest::newRow("non-ASCII and astral")
        << QString::fromUtf8("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80")
        << QString::fromUtf8("\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80");
    QTest::newRow("CRLF ends the line") << "a\r\nb\r\n"
                                        << "a\nb\n";
    QTest::newRow("lone CR passes, outside spans")
        << e("[31m50%\r51%") << QString::fromUtf8("\u00abcd0000:50%\u00bb\r\u00abcd0000:51%\u00bb");
    QTest::newRow("CR CR LF") << "x\r\r\n"
                              << "x\n";
    QTest::newRow("colour over three rows")
        << e("[31ma\nb\nc")
        << QString::fromUtf8("\u00abcd0000:a\u00bb\n\u00abcd0000:b\u00bb\n\u00abcd0000:c\u00bb");
    QTest::newRow("CR, erase, LF ends the line") << "a\r" + e("[K") + "\nb"
                                                 << "a\nb";
    QTest::newRow("CR, erase, text returns") << "a\r" + e("[K") + "b"
                                             << "a\rb";
    QTest::newRow("tab to column 8") << "a\tb"
                                     << "a       b";
    QTest::newRow("tab at a stop") << "12345678\tx"
                                   << "12345678        x";
    QTest::newRow("tab column restarts per line") << "abc\nd\te"
                                                  << "abc\nd       e";
    QTest::newRow("tab column restarts at a return") << "abc\r\tx"
                                                     << "abc\r        x";
    QTest::newRow("tab after astral character") << QString::fromUtf8("\xf0\x9f\x98\x80\tx")
                                                << QString::fromUtf8("\xf0\x9f\x98\x80       x");
    QTest::newRow("tab after escape counts shown columns")
        << e("[31mab\tc") << QString::fromUtf8("\u00abcd0000:ab      c\u00bb");
    QTest::newRow("control pictures")
        << QString::fromUtf8("\x07\x08\x7f\x01")
        << QString::fromUtf8("\xe2\x90\x87\xe2\x90\x88\xe2\x90\xa1\xe2\x90\x81");
    QTest::newRow("C1 control") << QString(QChar(0x9b)) + "x"
                                << QString(QChar::ReplacementCharacter) + "x";
    QTest::newRow("cursor and erase CSI") << e("[2K") + "line" + e("[1;1H") + e("[?25l") << "line";
    QTest::newRow("SGR basic then reset")
        << e("[31mred") + e("[0m plain") << QString::fromUtf8("\u00abcd0000:red\u00bb plain");
    QTest::newRow("empty SGR resets")
        << e("[32mg") + e("[mp") << QString::fromUtf8("\u00ab00cd00:g\u00bbp");
    QTest::newRow("bold basic is bright")
        << e("[1;32mok") + e("[m") << QString::fromUtf8("\u00ab00ff00:ok\u00bb");
    QTest::newRow("bold after colour is bright")
        << e("[34m") + e("[1mx") << QString::fromUtf8("\u00ab5c5cff:x\u00bb");
    QTest::newRow("bold default colour")
        << e("[1mB") + e("[22mn") << QString::fromUtf8("\u00abb:B\u00bbn");
    QTest::newRow("bold 256 colour keeps weight")
        << e("[1;38;5;21mx") << QString::fromUtf8("\u00ab0000ffb:x\u00bb");
    QTest::newRow("bright 90-97") << e("[94mx") + e("[97my")
                                  << QString::fromUtf8("\u00ab5c5cff:x\u00bb\u00abffffff:y\u00bb");
    QTest::newRow("256 colours, 39 resets colour")
        << e("[38;5;196mx") + e("[39my") << QString::fromUtf8("\u00abff0000:x\u00bby");
    QTest::newRow("256 grey ramp") << e("[38;5;244mx") << QString::fromUtf8("\u00ab808080:x\u00bb");
    QTest::newRow("truecolour") << e("[38;2;1;2;300mx")
                                << QString::fromUtf8("\u00ab0102ff:x\u00bb");
    QTest::newRow("colon separators")
        << e("[38:5:1mx") << QString::fromUtf8("\u00abcd0000:x\u00bb");
    QTest::newRow("background ignored, its arguments skipped")
        << e("[48;5;1;31mx") + e("[41my") + e("[48;2;9;9;9mz")
        << QString::fromUtf8("\u00abcd0000:xyz\u00bb");
    QTest::newRow("malformed extended colour") << e("[38;7;31mx") << "x";
    QTest::newRow("private SGR is not SGR") << e("[?31mx") + e("[>1mq") << "xq";
    QTest::newRow("colour carries across line feeds")
        << e("[31ma\nb") << QString::fromUtf8("\u00abcd0000:a\u00bb\n\u00abcd0000:b\u00bb");
    QTest::newRow("OSC ended by BEL") << e("]0;title\x07") + "text"
                                      << "text";
    QTest::newRow("OSC ended by ST")
        << e("]8;;http://x/") + e("\\link") + e("]8;;") + e("\\") << "link";
    QTest::newRow("DCS string") << e("Pq#0;2;0;0;0") + e("\\after") << "after";
    QTest::newRow("unterminated OSC ends at the line feed") << e("]0;oops\nafter") << "\nafter";
    QTest::newRow("charset designation and reset") << e("(Bplain") + e("[m") << "plain";
    QTest::newRow("two-character escapes") << e("7a") + e("8b") + e("=c") << "abc";
    QTest::newRow("ESC before a control shows")
        << e("\x01") << QString::fromUtf8("\xe2\x90\x9b\xe2\x90\x81");
    QTest::newRow("ESC before line feed vanishes") << "a" + e("\nb") << "a\nb";
    QTest::newRow("CAN cancels a CSI") << e("[31\x18x") << "x";
    QTest::newRow("control inside CSI still shows")
        << e("[3\x07"
             "1mx")
        << QString::fromUtf8("\xe2\x90\x87\u00abcd0000:x\u00bb");
    QTest::newRow("overlong parameters are ignored")
        << e("[") + QString(QStringLiteral("1;")).repeated(200) + "31mX"
        << "X";
    // Long enough for the scans that look at eight characters at a time, with every kind of
    // character on either side of their edges.
    QTest::newRow("long runs around every class")
        << QStringLiteral("0123456789\x1f"
                          "0123456789ab") +
               QChar(0x7f) + "cdefghi" + QChar(0x80) + "jklmnopqrstuvw" + QChar(0x9f) +
               QChar(0xa0) + QChar(0x7e) + " \nline two is long"
        << QStringLiteral("0123456789\u241f0123456789ab\u2421cdefghi\ufffdjklmnopqrstuvw\ufffd") +
               QChar(0xa0) + "~ \nline two is long";
    QTest::newRow("colour over long rows")
        << e("[31mrow one is long\nrow two is longer still\nthe last row of three")
        << QString::fromUtf8("\u00abcd0000:row one is long\u00bb\n\u00abcd0000:row two is longer "
                             "still\u00bb\n\u00abcd0000:the last row of three\u00bb");
    QTest::newRow("CSI interrupted by ESC")
        << e("[12") + e("[33mx") << QString::fromUtf8("\u00abcdcd00:x\u00bb");
}

void TestConsoleModel::escapesSplitAnywhere()
{
    QFETCH(QString, input);
    QFETCH(QString, shown);

    // Whole, cut in two at every position, and one character at a time: reads fall anywhere.
    for (int cut = 0; cut <= input.size(); ++cut) {
        EscapeParser parser;
        StyledText out = parser.feed(input.left(cut));
        append(out, parser.feed(input.mid(cut)));
        append(out, parser.finish());
        QVERIFY2(render(out) == shown,
                 qPrintable(QStringLiteral("cut at %1: %2").arg(cut).arg(render(out))));
        for (const StyleSpan &span : out.spans) {
            QVERIFY(span.length > 0);
            QVERIFY(!out.text.mid(span.start, span.length).contains(u'\n'));
            QVERIFY(!out.text.mid(span.start, span.length).contains(u'\r'));
        }
    }
    EscapeParser parser;
    StyledText out;
    for (const QChar c : input)
        append(out, parser.feed(QString(c)));
    append(out, parser.finish());
    QCOMPARE(render(out), shown);

    // Told that only the last row stays, the parser makes the same text and the same spans for
    // that row, and none for the rows before it.
    EscapeParser all;
    EscapeParser lastRow;
    const StyledText full = all.feed(input);
    const StyledText kept = lastRow.feed(input, 1);
    QCOMPARE(kept.text, full.text);
    qsizetype rowStart = 0;
    for (qsizetype lineFeeds = input.count(u'\n'); lineFeeds > 1; --lineFeeds)
        rowStart = full.text.indexOf(u'\n', rowStart) + 1;
    StyleSpans expected;
    for (const StyleSpan &span : full.spans) {
        if (span.start >= rowStart)
            expected.append(span);
    }
    QCOMPARE(kept.spans, expected);
    QCOMPARE(render(all.finish()), render(lastRow.finish()));
}

void TestConsoleModel::escapeStateEndsWithStream()
{
    const QString esc(QChar(0x1b));
    EscapeParser parser;
    // A sequence cut off by the end of the stream is dropped; a held carriage return goes out.
    QCOMPARE(render(parser.feed(QStringLiteral("x\r"))), QStringLiteral("x"));
    QCOMPARE(render(parser.finish()), QStringLiteral("\r"));
    QCOMPARE(render(parser.feed(esc + QStringLiteral("[31mred") + esc + QStringLiteral("]0;ti"))),
             QString::fromUtf8("\u00abcd0000:red\u00bb"));
    QCOMPARE(render(parser.finish()), QString());
    // Style and column start afresh.
    QCOMPARE(render(parser.feed(QStringLiteral("ab\tc"))), QStringLiteral("ab      c"));
}

void TestConsoleModel::palette_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("basic red") << 1 << qRgb(0xcd, 0, 0);
    QTest::newRow("bright white") << 15 << qRgb(0xff, 0xff, 0xff);
    QTest::newRow("cube start") << 16 << qRgb(0, 0, 0);
    QTest::newRow("cube middle") << 16 + 36 * 2 + 6 * 3 + 4 << qRgb(135, 175, 215);
    QTest::newRow("cube end") << 231 << qRgb(255, 255, 255);
    QTest::newRow("first grey") << 232 << qRgb(8, 8, 8);
    QTest::newRow("last grey") << 255 << qRgb(238, 238, 238);
}

void TestConsoleModel::palette()
{
    QFETCH(int, index);
    QFETCH(QRgb, colour);
    QCOMPARE(EscapeParser::paletteColour(index), colour);
}

void TestConsoleModel::spansFollowTheirLines()
{
    ConsoleModel model;
    const TextStyle red{true, qRgb(255, 0, 0), false};
    // "ab\ncd\n\nef": spans on "b", "cd" and "e"; the empty piece adds no line.
    model.appendText(QStringLiteral("ab\ncd\n\nef"), 0,
                     {StyleSpan{1, 1, red}, StyleSpan{3, 2, red}, StyleSpan{7, 1, red}});
    // The rest of the open row brings its spans along, moved behind what the row held.
    model.appendText(QStringLiteral("gh\n"), 0, {StyleSpan{1, 1, red}});
    QCOMPARE(model.lines(), (QStringList{"ab", "cd", "efgh"}));
    QCOMPARE(model.spans(0), (StyleSpans{StyleSpan{1, 1, red}}));
    QCOMPARE(model.spans(1), (StyleSpans{StyleSpan{0, 2, red}}));
    QCOMPARE(model.spans(2), (StyleSpans{StyleSpan{0, 1, red}, StyleSpan{3, 1, red}}));
    // A return overwrites text and spans alike; the rest of the row keeps its own.
    const TextStyle green{true, qRgb(0, 255, 0), false};
    model.appendText(QStringLiteral("abcdef"), 0, {StyleSpan{0, 6, red}});
    model.appendText(QStringLiteral("\rXY"), 0, {StyleSpan{2, 1, green}});
    QCOMPARE(model.line(3), QStringLiteral("XYcdef"));
    QCOMPARE(model.spans(3), (StyleSpans{StyleSpan{1, 1, green}, StyleSpan{2, 4, red}}));

    // More rows in one text than the buffer keeps: the survivors keep their own spans.
    QString many;
    StyleSpans manySpans;
    for (int i = 0; i < 250; ++i) {
        manySpans.append(StyleSpan{int(many.size()) + 1, 2, red});
        many += QStringLiteral("r%1\n").arg(i, 3, 10, QLatin1Char('0'));
    }
    model.appendText(many, 0, manySpans);
    QCOMPARE(model.line(ConsoleModel::MaxLines - 1), QStringLiteral("r249"));
    for (int i = 0; i < model.lineCount(); ++i)
        QCOMPARE(model.spans(i), (StyleSpans{StyleSpan{1, 2, red}}));

    // A plain line in a slot that held a styled one is plain again.
    fill(model, 201);
    for (int i = 0; i < model.lineCount(); ++i)
        QVERIFY(model.spans(i).isEmpty());
    model.appendText(QStringLiteral("x\n"), 0, {StyleSpan{0, 1, red}});
    model.deleteLines();
    model.appendLine(QStringLiteral("y"));
    QVERIFY(model.spans(0).isEmpty());
}

namespace {

// The lines the selection tests work on, as sequence numbers 0 to 3.
ConsoleModel selectionModel()
{
    ConsoleModel model;
    for (const char *line : {"alpha beta", "gamma_1 delta", "", "a--b end"})
        model.appendLine(QString::fromLatin1(line));
    return model;
}

} // namespace

void TestConsoleModel::selectionText_data()
{
    QTest::addColumn<int>("fromLine");
    QTest::addColumn<int>("fromColumn");
    QTest::addColumn<int>("toLine");
    QTest::addColumn<int>("toColumn");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("columns"); // per line: first-end, "+" when its break is selected

    QTest::newRow("within a line") << 0 << 1 << 0 << 4 << "lph"
                                   << "1-4 0-0 0-0 0-0";
    QTest::newRow("backwards") << 0 << 4 << 0 << 1 << "lph"
                               << "1-4 0-0 0-0 0-0";
    QTest::newRow("across lines") << 0 << 6 << 1 << 5 << "beta\ngamma"
                                  << "6-10+ 0-5 0-0 0-0";
    QTest::newRow("through an empty line") << 1 << 8 << 3 << 2 << "delta\n\na-"
                                           << "0-0 8-13+ 0-0+ 0-2";
    QTest::newRow("backwards across lines") << 1 << 5 << 0 << 6 << "beta\ngamma"
                                            << "6-10+ 0-5 0-0 0-0";
    QTest::newRow("past the end of a line") << 0 << 6 << 0 << 99 << "beta"
                                            << "6-10 0-0 0-0 0-0";
    QTest::newRow("every line") << 0 << 0 << 3 << 8 << "alpha beta\ngamma_1 delta\n\na--b end"
                                << "0-10+ 0-13+ 0-0+ 0-8";
    QTest::newRow("nothing") << 1 << 2 << 1 << 2 << ""
                             << "0-0 0-0 0-0 0-0";
}

void TestConsoleModel::selectionText()
{
    QFETCH(int, fromLine);
    QFETCH(int, fromColumn);
    QFETCH(int, toLine);
    QFETCH(int, toColumn);
    QFETCH(QString, text);
    QFETCH(QString, columns);

    const ConsoleModel model = selectionModel();
    ConsoleSelection selection;
    selection.start(TextPosition{quint64(fromLine), fromColumn});
    selection.extendTo(TextPosition{quint64(toLine), toColumn});
    QCOMPARE(selection.text(model), text);
    QCOMPARE(selection.isEmpty(), text.isEmpty());
    QStringList seen;
    for (int i = 0; i < model.lineCount(); ++i) {
        bool through = false;
        const auto [first, end] = selection.columnsInLine(model, i, &through);
        seen << QStringLiteral("%1-%2%3").arg(first).arg(end).arg(through ? "+" : "");
    }
    QCOMPARE(seen.join(u' '), columns);

    // Shift+click: the anchor stays, the other end moves.
    selection.extendTo(TextPosition{quint64(fromLine), fromColumn});
    QVERIFY(selection.isEmpty());
}

void TestConsoleModel::selectWord_data()
{
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("word");

    QTest::newRow("letters, digits and underscore") << 1 << 2 << "gamma_1";
    QTest::newRow("at a word's first letter") << 1 << 8 << "delta";
    QTest::newRow("a space") << 1 << 7 << " ";
    QTest::newRow("punctuation one at a time") << 3 << 2 << "-";
    QTest::newRow("past the end: the last word") << 0 << 40 << "beta";
    QTest::newRow("an empty line") << 2 << 0 << "";
    QTest::newRow("a line no longer there") << 9 << 0 << "";
    // Line 4 is "x \U0001D400\U0001D4011 \U0001F600\U0001F600 y": two letters and a digit, then
    // two pictures, all but the digit outside the first plane.
    QTest::newRow("a click on a pair's second half: the whole word")
        << 4 << 3 << QStringLiteral("\U0001D400\U0001D4011");
    QTest::newRow("a picture: that one character, whole") << 4 << 9 << QStringLiteral("\U0001F600");
}

void TestConsoleModel::selectWord()
{
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QString, word);

    ConsoleModel model = selectionModel();
    model.appendLine(QStringLiteral("x \U0001D400\U0001D4011 \U0001F600\U0001F600 y"));
    ConsoleSelection selection;
    selection.selectWord(model, TextPosition{quint64(line), column});
    QCOMPARE(selection.text(model), word);

    if (line < model.lineCount()) {
        selection.selectLine(model, quint64(line));
        QCOMPARE(selection.text(model), model.line(line));
    }
}

void TestConsoleModel::selectionFollowsItsText()
{
    ConsoleModel model;
    fill(model, 200);
    ConsoleSelection selection;
    selection.start(TextPosition{5, 0});
    selection.extendTo(TextPosition{6, 1});
    QCOMPARE(selection.text(model), QStringLiteral("5\n6"));
    // Lines arrive and older ones go: the selection stays on "5" and "6", wherever they are now.
    fill(model, 5);
    QVERIFY(!selection.dropIfTrimmed(model));
    QCOMPARE(selection.text(model), QStringLiteral("5\n6"));
    QCOMPARE(selection.columnsInLine(model, 1), std::make_pair(0, 1));
    QCOMPARE(ConsoleSelection::offsetOf(model, selection.begin()), 2);
    // Its first line trimmed away: it goes.
    model.appendLine(QStringLiteral("x"));
    QVERIFY(!selection.dropIfTrimmed(model));
    model.appendLine(QStringLiteral("y"));
    QVERIFY(selection.dropIfTrimmed(model));
    QVERIFY(selection.isEmpty());
    QCOMPARE(selection.text(model), QString());

    selection.selectAll(model);
    QCOMPARE(selection.text(model), model.lines().join(u'\n'));
    model.deleteLines();
    selection.selectAll(model);
    QVERIFY(!selection.isActive());
}

void TestConsoleModel::selectionOffsets_data()
{
    QTest::addColumn<int>("offset");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");

    QTest::newRow("start") << 0 << 0 << 0;
    QTest::newRow("end of the first line") << 10 << 0 << 10;
    QTest::newRow("start of the second") << 11 << 1 << 0;
    QTest::newRow("the empty line") << 25 << 2 << 0;
    QTest::newRow("the last line") << 28 << 3 << 2;
    QTest::newRow("the very end") << 34 << 3 << 8;
}

void TestConsoleModel::selectionOffsets()
{
    QFETCH(int, offset);
    QFETCH(int, line);
    QFETCH(int, column);
    const ConsoleModel model = selectionModel();
    const TextPosition at = ConsoleSelection::positionAt(model, offset);
    QCOMPARE(at.sequence, quint64(line));
    QCOMPARE(at.column, column);
    QCOMPARE(ConsoleSelection::offsetOf(model, at), offset);
    QCOMPARE(model.lines().join(u'\n').left(offset).count(u'\n'), line);
}

namespace {

const QString Marks = QString(300, QChar(0x0301));
const QString Clef = u"\U0001D11E"_qs;

// A font for the layout rules: "W" is 10 wide, a combining mark and the low half of a pair 0, a
// high half 12, anything else 1. Counts the code units measured.
struct FakeFont
{
    qsizetype measured = 0;
    RowGeometry::Measure of(const QString &row)
    {
        return [this, &row](int from, int to) {
            measured += to - from;
            qreal x = 0;
            for (int i = from; i < to; ++i) {
                const QChar c = row.at(i);
                x += c == u'W'                          ? 10
                     : c.isMark() || c.isLowSurrogate() ? 0
                     : c.isHighSurrogate()              ? 12
                                                        : 1;
            }
            return x;
        };
    }
};

} // namespace

void TestConsoleModel::pieceEnds_data()
{
    const int p = RowGeometry::PieceLength;
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("end");
    QTest::newRow("short row") << QString(10, u'a') << 10;
    QTest::newRow("at the piece length") << QString(1000, u'a') << p;
    QTest::newRow("pair kept whole") << QString(p - 1, u'a') + Clef + "b" << p + 1;
    QTest::newRow("mark kept with its base") << QString(p - 1, u'e') + "e\u0301x" << p + 1;
    QTest::newRow("emoji sequence kept whole")
        << QString(p - 2, u'a') + u"\U0001F469\u200D\U0001F4BBz"_qs << p + 3;
    QTest::newRow("pile of marks cut") << "a" + Marks << p;
}

void TestConsoleModel::pieceEnds()
{
    QFETCH(QString, row);
    QFETCH(int, end);
    QCOMPARE(RowGeometry::pieceEnd(row, 0), end);
}

// Only the columns an x range shows are laid out, wherever the range lies in a long row.
void TestConsoleModel::visibleSlice_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<qreal>("left");
    QTest::addColumn<qreal>("right");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("end");
    QTest::addColumn<qreal>("x");
    QTest::addColumn<qsizetype>("measured"); // at most

    const QString wide(ConsoleModel::MaxRowLength, u'W');
    QTest::newRow("start of a long row") << wide << 0.0 << 500.0 << 0 << 128 << 0.0 << 128LL;
    QTest::newRow("far into a long row")
        << wide << 5000.0 << 5500.0 << 384 << 640 << 3840.0 << 640LL;
    QTest::newRow("one piece from the start") << "WWW" << 0.0 << 20.0 << 0 << 3 << 0.0 << 0LL;
    QTest::newRow("row ends before the range") << "WWW" << 100.0 << 200.0 << 3 << 3 << 30.0 << 3LL;
    QTest::newRow("marks capped") << "a" + Marks + Marks << 0.0 << 10.0 << 0 << 128 << 0.0 << 128LL;
    QTest::newRow("pair at the left edge") << QString(127, u'a') + Clef + wide.left(500) << 140.0
                                           << 150.0 << 129 << 257 << 139.0 << 257LL;
}

void TestConsoleModel::visibleSlice()
{
    QFETCH(QString, row);
    QFETCH(qreal, left);
    QFETCH(qreal, right);
    QFETCH(int, first);
    QFETCH(int, end);
    QFETCH(qreal, x);
    QFETCH(qsizetype, measured);

    FakeFont font;
    RowGeometry geometry;
    const RowGeometry::Slice slice = geometry.slice(row, left, right, font.of(row));
    QCOMPARE(slice.first, first);
    QCOMPARE(slice.end, end);
    QCOMPARE(slice.x, x);
    QVERIFY2(font.measured <= measured, qPrintable(QString::number(font.measured)));
    // Columns and x agree both ways, from what was measured; asked again, nothing is measured.
    const auto measure = font.of(row);
    if (first < end) {
        QCOMPARE(geometry.xOf(row, first, measure), x);
        QCOMPARE(geometry.columnAt(row, x + 0.1, measure), first);
    }
    const qsizetype before = font.measured;
    geometry.slice(row, left, right, measure);
    QCOMPARE(font.measured, before);
}

QTEST_GUILESS_MAIN(TestConsoleModel)
#include "tst_consolemodel.moc"
