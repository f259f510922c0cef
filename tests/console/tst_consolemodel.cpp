#include "ConsoleModel.h"
#include "Utf8ChunkDecoder.h"

#include <QtTest>

#include <functional>

Q_DECLARE_METATYPE(ConsoleModel::Redraw)

namespace {

constexpr float ViewportHeight = 120.0f; // ten rows

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
// byte, and one piece per byte, decoded as the server's reads are.
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
    QTest::newRow("multi-byte characters")
        << QByteArray("caf\xc3\xa9 \xe2\x82\xac\n\xf0\x9d\x84\x9e clef\n")
        << QStringList{u"caf\u00e9 \u20ac"_qs, u"\U0001D11E clef"_qs} << false;
    QTest::newRow("invalid bytes") << QByteArray("x\xff\xfey\nz\x80\n")
                                   << QStringList{u"x\uFFFD\uFFFDy"_qs, u"z\uFFFD"_qs} << false;
    QTest::newRow("only line feeds") << QByteArray("\n\n\n") << QStringList{} << false;

    // Past 201 rows: the oldest go, counted in rows.
    QByteArray many;
    QStringList kept;
    for (int i = 0; i < 230; ++i) {
        const QByteArray line = "row " + QByteArray::number(i);
        many += line + (i % 3 ? "\r\n" : "\n\n");
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
    QCOMPARE(model.lines(), (QStringList{"first", "second", "third part"}));
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
    model.appendLine(QStringLiteral("Error - can't launch server"));
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

QTEST_GUILESS_MAIN(TestConsoleModel)
#include "tst_consolemodel.moc"
