#include "ConsoleModel.h"

#include <QtTest>

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
    // Nothing is carried over: the next text starts a line of its own.
    model.appendText(QStringLiteral("tail"));
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
