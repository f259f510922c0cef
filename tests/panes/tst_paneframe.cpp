#include "FrameRect.h"

#include <QTest>

// FrameRect carries no Qt type; QFETCH needs it registered.
Q_DECLARE_METATYPE(FrameRect)

namespace QTest {
template <>
char *toString(const FrameRect &frame)
{
    return qstrdup(QByteArray("(" + QByteArray::number(frame.x, 'f', 2) + ", " +
                              QByteArray::number(frame.y, 'f', 2) + ", " +
                              QByteArray::number(frame.width, 'f', 2) + ", " +
                              QByteArray::number(frame.height, 'f', 2) + ")")
                       .constData());
}
} // namespace QTest

class PaneFrameTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void switchFrame_data();
    void switchFrame();
    void fitToScreen_data();
    void fitToScreen();
};

void PaneFrameTest::switchFrame_data()
{
    QTest::addColumn<FrameRect>("window");
    QTest::addColumn<FrameRect>("content");
    QTest::addColumn<FrameRect>("pane");
    QTest::addColumn<FrameRect>("expected");

    QTest::newRow("shorter pane: window shrinks upward from the bottom")
        << FrameRect{100, 200, 500, 400} << FrameRect{0, 0, 500, 322} << FrameRect{0, 0, 600, 300}
        << FrameRect{100, 222, 600, 378};
    QTest::newRow("taller pane: window grows downward")
        << FrameRect{100, 200, 500, 400} << FrameRect{0, 0, 500, 322} << FrameRect{0, 0, 600, 450}
        << FrameRect{100, 72, 600, 528};
    QTest::newRow("same pane again: nothing moves")
        << FrameRect{100, 222, 600, 378} << FrameRect{0, 0, 600, 300} << FrameRect{0, 0, 600, 300}
        << FrameRect{100, 222, 600, 378};
    // Only the pane's size matters, never where it happens to sit.
    QTest::newRow("pane and content origins are ignored")
        << FrameRect{-40, 10, 300, 250} << FrameRect{7, 9, 300, 200} << FrameRect{55, -3, 420, 120}
        << FrameRect{-40, 90, 420, 170};
    QTest::newRow("window below the primary screen's bottom edge")
        << FrameRect{0, -500, 400, 300} << FrameRect{0, 0, 400, 250} << FrameRect{0, 0, 400, 350}
        << FrameRect{0, -600, 400, 400};
    // 16777218 - 1 is not a float: it rounds to 16777216 before the pane is added. A wider
    // type, or adding before subtracting, gives 16777218 here instead.
    QTest::newRow("single precision, subtraction first")
        << FrameRect{0, 1, 100, 16777218.0f} << FrameRect{0, 0, 100, 1} << FrameRect{0, 0, 100, 1}
        << FrameRect{0, 1, 100, 16777216.0f};
    QTest::newRow("single precision, y")
        << FrameRect{0, 1, 100, 16777218.0f} << FrameRect{0, 0, 100, 16777218.0f}
        << FrameRect{0, 0, 100, 1} << FrameRect{0, 16777216.0f, 100, 1};
}

void PaneFrameTest::switchFrame()
{
    QFETCH(FrameRect, window);
    QFETCH(FrameRect, content);
    QFETCH(FrameRect, pane);
    QFETCH(FrameRect, expected);

    const FrameRect result = paneSwitchFrame(window, content, pane);
    QCOMPARE(result, expected);
    // Left edge fixed; for frames this small the top edge is exact too.
    QCOMPARE(result.x, window.x);
    if (window.height < 1e6f)
        QCOMPARE(result.y + result.height, window.y + window.height);
}

void PaneFrameTest::fitToScreen_data()
{
    QTest::addColumn<FrameRect>("frame");
    QTest::addColumn<FrameRect>("available");
    QTest::addColumn<FrameRect>("expected");
    const FrameRect scaled{0, 0, 960, 508}; // 1920 x 1080 at double scale, less a panel
    QTest::newRow("fits: left as it is")
        << FrameRect{100, 50, 500, 400} << scaled << FrameRect{100, 50, 500, 400};
    QTest::newRow("larger than the screen: as large as it")
        << FrameRect{50, -46, 1000, 554} << scaled << FrameRect{0, 0, 960, 508};
    QTest::newRow("below the bottom, left of a screen right of the primary: moved in, no more")
        << FrameRect{100, -50, 500, 400} << FrameRect{1280, 0, 1920, 1024}
        << FrameRect{1280, 0, 500, 400};
    QTest::newRow("above the top and past the right edge: moved in, no more")
        << FrameRect{700, 300, 500, 400} << scaled << FrameRect{460, 108, 500, 400};
    QTest::newRow("no screen known: left as it is")
        << FrameRect{100, -50, 500, 4000} << FrameRect{} << FrameRect{100, -50, 500, 4000};
}

void PaneFrameTest::fitToScreen()
{
    QFETCH(FrameRect, frame);
    QFETCH(FrameRect, available);
    QFETCH(FrameRect, expected);
    QCOMPARE(fitFrameToScreen(frame, available), expected);
}

QTEST_GUILESS_MAIN(PaneFrameTest)
#include "tst_paneframe.moc"
