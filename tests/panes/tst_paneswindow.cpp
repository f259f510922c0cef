#include "FrameRect.h"
#include "Toolbar.h"
#include "ToolbarDelegate.h"
#include "ToolbarImages.h"
#include "ToolbarItem.h"
#include "WindowGeometry.h"

#include <QAnimationDriver>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMap>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <limits>

#ifdef VELMORA_TEST_XCB
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#endif

namespace {

// Animation time moves one 16 ms frame per tick of the event loop, whatever the wall clock
// does, so every animated resize goes through the same intermediate frames on a busy machine.
class SteppedAnimationDriver : public QAnimationDriver
{
public:
    explicit SteppedAnimationDriver(QObject *parent) : QAnimationDriver(parent)
    {
        m_tick.setInterval(0);
        connect(&m_tick, &QTimer::timeout, this, [this] {
            m_elapsed += 16;
            advance();
        });
    }

    qint64 elapsed() const override { return m_elapsed; }

protected:
    // The animation timer counts from zero each time it restarts the driver.
    void start() override
    {
        m_elapsed = 0;
        QAnimationDriver::start();
        m_tick.start();
    }
    void stop() override
    {
        m_tick.stop();
        QAnimationDriver::stop();
    }

private:
    QTimer m_tick;
    qint64 m_elapsed = 0;
};

class PaneDelegate : public ToolbarDelegate
{
public:
    PaneDelegate()
    {
        for (const auto &[identifier, name] :
             {std::pair{"1", "Main"}, std::pair{"2", "Server"}, std::pair{"4", "Help"}}) {
            auto *item = new ToolbarItem(QString::fromLatin1(identifier), &owner);
            item->setLabel(QString::fromLatin1(name));
            item->setImage(toolbarImageNamed(QString::fromLatin1(name)));
            items.insert(item->itemIdentifier(), item);
        }
    }
    QStringList toolbarDefaultItemIdentifiers(Toolbar *) override
    {
        return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4"),
                ToolbarFlexibleSpaceItemIdentifier};
    }
    QStringList toolbarAllowedItemIdentifiers(Toolbar *toolbar) override
    {
        return toolbarDefaultItemIdentifiers(toolbar);
    }
    QStringList toolbarSelectableItemIdentifiers(Toolbar *) override
    {
        return {QStringLiteral("1"), QStringLiteral("2")};
    }
    ToolbarItem *toolbarItemForItemIdentifier(Toolbar *, const QString &identifier, bool) override
    {
        return items.value(identifier);
    }

    QObject owner;
    QMap<QString, ToolbarItem *> items;
};

// Where the X server itself has the window, as opposed to what Qt believes. Qt and this query
// share one connection, so the answer reflects every request Qt has made so far.
QRect serverGeometry(QWidget *window)
{
#ifdef VELMORA_TEST_XCB
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return QRect();
    xcb_connection_t *connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_translate_coordinates_reply_t *place = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, id, root, 0, 0), nullptr);
    xcb_get_geometry_reply_t *size =
        xcb_get_geometry_reply(connection, xcb_get_geometry(connection, id), nullptr);
    QRect rect;
    if (place && size)
        rect = QRect(place->dst_x, place->dst_y, size->width, size->height);
    std::free(place);
    std::free(size);
    return rect;
#else
    return window->geometry();
#endif
}

struct Sample
{
    QPoint frameTopLeft;
    QRect server;
    QSize size;
    // By name: the blank view of a switch is gone by the time the samples are checked.
    QString central;
};

// Records the window on every move and resize while a switch runs.
class Recorder : public QObject
{
public:
    explicit Recorder(QMainWindow *window) : m_window(window) { window->installEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_window &&
            (event->type() == QEvent::Resize || event->type() == QEvent::Move)) {
            samples.append(
                {m_window->frameGeometry().topLeft(), serverGeometry(m_window), m_window->size(),
                 m_window->centralWidget() ? m_window->centralWidget()->objectName() : QString()});
        }
        return false;
    }

    QList<Sample> samples;

private:
    QMainWindow *m_window;
};

QWidget *makePane(QWidget *owner, const QString &name, const QSize &size)
{
    auto *pane = new QWidget(owner);
    pane->setObjectName(name);
    auto *layout = new QVBoxLayout(pane);
    auto *label = new QLabel(name, pane);
    auto *edit = new QLineEdit(pane);
    edit->setAccessibleName(name);
    layout->addWidget(label);
    layout->addWidget(edit);
    layout->addStretch();
    pane->resize(size);
    pane->hide();
    return pane;
}

// The launcher's pane switch, step by step: blank view first, frame from the three
// rectangles read after that, animated resize, then the pane and its minimum size.
void switchTo(QMainWindow *window, QWidget *pane)
{
    auto *blank = new QWidget;
    blank->setObjectName(QStringLiteral("blank"));
    if (const QWidget *current = window->centralWidget())
        blank->resize(current->size());
    takeAndSetCentralWidget(window, blank);
    const FrameRect frame =
        paneSwitchFrame(windowFrame(window), contentFrame(window), viewFrame(pane));
    setWindowFrame(window, frame, true);
    delete takeAndSetCentralWidget(window, pane);
    setContentMinSize(window, QSizeF(pane->rect().size()));
}

} // namespace

class PanesWindowTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void switchingPanesKeepsTheTopLeftCorner();
    void frameConversions();
    void unusableFramesAreIgnored();

private:
    QPointer<SteppedAnimationDriver> m_driver;
};

void PanesWindowTest::initTestCase()
{
    QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    m_driver = new SteppedAnimationDriver(this);
    m_driver->install();
}

void PanesWindowTest::switchingPanesKeepsTheTopLeftCorner()
{
    PaneDelegate delegate;
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Panes"));
    auto *toolbar = new Toolbar(QStringLiteral("PreferencePanes"));
    toolbar->setDelegate(&delegate);
    setToolbar(&window, toolbar);
    setShowsToolbarButton(&window, false);
    toolbar->setSelectedItemIdentifier(QStringLiteral("1"));

    const QSize sizeA(460, 260);
    const QSize sizeB(620, 410);
    QPointer<QWidget> paneA = makePane(&window, QStringLiteral("Main pane"), sizeA);
    QPointer<QWidget> paneB = makePane(&window, QStringLiteral("Server pane"), sizeB);

    // First pane while the window is still hidden: applied at once, no animation.
    window.move(150, 120);
    switchTo(&window, paneA);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QPoint topLeft = window.frameGeometry().topLeft();
    QCOMPARE(topLeft, QPoint(150, 120));
    QCOMPARE(serverGeometry(&window).topLeft(), topLeft);
    QCOMPARE(paneA->size(), sizeA);

    // Everything but the pane: the toolbar above it, nothing beside it.
    const QSize chrome = window.size() - sizeA;
    QCOMPARE(chrome.width(), 0);
    QVERIFY(chrome.height() >= toolbar->height());

    struct Step
    {
        QPointer<QWidget> pane;
        QSize size;
        bool resizes;
    };
    const QList<Step> steps = {
        {paneB, sizeB, true}, {paneA, sizeA, true}, {paneA, sizeA, false}, {paneB, sizeB, true}};
    for (const Step &step : steps) {
        const QString name = step.pane->objectName();
        Recorder recorder(&window);
        switchTo(&window, step.pane);

        QSet<int> heights;
        for (const Sample &sample : std::as_const(recorder.samples)) {
            QCOMPARE(sample.frameTopLeft, topLeft);
            QCOMPARE(sample.server.topLeft(), topLeft);
            heights.insert(sample.size.height());
            // The pane comes in only after the resize: the blank view fills every frame.
            if (sample.size != step.size + chrome)
                QCOMPARE(sample.central, QStringLiteral("blank"));
        }
        if (step.resizes)
            QVERIFY2(heights.size() >= 4, qPrintable(name));
        else
            QVERIFY2(heights.size() <= 1, qPrintable(name));

        QCoreApplication::processEvents();
        QCOMPARE(window.centralWidget(), step.pane.data());
        QVERIFY(step.pane->isVisible());
        QCOMPARE(step.pane->size(), step.size);
        QCOMPARE(window.frameGeometry().topLeft(), topLeft);
        QCOMPARE(serverGeometry(&window), QRect(topLeft, step.size + chrome));

        // Both panes live on; the one not shown is out of sight.
        QVERIFY(paneA && paneB);
        QWidget *other = step.pane == paneA ? paneB.data() : paneA.data();
        QVERIFY(!other->isVisible());
        QCOMPARE(window.findChildren<QWidget *>(QStringLiteral("blank")).size(), 0);

        // The content area cannot shrink below this pane, but below the other one it may.
        QCOMPARE(window.minimumSize(), step.size + chrome);
        window.resize(1, 1);
        QCoreApplication::processEvents();
        QCOMPARE(window.centralWidget()->size(), step.size);
        QCOMPARE(serverGeometry(&window).size(), step.size + chrome);
    }
    QVERIFY(toolbar->isVisible());
    QCOMPARE(toolbar->selectedItemIdentifier(), QStringLiteral("1"));
}

void PanesWindowTest::frameConversions()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QMainWindow window;
    auto *content = new QWidget;
    window.setCentralWidget(content);
    window.setGeometry(200, 100, 400, 300);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const FrameRect frame = windowFrame(&window);
    QCOMPARE(frame.x, 200.0f);
    QCOMPARE(frame.y, float(screen.height() - 100 - 300));
    QCOMPARE(frame.width, 400.0f);
    QCOMPARE(frame.height, 300.0f);
    const FrameRect inside = contentFrame(&window);
    QCOMPARE(inside.width, 400.0f);
    QCOMPARE(inside.height, 300.0f);
    QCOMPARE(inside.y, 0.0f);

    // Back and forth through the bottom-left coordinates moves nothing.
    setWindowFrame(&window, windowFrame(&window), true);
    QCOMPARE(window.geometry(), QRect(200, 100, 400, 300));

    // A frame given in bottom-left coordinates lands where it says, top edge included.
    setWindowFrame(&window, FrameRect{10, float(screen.height() - 50 - 200), 350, 200}, false);
    QCOMPARE(window.geometry(), QRect(10, 50, 350, 200));
    QCoreApplication::processEvents();
    QCOMPARE(serverGeometry(&window), QRect(10, 50, 350, 200));

    // A window may be set smaller than the minimum the user is held to.
    setContentMinSize(&window, QSizeF(300.2, 180));
    QCOMPARE(window.minimumSize(), QSize(301, 180));
    setWindowFrame(&window, FrameRect{10, float(screen.height() - 50 - 120), 250, 120}, true);
    QCOMPARE(window.geometry(), QRect(10, 50, 250, 120));
}

void PanesWindowTest::unusableFramesAreIgnored()
{
    QMainWindow window;
    auto *pane = new QWidget;
    window.setCentralWidget(pane);
    window.setGeometry(60, 70, 320, 240);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    for (const FrameRect &bad : {FrameRect{nan, 0, 100, 100}, FrameRect{0, inf, 100, 100},
                                 FrameRect{0, 0, -inf, 100}, FrameRect{0, 0, 100, nan}}) {
        setWindowFrame(&window, bad, true);
        QCOMPARE(window.geometry(), QRect(60, 70, 320, 240));
    }
    setContentMinSize(&window, QSizeF(qQNaN(), -5));
    QCOMPARE(window.minimumSize(), QSize(0, 0));

    // Handing the central widget back to itself neither loses nor returns it.
    QCOMPARE(takeAndSetCentralWidget(&window, pane), nullptr);
    QCOMPARE(window.centralWidget(), pane);
    QVERIFY(pane->isVisible());
}

QTEST_MAIN(PanesWindowTest)
#include "tst_paneswindow.moc"
