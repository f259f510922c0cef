#include "ConsoleAccessible.h"
#include "ConsoleView.h"
#include "NewRowsButton.h"
#include "RowPainter.h"
#include "VScroller.h"

#include <QAccessible>
#include <QAction>
#include <QClipboard>
#include <QProcess>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QtTest>

#include <memory>

namespace {

constexpr int ViewportHeight = 120; // ten rows

// A console placed the way the interface file places it: created, given a frame, handed to a
// scroll area that does not resize it, then woken up.
struct Harness
{
    QScrollArea area;
    ConsoleView *view = nullptr;

    explicit Harness(bool show = true)
    {
        view = new ConsoleView;
        view->setGeometry(0, 0, 498, 298);
        area.setWidgetResizable(false);
        area.setWidget(view);
        area.setFrameShape(QFrame::NoFrame);
        area.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area.setFixedSize(600, ViewportHeight);
        view->awakeFromNib();
        if (show) {
            area.show();
            QVERIFY(QTest::qWaitForWindowExposed(&area));
        }
    }

    QScrollBar *bar() const { return area.verticalScrollBar(); }

    void fill(int count, const QString &text = QStringLiteral("line %1"))
    {
        for (int i = 0; i < count; ++i)
            view->appendLine(text.arg(i));
    }

    // The real widget and bar agree with what the rules answered; the widget fills the viewport
    // where the frame is smaller.
    void verifyInStep() const
    {
        const QRectF frame = view->frame();
        QCOMPARE(view->size(), frame.size().toSize().expandedTo(area.viewport()->size()));
        QCOMPARE(area.viewport()->height(), ViewportHeight);
        QCOMPARE(double(bar()->value()), view->visibleRect().y());
    }

    QPoint centreOf(QStyle::SubControl control) const
    {
        QStyleOptionSlider opt;
        opt.initFrom(bar());
        opt.subControls = QStyle::SC_All;
        opt.orientation = Qt::Vertical;
        opt.minimum = bar()->minimum();
        opt.maximum = bar()->maximum();
        opt.sliderPosition = bar()->sliderPosition();
        opt.sliderValue = bar()->value();
        opt.singleStep = bar()->singleStep();
        opt.pageStep = bar()->pageStep();
        opt.upsideDown = bar()->invertedAppearance();
        return bar()->style()->subControlRect(QStyle::CC_ScrollBar, &opt, control, bar()).center();
    }
};

bool isConsoleGreen(QRgb px)
{
    return qGreen(px) > qRed(px) + 80 && qGreen(px) > qBlue(px) + 80;
}

} // namespace

class TestConsoleView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void awakeInstallsScroller();
    void realWidgetFollowsRules_data();
    void realWidgetFollowsRules();
    void userScrollFeedsRules();
    void floodIsAppliedOnce();
    void hiddenConsoleCatchesUpWhenShown();
    void paintDrawsDirtyRows();
    void rendersGreenRows();
    void paintBeforeFlushKeepsLaidOutLines();
    void followRuleForEachScroll_data();
    void followRuleForEachScroll();
    void clearByKeyAndMenu();
    void accessibleText();
    void accessibleTextInPages();
    void newRowsButtonLeadsBackToTheEnd();
    void rendersColouredSpans();
    void mouseAndKeysSelect();
    void widestRow_data();
    void widestRow();
    void longRowsWidenTheFrame();
    void oneFocusStopFillsTheViewport();
    void launcherRowsStandApart();
    void selectionWhileLinesArrive();
    void copyThroughX11Clipboard();
};

void TestConsoleView::awakeInstallsScroller()
{
    ConsoleView loose;
    QVERIFY(!loose.endScroll());
    loose.awakeFromNib(); // not in a scroll area: nothing to install, following still on
    QVERIFY(loose.endScroll());

    QScrollArea area;
    area.verticalScrollBar()->setAttribute(Qt::WA_MacSmallSize);
    auto *view = new ConsoleView;
    area.setWidget(view);
    view->awakeFromNib();
    auto *bar = qobject_cast<VScroller *>(area.verticalScrollBar());
    QVERIFY(bar);
    QVERIFY(bar->testAttribute(Qt::WA_MacSmallSize));
    QVERIFY(!bar->accessibleName().isEmpty());
    QVERIFY(view->endScroll());
    QVERIFY(!view->autoFillBackground()); // the scroll area's background shows through
    QCOMPARE(view->focusPolicy(), Qt::StrongFocus);
}

void TestConsoleView::realWidgetFollowsRules_data()
{
    QTest::addColumn<bool>("follow");
    QTest::addColumn<int>("lines");
    QTest::addColumn<int>("userTop");
    QTest::addColumn<int>("expectedTop");

    QTest::newRow("following, fits") << true << 5 << 0 << 0;
    QTest::newRow("following, overflow") << true << 50 << 0 << 480;
    QTest::newRow("following at 201") << true << 400 << 0 << 2292;
    QTest::newRow("not following, top 120") << false << 50 << 120 << 120;
    QTest::newRow("not following, top 125") << false << 50 << 125 << 120;
    QTest::newRow("not following, chop at 120") << false << 202 << 120 << 108;
    QTest::newRow("not following, chop at 0") << false << 202 << 0 << 0;
}

void TestConsoleView::realWidgetFollowsRules()
{
    QFETCH(bool, follow);
    QFETCH(int, lines);
    QFETCH(int, userTop);
    QFETCH(int, expectedTop);

    Harness h;
    h.fill(lines - 1);
    h.view->flush();
    h.bar()->setValue(userTop); // as a drag would
    QCOMPARE(h.view->visibleRect().y(), double(userTop));
    h.view->scrollToEnd(follow); // whatever the drag made of it
    h.fill(1);
    QCOMPARE(h.view->visibleRect().y(), double(expectedTop));
    h.view->flush();
    h.verifyInStep();
    QCOMPARE(h.bar()->value(), expectedTop);
    QCOMPARE(h.view->lineCount(), qMin(lines, 201));
}

void TestConsoleView::userScrollFeedsRules()
{
    Harness h;
    h.fill(50);
    h.view->flush();
    QCOMPARE(h.bar()->value(), 480);
    h.view->scrollToEnd(false);
    h.bar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    QCOMPARE(h.view->visibleRect().y(), 360.0);
    // The rules read the user's position at once, before anything was flushed.
    h.fill(1);
    QCOMPARE(h.view->visibleRect().y(), 360.0);
    QCOMPARE(h.view->model().lastRedraw(), ConsoleModel::Redraw::Row);
}

void TestConsoleView::floodIsAppliedOnce()
{
    Harness h;
    h.view->flush();
    const int before = h.view->applyCount();
    const QSize sizeBefore = h.view->size();

    QString chunk;
    for (int i = 0; i < 70; ++i)
        chunk +=
            QStringLiteral("flooding server output line number %1 ..................\n").arg(i);
    for (int i = 0; i < 200; ++i)
        h.view->appendText(chunk);

    // Without the event loop nothing has reached the widget yet, though the rules are done.
    QCOMPARE(h.view->applyCount(), before);
    QCOMPARE(h.view->size(), sizeBefore);
    QCOMPARE(h.view->frame(), QRectF(0, 0, 500, 2412));
    QCOMPARE(h.view->visibleRect().y(), 2292.0);

    QTRY_COMPARE(h.view->applyCount(), before + 1);
    QTest::qWait(50);
    QCOMPARE(h.view->applyCount(), before + 1);
    h.verifyInStep();
    QCOMPARE(h.bar()->value(), h.bar()->maximum());
    QCOMPARE(h.view->lines().last(), QStringLiteral("flooding server output line number 69 "
                                                    ".................."));
}

void TestConsoleView::hiddenConsoleCatchesUpWhenShown()
{
    // The pane is taken out of the window while the server keeps writing.
    Harness h;
    h.fill(20);
    h.view->flush();
    h.area.hide();
    h.fill(300);
    QCoreApplication::processEvents();
    QCOMPARE(h.view->frame(), QRectF(0, 0, 500, 2412));
    QCOMPARE(h.view->visibleRect().y(), 2292.0);
    h.area.show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.area));
    h.view->flush();
    h.verifyInStep();
    QCOMPARE(h.bar()->value(), h.bar()->maximum());
}

void TestConsoleView::paintDrawsDirtyRows()
{
    Harness h;
    h.view->repaint(QRect(0, 0, 500, 12));
    QCOMPARE(h.view->lastDrawnRows(), std::make_pair(0, 0)); // empty buffer

    h.view->scrollToEnd(false);
    h.fill(5);
    h.view->flush();
    h.view->repaint(); // takes the rows still marked, so that each repaint below is its own
    h.view->repaint(QRect(0, 0, 500, 12));
    QCOMPARE(h.view->lastDrawnRows(), std::make_pair(0, 2));
    h.view->repaint(QRect(0, 30, 500, 10));
    QCOMPARE(h.view->lastDrawnRows(), std::make_pair(2, 4));
    h.view->resize(500, 120); // room below the last row
    h.view->repaint();
    QCOMPARE(h.view->lastDrawnRows(), std::make_pair(0, 5));
    h.view->repaint(QRect(0, 72, 500, 12));
    QCOMPARE(h.view->lastDrawnRows().first, h.view->lastDrawnRows().second);
}

void TestConsoleView::rendersGreenRows()
{
    Harness h;
    h.fill(5, QStringLiteral("\u2588\u2588MMWW %1")); // full blocks cover whole pixels
    h.view->flush();
    const QImage image = h.area.viewport()->grab().toImage();
    QCOMPARE(image.height() / int(image.devicePixelRatio()), ViewportHeight);
    const qreal dpr = image.devicePixelRatio();
    QRgb brightest = 0;
    for (int row = 0; row < 10; ++row) {
        int green = 0;
        for (int y = int(row * 12 * dpr); y < int((row + 1) * 12 * dpr); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb px = image.pixel(x, y);
                if (isConsoleGreen(px)) {
                    ++green;
                    if (qGreen(px) - qRed(px) > qGreen(brightest) - qRed(brightest))
                        brightest = px;
                }
            }
        }
        if (row < 5)
            QVERIFY2(green > 10, qPrintable(QStringLiteral("row %1 has no text").arg(row)));
        else
            QVERIFY2(green == 0, qPrintable(QStringLiteral("row %1 is not empty").arg(row)));
    }
    QCOMPARE(QColor(brightest), QColor::fromRgbF(0.2f, 0.8f, 0.2f));
}

void TestConsoleView::paintBeforeFlushKeepsLaidOutLines()
{
    Harness h;
    h.view->scrollToEnd(false);
    h.fill(5, QStringLiteral("MMMMWWWW %1"));
    h.view->flush();
    const int applied = h.view->applyCount();
    h.fill(200); // drops the first four of the five lines on screen
    // A repaint for some other reason before the flush: the widget still lays out and shows
    // the five rows it was given; only the line that still exists is drawn, in its old row.
    const QImage image = h.view->grab().toImage();
    QCOMPARE(h.view->applyCount(), applied);
    QCOMPARE(h.view->lastDrawnRows(), std::make_pair(0, 5));
    const qreal dpr = image.devicePixelRatio();
    for (int row = 0; row < 5; ++row) {
        bool green = false;
        for (int y = int(row * 12 * dpr); y < int((row + 1) * 12 * dpr) && !green; ++y)
            for (int x = 0; x < image.width() && !green; ++x)
                green = isConsoleGreen(image.pixel(x, y));
        QCOMPARE(green, row == 4);
    }
}

// Each way the user scrolls, from `above` pixels above the end: following pauses away from the
// end and resumes at it, and the new-rows button shows exactly while paused. `part` is what the
// scroll bar reports for a press on it (-1 for no press on the bar).
void TestConsoleView::followRuleForEachScroll_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("above");
    QTest::addColumn<int>("part");
    QTest::addColumn<bool>("follows");

    QTest::newRow("wheel up") << "wheel 120" << 0 << -1 << false;
    QTest::newRow("wheel down to the end") << "wheel -120" << 24 << -1 << true;
    QTest::newRow("PageUp") << "key PageUp" << 0 << -1 << false;
    QTest::newRow("Up") << "key Up" << 0 << -1 << false;
    QTest::newRow("Home") << "key Home" << 0 << -1 << false;
    QTest::newRow("PageDown to the end") << "key PageDown" << 60 << -1 << true;
    QTest::newRow("up arrow") << "press SubLine" << 0 << 4 << false;
    QTest::newRow("down arrow short of the end") << "press AddLine" << 120 << 5 << false;
    QTest::newRow("down arrow to the end") << "press AddLine" << 12 << 5 << true;
    QTest::newRow("track above the knob") << "press SubPage" << 0 << 1 << false;
    QTest::newRow("track below the knob to the end") << "press AddPage" << 60 << 3 << true;
    QTest::newRow("knob dragged up") << "drag -30" << 0 << 2 << false;
    QTest::newRow("knob dragged to the bottom") << "drag 200" << 240 << 2 << true;
    QTest::newRow("selecting at the end") << "select" << 0 << -1 << false;
    QTest::newRow("a click at the end, let go") << "click" << 0 << -1 << true;
}

void TestConsoleView::followRuleForEachScroll()
{
    QFETCH(QString, action);
    QFETCH(int, above);
    QFETCH(int, part);
    QFETCH(bool, follows);

    Harness h;
    h.fill(100);
    h.view->flush();
    h.bar()->setValue(h.bar()->maximum() - above);
    auto *bar = qobject_cast<VScroller *>(h.bar());
    const QString verb = action.section(u' ', 0, 0);
    const QString what = action.section(u' ', 1);
    const QPoint knob = h.centreOf(QStyle::SC_ScrollBarSlider);
    if (verb == u"wheel") {
        const QPointF at(5, 5);
        QWheelEvent wheel(at, h.view->mapToGlobal(at), QPoint(), QPoint(0, what.toInt()),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(h.area.viewport(), &wheel); // where the console passes it on
    } else if (verb == u"key") {
        const QMetaEnum keys = QMetaEnum::fromType<Qt::Key>();
        QTest::keyClick(h.view,
                        Qt::Key(keys.keyToValue(qPrintable(QStringLiteral("Key_") + what))));
    } else if (verb == u"press") {
        const QMetaEnum controls = QMetaEnum::fromType<QStyle::SubControl>();
        const auto control = controls.keyToValue(qPrintable(QStringLiteral("SC_ScrollBar") + what));
        const QPoint at = h.centreOf(QStyle::SubControl(control));
        QTest::mousePress(bar, Qt::LeftButton, {}, at);
        QTest::mouseRelease(bar, Qt::LeftButton, {}, at);
    } else if (verb == u"drag") {
        QTest::mousePress(bar, Qt::LeftButton, {}, knob);
        QTest::mouseMove(bar, knob + QPoint(0, what.toInt()));
        QTest::mouseRelease(bar, Qt::LeftButton, {}, knob + QPoint(0, what.toInt()));
    } else if (verb == u"select" || verb == u"click") {
        QTest::mousePress(h.view, Qt::LeftButton, {}, QPoint(5, h.bar()->value() + 5));
        if (verb == u"click")
            QTest::mouseRelease(h.view, Qt::LeftButton, {}, QPoint(5, h.bar()->value() + 5));
    }
    if (part >= 0)
        QCOMPARE(bar->hitPart(), part);
    QCOMPARE(h.view->endScroll(), follows);
    QCOMPARE(h.view->visibleRect().y(), double(h.bar()->value()));

    h.fill(1);
    h.view->flush();
    QCOMPARE(h.view->newRowsButton()->isVisible(), !follows);
    QCOMPARE(h.bar()->value() == h.bar()->maximum(), follows);
}

void TestConsoleView::clearByKeyAndMenu()
{
    Harness h;
    h.view->scrollToEnd(false);
    h.fill(30);
    h.view->setFocus();
    QTest::keyClick(h.view, Qt::Key_Delete);
    QCOMPARE(h.view->lineCount(), 0);
    QCOMPARE(h.view->frame(), QRectF(0, 0, 0, 0));
    QVERIFY(!h.view->endScroll());
    h.view->flush();
    QCOMPARE(h.view->size(), h.area.viewport()->size()); // the frame is empty
    QCOMPARE(h.bar()->value(), 0);

    h.fill(3);
    QVERIFY(h.view->actions().contains(h.view->clearAction()));
    QCOMPARE(h.view->clearAction()->text(), QStringLiteral("Clear"));
    QCOMPARE(h.view->contextMenuPolicy(), Qt::ActionsContextMenu);
    h.view->clearAction()->trigger();
    QCOMPARE(h.view->lineCount(), 0);
    h.fill(1);
    QCOMPARE(h.view->frame(), QRectF(0, 0, 500, 12));
    QCOMPARE(h.view->lines(), QStringList{QStringLiteral("line 0")});
}

void TestConsoleView::accessibleText()
{
    Harness h;
    h.view->appendText(QStringLiteral("alpha\nbeta\r\n\ngamma"));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(h.view);
    QVERIFY(iface);
    QCOMPARE(iface->text(QAccessible::Name), QStringLiteral("Server console"));
    QCOMPARE(iface->text(QAccessible::Value), QStringLiteral("alpha\nbeta\r\ngamma"));
    QVERIFY(iface->text(QAccessible::Description).contains(QLatin1String("3")));
    QVERIFY(iface->state().readOnly);
    QAccessibleTextInterface *text = iface->textInterface();
    QVERIFY(text);
    QCOMPARE(text->characterCount(), 17);
    QCOMPARE(text->text(6, 10), QStringLiteral("beta"));
    // A point inside row 1 maps back into "beta\r".
    const int offset = text->offsetAtPoint(h.view->mapToGlobal(QPoint(4, 18)));
    QVERIFY2(offset >= 6 && offset <= 11, qPrintable(QString::number(offset)));
    QCOMPARE(text->characterRect(6).top(), h.view->mapToGlobal(QPoint(0, 12)).y());

    h.view->deleteLines();
    QCOMPARE(iface->text(QAccessible::Value), QString());
    QCOMPARE(text->characterCount(), 0);
}

// A console as full as it gets answers in pages: the newest one as its value, any other by offset.
void TestConsoleView::accessibleTextInPages()
{
    Harness h(false);
    const int length = int(ConsoleModel::MaxRowLength);
    for (int i = 0; i < ConsoleModel::MaxLines; ++i)
        h.view->appendLine(QString(length - 4, u'x') + QString::number(i).rightJustified(4, u'0'));
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(h.view);
    QAccessibleTextInterface *text = iface->textInterface();
    QCOMPARE(text->characterCount(), ConsoleModel::MaxLines * (length + 1) - 1);
    QCOMPARE(iface->text(QAccessible::Value), h.view->model().line(200));
    QCOMPARE(text->text(0, -1).size(), ConsoleAccessible::MaxTextLength);
    const int row = 150 * (length + 1);
    QCOMPARE(text->text(row + length - 4, row + length + 1), QStringLiteral("0150\n"));
    int start = 0;
    int end = 0;
    QCOMPARE(text->textAtOffset(row + 3, QAccessible::LineBoundary, &start, &end),
             h.view->model().line(150) + u'\n');
    QCOMPARE(start, row);
    QCOMPARE(end, row + length + 1);
    QCOMPARE(text->textBeforeOffset(row, QAccessible::WordBoundary, &start, &end),
             QStringLiteral("\n"));
    QCOMPARE(start, row - 1);
}

void TestConsoleView::newRowsButtonLeadsBackToTheEnd()
{
    Harness h;
    NewRowsButton *button = h.view->newRowsButton();
    QVERIFY(button);
    QCOMPARE(button->focusPolicy(), Qt::NoFocus);
    // Assistive technology finds it among the scroll area's accessible descendants.
    const std::function<bool(QAccessibleInterface *)> holdsButton = [&](QAccessibleInterface *in) {
        for (int i = 0; in && i < in->childCount(); ++i) {
            if (in->child(i)->object() == button || holdsButton(in->child(i)))
                return true;
        }
        return false;
    };
    QVERIFY(holdsButton(QAccessible::queryAccessibleInterface(&h.area)));
    h.fill(50);
    h.view->flush();
    QVERIFY(!button->isVisible()); // following: every row is seen

    const auto scrollBack = [&] {
        h.bar()->triggerAction(QAbstractSlider::SliderPageStepSub);
        QVERIFY(h.bar()->value() < h.bar()->maximum());
    };
    const auto verifyBackAtEnd = [&] {
        QVERIFY(!button->isVisible());
        QVERIFY(h.view->endScroll());
        QCOMPARE(h.bar()->value(), h.bar()->maximum());
        QCOMPARE(h.view->unseenRows(), 0);
        h.verifyInStep();
    };

    scrollBack();
    h.fill(3);
    h.view->flush();
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("3 new lines"));
    QCOMPARE(button->accessibleName(), QStringLiteral("3 new lines"));
    // Over the viewport's lower edge, inside it.
    const QRect viewport = h.area.viewport()->rect();
    QVERIFY(viewport.contains(button->geometry()));
    QVERIFY(button->geometry().bottom() > viewport.bottom() - 2 * button->height());
    const int readingAt = h.bar()->value();

    QTest::mouseClick(button, Qt::LeftButton);
    verifyBackAtEnd();
    QVERIFY(h.bar()->value() > readingAt);
    h.fill(1); // following again: the new row scrolls in
    h.view->flush();
    QVERIFY(!button->isVisible());
    QCOMPARE(h.bar()->value(), h.bar()->maximum());

    // End and Ctrl+End in the console do the same.
    for (const Qt::KeyboardModifiers modifiers : {Qt::NoModifier, Qt::ControlModifier}) {
        scrollBack();
        h.fill(1);
        h.view->flush();
        QCOMPARE(button->text(), QStringLiteral("1 new line"));
        h.view->setFocus();
        QTest::keyClick(h.view, Qt::Key_End, modifiers);
        verifyBackAtEnd();
    }

    // Reaching the end by scrolling hides it at once, and following resumes.
    scrollBack();
    h.fill(2);
    h.view->flush();
    QVERIFY(button->isVisible());
    h.bar()->setValue(h.bar()->maximum());
    verifyBackAtEnd();
}

void TestConsoleView::rendersColouredSpans()
{
    Harness h;
    const TextStyle red{true, qRgb(0xff, 0, 0), false};
    h.view->appendText(QStringLiteral("MMMMWWWW plain\nMMMMWWWW red\n"), nullptr,
                       {StyleSpan{15, 8, red}});
    h.view->flush();
    const QImage image = h.area.viewport()->grab().toImage();
    const qreal dpr = image.devicePixelRatio();
    auto count = [&](int row, auto isColour) {
        int n = 0;
        for (int y = int(row * 12 * dpr); y < int((row + 1) * 12 * dpr); ++y)
            for (int x = 0; x < image.width(); ++x)
                n += isColour(image.pixel(x, y)) ? 1 : 0;
        return n;
    };
    auto isRed = [](QRgb px) { return qRed(px) > qGreen(px) + 80 && qRed(px) > qBlue(px) + 80; };
    QVERIFY(count(0, isConsoleGreen) > 10);
    QCOMPARE(count(0, isRed), 0);
    QVERIFY(count(1, isRed) > 10);
    QVERIFY(count(1, isConsoleGreen) > 0); // " red" stays plain
}

void TestConsoleView::mouseAndKeysSelect()
{
    Harness h;
    h.view->scrollToEnd(false);
    h.view->appendText(QStringLiteral("alpha beta\ngamma delta\nthird line"));
    h.view->flush();
    h.view->setFocus();
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(h.view);
    QAccessibleTextInterface *text = iface->textInterface();
    QCOMPARE(text->selectionCount(), 0);
    QVERIFY(!h.view->copyAction()->isEnabled());

    // Drag from the left edge of row 0 to the far right of row 1.
    QTest::mousePress(h.view, Qt::LeftButton, {}, QPoint(0, 5));
    QTest::mouseMove(h.view, QPoint(400, 17));
    QTest::mouseRelease(h.view, Qt::LeftButton, {}, QPoint(400, 17));
    QCOMPARE(h.view->selectedText(), QStringLiteral("alpha beta\ngamma delta"));
    QVERIFY(h.view->copyAction()->isEnabled());
    QCOMPARE(text->selectionCount(), 1);
    int start = -1;
    int end = -1;
    text->selection(0, &start, &end);
    QCOMPARE(std::make_pair(start, end), std::make_pair(0, 22));

    // Shift+click extends from the same anchor.
    QTest::mouseClick(h.view, Qt::LeftButton, Qt::ShiftModifier, QPoint(400, 29));
    QCOMPARE(h.view->selectedText(), QStringLiteral("alpha beta\ngamma delta\nthird line"));

    // Double-click a word, then a third click for the whole line.
    QTest::mouseDClick(h.view, Qt::LeftButton, {}, QPoint(4, 17));
    QCOMPARE(h.view->selectedText(), QStringLiteral("gamma"));
    QTest::mouseClick(h.view, Qt::LeftButton, {}, QPoint(4, 17));
    QCOMPARE(h.view->selectedText(), QStringLiteral("gamma delta"));

    QTest::keyClick(h.view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("gamma delta"));
    QTest::keyClick(h.view, Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(h.view->selectedText(), QStringLiteral("alpha beta\ngamma delta\nthird line"));
    h.view->copyAction()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), h.view->selectedText());

    // The accessible interface can set it too, in offsets of its value.
    text->setSelection(0, 6, 16);
    QCOMPARE(h.view->selectedText(), QStringLiteral("beta\ngamma"));
    QCOMPARE(text->cursorPosition(), 16);

    // A plain click puts the anchor down and selects nothing; Copy All still copies every line.
    QTest::mouseClick(h.view, Qt::LeftButton, {}, QPoint(4, 5));
    QVERIFY(h.view->selection().isEmpty());
    h.view->copyAllAction()->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("alpha beta\ngamma delta\nthird line"));

    QTest::keyClick(h.view, Qt::Key_A, Qt::ControlModifier);
    h.view->clearAction()->trigger();
    QVERIFY(h.view->selection().isEmpty());
    QCOMPARE(text->selectionCount(), 0);
    for (QAction *action : h.view->actions())
        QVERIFY(action->isSeparator() || !action->text().isEmpty());
}

void TestConsoleView::selectionWhileLinesArrive()
{
    Harness h; // following the end
    h.fill(20);
    h.view->flush();
    h.view->selectOffsets(0, 6); // "line 0"
    const int top = h.bar()->value();
    h.fill(50);
    h.view->flush();
    QVERIFY(h.bar()->value() > top);
    QCOMPARE(h.view->selectedText(), QStringLiteral("line 0"));
    h.fill(131); // line 0 is trimmed by the 201st line after it
    QCOMPARE(h.view->lineCount(), 201);
    QCOMPARE(h.view->selectedText(), QStringLiteral("line 0"));
    h.fill(1);
    QVERIFY(h.view->selection().isEmpty());
}

// The widest row's width beside two short rows, in advances of the fixed-pitch font beyond both
// margins: printable ASCII summed from its characters, any other row measured a piece (128
// characters) at a time only until it passes `limit`, a note with the time after it.
void TestConsoleView::widestRow_data()
{
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qreal>("limit");
    QTest::addColumn<int>("advances");

    const int output = int(ConsoleModel::RowKind::Output);
    QTest::newRow("short rows only") << "ab" << output << 1e9 << 2;
    QTest::newRow("plain ASCII, past any limit") << QString(300, u'x') << output << 100.0 << 300;
    QTest::newRow("another script") << QString(300, u'\u00e9') << output << 1e9 << 300;
    QTest::newRow("another script, past the limit")
        << QString(5000, u'\u00e9') << output << 600.0 << 128;
    QTest::newRow("a note and its time")
        << "Server exited normally" << int(ConsoleModel::RowKind::Note) << 1e9 << 32;
}

void TestConsoleView::widestRow()
{
    QFETCH(QString, row);
    QFETCH(int, kind);
    QFETCH(qreal, limit);
    QFETCH(int, advances);

    const QFont font = ConsoleView::textFont();
    QVERIFY(QFontInfo(font).fixedPitch());
    QVERIFY(!QFontInfo(ConsoleView::textFont(true)).fixedPitch());
    ConsoleModel model;
    RowPainter rows(model);
    rows.setFont(font);
    model.appendLine(QStringLiteral("a"));
    model.appendLine(row, ConsoleModel::RowKind(kind), QTime(21, 4, 5));
    model.appendLine(QStringLiteral("bc"));
    const qreal expected = 4.0 + advances * QFontMetricsF(font).horizontalAdvance(u'x');
    QVERIFY2(qAbs(rows.contentWidth(limit) - expected) < 0.5,
             qPrintable(QStringLiteral("%1, not %2").arg(rows.contentWidth(limit)).arg(expected)));
}

void TestConsoleView::longRowsWidenTheFrame()
{
    Harness h;
    h.area.setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    const QString row(200, u'x');
    h.view->appendLine(row);
    h.view->flush();
    const auto widthIn = [&](const QFont &font) {
        return std::ceil(4.0 + QFontMetricsF(font).horizontalAdvance(u'x') * row.size());
    };
    QCOMPARE(h.view->frame().width(), widthIn(ConsoleView::textFont()));
    QCOMPARE(h.view->width(), int(h.view->frame().width()));
    QTRY_VERIFY(h.area.horizontalScrollBar()->isVisible());
    QCOMPARE(h.area.horizontalScrollBar()->maximum(), h.view->width() - h.area.viewport()->width());
    QCOMPARE(h.view->height(), h.area.viewport()->height()); // no room to scroll into
    QCOMPARE(h.bar()->maximum(), 0);

    h.view->setUserTextFont(true);
    h.view->flush();
    QCOMPARE(h.view->rowFont(), ConsoleView::textFont(true));
    QCOMPARE(h.view->frame().width(), std::max(500.0, widthIn(ConsoleView::textFont(true))));

    h.view->deleteLines();
    h.view->flush();
    QCOMPARE(h.view->frame(), QRectF());
    QTRY_VERIFY(!h.area.horizontalScrollBar()->isVisible());
    QCOMPARE(h.view->size(), h.area.viewport()->size());
}

// The console is the scroll area's one focus stop, and it covers the whole viewport: a click
// below its last row focuses it (and its context menu is the console's), and the focus shows as
// a ring around the viewport.
void TestConsoleView::oneFocusStopFillsTheViewport()
{
    Harness h;
    h.fill(3);
    h.view->flush();
    QList<QWidget *> inside = h.area.findChildren<QWidget *>();
    inside << &h.area;
    for (QWidget *widget : inside)
        QCOMPARE(bool(widget->focusPolicy() & Qt::TabFocus), widget == h.view);

    const QPoint below(300, 100);
    QCOMPARE(h.area.viewport()->childAt(below), h.view);
    QTest::mouseClick(h.area.windowHandle(), Qt::LeftButton, {},
                      h.area.viewport()->mapTo(&h.area, below));
    QCOMPARE(h.area.focusWidget(), h.view);

    h.area.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&h.area));
    const auto edge = [&] { return h.area.viewport()->grab().toImage().pixelColor(QPoint(1, 60)); };
    QCOMPARE(edge(), h.view->palette().color(QPalette::Highlight));
    h.view->clearFocus();
    QVERIFY(edge() != h.view->palette().color(QPalette::Highlight));
}

void TestConsoleView::launcherRowsStandApart()
{
    Harness h;
    h.view->appendLine(QStringLiteral("MMMMWWWW note"), ConsoleModel::RowKind::Note);
    h.view->appendLine(QStringLiteral(" "), ConsoleModel::RowKind::Separator);
    h.view->flush();
    // The note in grey (no hue, darker than the ground), never the server's green; the separator
    // a rule across its row.
    const QImage image = h.area.viewport()->grab().toImage();
    int counts[3] = {0, 0, 0};
    for (int y = 0; y < image.height(); ++y) {
        const bool note = y < 12 * image.devicePixelRatio();
        for (int x = 0; x < image.width(); ++x) {
            const QRgb px = image.pixel(x, y);
            counts[0] += note && isConsoleGreen(px);
            counts[1] += note && qAbs(qRed(px) - qGreen(px)) <= 12 && qRed(px) == qBlue(px) &&
                         qRed(px) < 200;
            counts[2] += !note && px == qRgb(80, 100, 80);
        }
    }
    QVERIFY2(counts[0] == 0 && counts[1] > 10 && counts[2] > 300,
             qPrintable(QStringLiteral("%1 %2 %3").arg(counts[0]).arg(counts[1]).arg(counts[2])));
}

// Reads the clipboard or the primary selection as another X client, and prints it.
static int readClipboardAndExit(int argc, char **argv, const QByteArray &which)
{
    QApplication app(argc, argv);
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString text =
        clipboard->text(which == "primary" ? QClipboard::Selection : QClipboard::Clipboard);
    std::fputs(text.toUtf8().constData(), stdout);
    return 0;
}

void TestConsoleView::copyThroughX11Clipboard()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server (the tst_consoleview_x11 run)");
    Harness h;
    h.view->appendText(QStringLiteral("first row\r\nsecond \u00e9 row"));
    h.view->flush();
    // The actions themselves: with no window manager the window never becomes active for keys.
    h.view->selectAllAction()->trigger();
    h.view->copyAction()->trigger();

    // Another client asks the X server; we answer from our event loop meanwhile.
    for (const char *which : {"clipboard", "primary"}) {
        QProcess reader;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELMORA_READ_CLIPBOARD"), QString::fromLatin1(which));
        reader.setProcessEnvironment(env);
        reader.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(reader.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(reader.state(), QProcess::NotRunning, 20000);
        // Rows joined by line feeds alone, whatever the lines held.
        QCOMPARE(QString::fromUtf8(reader.readAllStandardOutput()),
                 QStringLiteral("first row\nsecond \u00e9 row"));
    }
}

int main(int argc, char **argv)
{
    const QByteArray which = qgetenv("VELMORA_READ_CLIPBOARD");
    if (!which.isEmpty())
        return readClipboardAndExit(argc, argv, which);
    QApplication app(argc, argv);
    TestConsoleView test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_consoleview.moc"
