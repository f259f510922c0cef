#include "LauncherStyle.h"
#include "Toolbar.h"
#include "ToolbarDelegate.h"
#include "ToolbarImages.h"
#include "ToolbarItem.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QMainWindow>
#include <QMap>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>
#include <QToolButton>
#include <QWidgetAction>

namespace {

class CountingStyle : public QCommonStyle
{
public:
    QIcon standardIcon(StandardPixmap which, const QStyleOption *option,
                       const QWidget *widget) const override
    {
        made += which == SP_ToolBarHorizontalExtensionButton ||
                which == SP_ToolBarVerticalExtensionButton;
        return QCommonStyle::standardIcon(which, option, widget);
    }
    mutable int made = 0;
};

const QStringList defaultList = {QStringLiteral("1"), QStringLiteral("2"),
                                 QStringLiteral("3"), QStringLiteral("4"),
                                 QStringLiteral("5"), ToolbarFlexibleSpaceItemIdentifier,
                                 QStringLiteral("7")};

// Answers like the launcher does: items "1", "2" and "4", nothing for the rest. Records every
// item request so tests can see what the toolbar asked and in which order.
class FakeDelegate : public ToolbarDelegate
{
public:
    FakeDelegate()
    {
        add(QStringLiteral("1"), QStringLiteral("Main"));
        add(QStringLiteral("2"), QStringLiteral("Server"));
        add(QStringLiteral("4"), QStringLiteral("Help"));
    }

    QStringList toolbarDefaultItemIdentifiers(Toolbar *) override { return defaults; }
    QStringList toolbarAllowedItemIdentifiers(Toolbar *) override { return allowed; }
    QStringList toolbarSelectableItemIdentifiers(Toolbar *) override { return selectable; }
    ToolbarItem *toolbarItemForItemIdentifier(Toolbar *, const QString &identifier,
                                              bool willBeInserted) override
    {
        asked.append(identifier);
        flags.append(willBeInserted);
        return items.value(identifier);
    }

    ToolbarItem *item(const QString &identifier) const { return items.value(identifier); }

    QStringList defaults = defaultList;
    QStringList allowed = defaultList;
    QStringList selectable = {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                              QStringLiteral("4"), QStringLiteral("5")};
    QStringList asked;
    QList<bool> flags;
    QObject owner; // keeps the items, as the launcher's registry would

private:
    void add(const QString &identifier, const QString &name)
    {
        auto *item = new ToolbarItem(identifier, &owner);
        item->setLabel(name);
        item->setImage(toolbarImageNamed(name));
        item->setTag(identifier.toInt());
        items.insert(identifier, item);
    }

    QMap<QString, ToolbarItem *> items;
};

struct Fixture
{
    explicit Fixture(FakeDelegate *delegate)
    {
        toolbar = new Toolbar(QStringLiteral("PreferencePanes"));
        toolbar->setDelegate(delegate);
        setToolbar(&window, toolbar);
        window.setCentralWidget(new QWidget);
        window.resize(800, 300);
        window.show();
    }

    QToolButton *button(QAction *action) const
    {
        return qobject_cast<QToolButton *>(toolbar->widgetForAction(action));
    }

    QMainWindow window;
    Toolbar *toolbar = nullptr;
};

QStringList checkedItems(const FakeDelegate &delegate)
{
    QStringList checked;
    for (const QString &identifier :
         {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")}) {
        if (delegate.item(identifier)->isChecked())
            checked.append(identifier);
    }
    return checked;
}

// True when a popup menu opened; closes it so the next check starts clean.
bool popupOpened()
{
    QWidget *popup = QApplication::activePopupWidget();
    if (popup)
        popup->close();
    return popup != nullptr;
}

void rightClick(QWidget *widget)
{
    const QPoint inside(2, 2);
    QContextMenuEvent event(QContextMenuEvent::Mouse, inside, widget->mapToGlobal(inside));
    QApplication::sendEvent(widget, &event);
}

} // namespace

class ToolbarTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void showsItemsOfTheDefaultListInOrder();
    void allowedListLimitsWhatAppears();
    void selection();
    void selectionChosenBeforeAttaching();
    void onlySelectableItemsAreCheckable();
    void newDelegateReplacesItemsAndHandlers();
    void itemsAndToolbarMayGoInEitherOrder();
    void cannotBeMovedOrHidden();
    void images_data();
    void images();
    void imagesAreTheirSourcesDrawn_data();
    void imagesAreTheirSourcesDrawn();
    void extensionImagesAreMadeWhenDrawn_data();
    void extensionImagesAreMadeWhenDrawn();
};

void ToolbarTest::showsItemsOfTheDefaultListInOrder()
{
    FakeDelegate delegate;
    Fixture fixture(&delegate);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));

    // Every identifier but the flexible space is asked for, once, in list order.
    QCOMPARE(delegate.asked,
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                          QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("7")}));
    QVERIFY(!delegate.flags.contains(false));

    // "3", "5" and "7" leave no trace: the same item objects, then the space, nothing else.
    const QList<QAction *> shown = fixture.toolbar->actions();
    QCOMPARE(shown.size(), 4);
    QCOMPARE(shown.at(0), delegate.item(QStringLiteral("1")));
    QCOMPARE(shown.at(1), delegate.item(QStringLiteral("2")));
    QCOMPARE(shown.at(2), delegate.item(QStringLiteral("4")));
    auto *space = qobject_cast<QWidgetAction *>(shown.at(3));
    QVERIFY(space);

    int previousRight = -1;
    const QStringList labels = {QStringLiteral("Main"), QStringLiteral("Server"),
                                QStringLiteral("Help")};
    for (int i = 0; i < labels.size(); ++i) {
        QToolButton *button = fixture.button(shown.at(i));
        QVERIFY(button);
        QVERIFY(button->isVisible());
        QCOMPARE(button->text(), labels.at(i));
        QCOMPARE(button->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(!button->icon().isNull());
        QVERIFY2(button->x() > previousRight, qPrintable(labels.at(i)));
        previousRight = button->geometry().right();
    }

    // The space comes last and takes up the room that is left.
    QWidget *spacer = fixture.toolbar->widgetForAction(space);
    QVERIFY(spacer && spacer->isVisible());
    QVERIFY(spacer->x() > previousRight);
    QCOMPARE(spacer->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
    QVERIFY2(spacer->width() > fixture.toolbar->width() / 2,
             qPrintable(QString::number(spacer->width())));
}

void ToolbarTest::allowedListLimitsWhatAppears()
{
    FakeDelegate delegate;
    delegate.allowed = {QStringLiteral("1"), QStringLiteral("4")};
    Fixture fixture(&delegate);

    QCOMPARE(fixture.toolbar->actions(), (QList<QAction *>{delegate.item(QStringLiteral("1")),
                                                           delegate.item(QStringLiteral("4"))}));
    QVERIFY(!delegate.asked.contains(QStringLiteral("2")));
}

void ToolbarTest::selection()
{
    FakeDelegate delegate;
    Fixture fixture(&delegate);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));
    ToolbarItem *main = delegate.item(QStringLiteral("1"));
    ToolbarItem *server = delegate.item(QStringLiteral("2"));
    ToolbarItem *help = delegate.item(QStringLiteral("4"));
    QSignalSpy serverClicks(server, &QAction::triggered);

    QCOMPARE(checkedItems(delegate), QStringList());
    fixture.toolbar->setSelectedItemIdentifier(QStringLiteral("1"));
    QCOMPARE(checkedItems(delegate), QStringList{QStringLiteral("1")});
    QVERIFY(fixture.button(main)->isChecked());

    QTest::mouseClick(fixture.button(server), Qt::LeftButton);
    QCOMPARE(serverClicks.count(), 1);
    QCOMPARE(fixture.toolbar->selectedItemIdentifier(), QStringLiteral("2"));
    QCOMPARE(checkedItems(delegate), QStringList{QStringLiteral("2")});

    // A second click on the selected item must not leave nothing selected.
    QTest::mouseClick(fixture.button(server), Qt::LeftButton);
    QCOMPARE(serverClicks.count(), 2);
    QCOMPARE(fixture.toolbar->selectedItemIdentifier(), QStringLiteral("2"));
    QCOMPARE(checkedItems(delegate), QStringList{QStringLiteral("2")});

    QTest::mouseClick(fixture.button(help), Qt::LeftButton);
    QCOMPARE(checkedItems(delegate), QStringList{QStringLiteral("4")});

    // Selecting an identifier that has no item clears the shown selection.
    fixture.toolbar->setSelectedItemIdentifier(QStringLiteral("3"));
    QCOMPARE(fixture.toolbar->selectedItemIdentifier(), QStringLiteral("3"));
    QCOMPARE(checkedItems(delegate), QStringList());
}

void ToolbarTest::selectionChosenBeforeAttaching()
{
    FakeDelegate delegate;
    QMainWindow window;
    auto *toolbar = new Toolbar(QStringLiteral("PreferencePanes"));
    toolbar->setDelegate(&delegate);
    toolbar->setSelectedItemIdentifier(QStringLiteral("2"));
    QCOMPARE(checkedItems(delegate), QStringList());
    setToolbar(&window, toolbar);
    QCOMPARE(checkedItems(delegate), QStringList{QStringLiteral("2")});
}

void ToolbarTest::onlySelectableItemsAreCheckable()
{
    FakeDelegate delegate;
    delegate.selectable = {QStringLiteral("1")};
    Fixture fixture(&delegate);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));
    fixture.toolbar->setSelectedItemIdentifier(QStringLiteral("1"));

    QVERIFY(delegate.item(QStringLiteral("1"))->isCheckable());
    QVERIFY(!delegate.item(QStringLiteral("2"))->isCheckable());
    QVERIFY(!delegate.item(QStringLiteral("4"))->isCheckable());

    QSignalSpy helpClicks(delegate.item(QStringLiteral("4")), &QAction::triggered);
    QTest::mouseClick(fixture.button(delegate.item(QStringLiteral("4"))), Qt::LeftButton);
    QCOMPARE(helpClicks.count(), 1);
    QCOMPARE(fixture.toolbar->selectedItemIdentifier(), QStringLiteral("1"));
    QCOMPARE(checkedItems(delegate), QStringList{QStringLiteral("1")});
}

void ToolbarTest::newDelegateReplacesItemsAndHandlers()
{
    FakeDelegate first;
    FakeDelegate second;
    second.defaults = {QStringLiteral("4"), QStringLiteral("1")};
    Fixture fixture(&first);
    fixture.toolbar->setSelectedItemIdentifier(QStringLiteral("1"));

    fixture.toolbar->setDelegate(&second);
    QCOMPARE(fixture.toolbar->actions(), (QList<QAction *>{second.item(QStringLiteral("4")),
                                                           second.item(QStringLiteral("1"))}));
    QVERIFY(second.item(QStringLiteral("1"))->isChecked());

    // The first delegate's items are no longer ours: plain again, and clicking one of them
    // (from wherever else it might be shown) does not move this toolbar's selection.
    ToolbarItem *oldServer = first.item(QStringLiteral("2"));
    QVERIFY(!oldServer->isCheckable());
    oldServer->trigger();
    QCOMPARE(fixture.toolbar->selectedItemIdentifier(), QStringLiteral("1"));
}

void ToolbarTest::itemsAndToolbarMayGoInEitherOrder()
{
    {
        FakeDelegate delegate;
        Fixture fixture(&delegate);
        fixture.toolbar->setSelectedItemIdentifier(QStringLiteral("2"));
        delete delegate.item(QStringLiteral("2"));
        QCOMPARE(fixture.toolbar->actions().size(), 3);
        fixture.toolbar->setSelectedItemIdentifier(QStringLiteral("1"));
        QVERIFY(delegate.item(QStringLiteral("1"))->isChecked());
    }
    {
        FakeDelegate delegate;
        {
            Fixture fixture(&delegate);
        }
        // The items outlive the window and its toolbar and still work.
        QSignalSpy clicks(delegate.item(QStringLiteral("1")), &QAction::triggered);
        delegate.item(QStringLiteral("1"))->trigger();
        QCOMPARE(clicks.count(), 1);
    }
}

void ToolbarTest::cannotBeMovedOrHidden()
{
    FakeDelegate delegate;
    Fixture fixture(&delegate);
    QVERIFY(QTest::qWaitForWindowExposed(&fixture.window));
    Toolbar *toolbar = fixture.toolbar;

    QVERIFY(!toolbar->isMovable());
    QVERIFY(!toolbar->isFloatable());
    QCOMPARE(toolbar->allowedAreas(), Qt::TopToolBarArea);
    QCOMPARE(fixture.window.toolBarArea(toolbar), Qt::TopToolBarArea);
    QVERIFY(!toolbar->accessibleName().isEmpty());

    QVERIFY(!toolbar->toggleViewAction()->isEnabled());
    toolbar->toggleViewAction()->trigger();
    QVERIFY(toolbar->isVisible());

    rightClick(toolbar);
    QVERIFY(!popupOpened());
    setShowsToolbarButton(&fixture.window, false);
    rightClick(toolbar);
    QVERIFY(!popupOpened());
    rightClick(fixture.window.centralWidget());
    QVERIFY(!popupOpened());

    // The same right click offers the toggle once the window is told to show it, which is what
    // makes the checks above mean something.
    setShowsToolbarButton(&fixture.window, true);
    rightClick(toolbar);
    QVERIFY(popupOpened());
    setShowsToolbarButton(&fixture.window, false);
    rightClick(toolbar);
    QVERIFY(!popupOpened());
    QVERIFY(toolbar->isVisible());
}

void ToolbarTest::images_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("exists");
    QTest::newRow("Main") << QStringLiteral("Main") << true;
    QTest::newRow("Server") << QStringLiteral("Server") << true;
    QTest::newRow("Help") << QStringLiteral("Help") << true;
    QTest::newRow("unknown name") << QStringLiteral("Console") << false;
    QTest::newRow("empty name") << QString() << false;
    QTest::newRow("file name, not image name") << QStringLiteral("Main.svg") << false;
    QTest::newRow("path out of the folder") << QStringLiteral("../icons/Main") << false;
    QTest::newRow("other resource") << QStringLiteral("velmora-launcher") << false;
}

void ToolbarTest::images()
{
    QFETCH(QString, name);
    QFETCH(bool, exists);

    const QIcon icon = toolbarImageNamed(name);
    QCOMPARE(!icon.isNull(), exists);
    if (!exists)
        return;

    const QImage image =
        icon.pixmap(QSize(32, 32)).toImage().convertToFormat(QImage::Format_ARGB32);
    QCOMPARE(image.size(), QSize(32, 32));
    // Readable on light and on dark bars: a fair share drawn, with dark edges and light marks.
    int drawn = 0;
    int dark = 0;
    int light = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor colour = image.pixelColor(x, y);
            if (colour.alpha() < 200)
                continue;
            ++drawn;
            if (colour.lightnessF() < 0.3)
                ++dark;
            else if (colour.lightnessF() > 0.7)
                ++light;
        }
    }
    QVERIFY2(drawn > 32 * 32 / 4, qPrintable(QString::number(drawn)));
    QVERIFY2(dark >= 20, qPrintable(QString::number(dark)));
    QVERIFY2(light >= 20, qPrintable(QString::number(light)));
}

void ToolbarTest::imagesAreTheirSourcesDrawn_data()
{
    QTest::addColumn<QIcon>("image");
    QTest::addColumn<QString>("source"); // below resources/
    QTest::addColumn<QList<int>>("sides");
    for (const char *name : {"Main", "Server", "Help"})
        QTest::newRow(name) << toolbarImageNamed(QString::fromLatin1(name))
                            << QStringLiteral("icons/%1.svg").arg(QLatin1String(name))
                            << QList<int>{32, 64};
    QTest::newRow("application") << applicationImage() << QStringLiteral("velmora-launcher.svg")
                                 << QList<int>{16, 32, 64, 128};
}

// The launcher ships its images drawn at build time: at every size it has, an image is what the
// SVG icon engine draws from the source, and it offers exactly those sizes (an X11 window's icon
// is given in the sizes the icon offers).
void ToolbarTest::imagesAreTheirSourcesDrawn()
{
    QFETCH(QIcon, image);
    QFETCH(QString, source);
    QFETCH(QList<int>, sides);
    const QString sources =
        qEnvironmentVariable("VELMORA_TEST_SOURCE_DIR") + QStringLiteral("/../../resources/");
    const QIcon drawn(QDir::cleanPath(sources + source));
    QVERIFY2(!drawn.isNull(), qPrintable(sources + source));

    QList<QSize> sizes;
    for (const int side : sides) {
        sizes.append(QSize(side, side));
        const QImage shipped = image.pixmap(QSize(side, side))
                                   .toImage()
                                   .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const QImage expected = drawn.pixmap(QSize(side, side))
                                    .toImage()
                                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(shipped.size(), QSize(side, side));
        QVERIFY2(shipped == expected, qPrintable(QStringLiteral("%1 px").arg(side)));
    }
    QCOMPARE(image.availableSizes(), sizes);
}

void ToolbarTest::extensionImagesAreMadeWhenDrawn_data()
{
    QTest::addColumn<bool>("menuBar");
    QTest::newRow("menu bar") << true;
    QTest::newRow("toolbar") << false;
}

// The bars' extension buttons are made with the bars, their images when drawn: the base style's.
void ToolbarTest::extensionImagesAreMadeWhenDrawn()
{
    QFETCH(bool, menuBar);
    const QString previous = QApplication::style()->name();
    auto *base = new CountingStyle;
    QApplication::setStyle(new LauncherStyle(base));
    auto *window = new QMainWindow;
    auto *toolbar = new QToolBar(window);
    const auto *button =
        menuBar
            ? window->menuBar()->findChild<QToolButton *>(QStringLiteral("qt_menubar_ext_button"))
            : toolbar->findChild<QToolButton *>(QStringLiteral("qt_toolbar_ext_button"));
    QVERIFY(button);
    QCOMPARE(base->made, 0);
    const QImage drawn = button->icon().pixmap(QSize(16, 16)).toImage();
    QCOMPARE(base->made, 1);
    const QIcon expected =
        base->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton, nullptr, nullptr);
    QCOMPARE(drawn, expected.pixmap(QSize(16, 16)).toImage());
    delete window;
    QApplication::setStyle(QStyleFactory::create(previous));
}

QTEST_MAIN(ToolbarTest)
#include "tst_toolbar.moc"
