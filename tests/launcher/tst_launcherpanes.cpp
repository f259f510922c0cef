// The launcher's toolbar registry and its answers, and switching panes on a real window. Runs on
// a private Xvfb with no window manager, so the window's place on screen is the X server's word.
#include "LauncherFixture.h"
#include "UrlRecorder.h"

#include "PaneSwitcher.h"
#include "Toolbar.h"
#include "ToolbarItem.h"
#include "WindowGeometry.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QDesktopServices>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace LauncherFixture;

class LauncherPanesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void registryAfterSetUp();
    void identifierLists();
    void lookupByIdentifier();
    void furtherItemsFollowTheRegistrySize();
    void toolbarShowsMainServerHelp();
    void helpOpensHelpOnly();
    void switchingKeepsTopLeftAndPanes();
    void switchAskedForDuringASwitch();
    void oneActionSwitchesOnce_data();
    void oneActionSwitchesOnce();
    void otherTagsChangeNothing_data();
    void otherTagsChangeNothing();

private:
    std::unique_ptr<Window> shownWindow();
};

void LauncherPanesTest::init()
{
    clearPreferences();
}

std::unique_ptr<Window> LauncherPanesTest::shownWindow()
{
    auto w = openWindow(QString::fromLocal8Bit(qgetenv("VELMORA_BUILD_DIR")) +
                        QStringLiteral("/velmora-launcher"));
    QMainWindow *window = w->interface->window();
    window->move(200, 150);
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        return nullptr;
    return w;
}

void LauncherPanesTest::registryAfterSetUp()
{
    const auto w = shownWindow();
    QVERIFY(w);
    const auto &items = w->launcher()->toolBarItems();
    QCOMPARE(items.size(), 4);
    const QStringList keys{"1", "2", ToolbarFlexibleSpaceItemIdentifier, "4"};
    for (const QString &key : keys)
        QVERIFY2(items.contains(key), qPrintable(key));
    QCOMPARE(items.value("1")->tag(), 1);
    QCOMPARE(items.value("2")->tag(), 2);
    QCOMPARE(items.value("4")->tag(), 4); // Help is "4", not "3": the space counts
    QCOMPARE(items.value("1")->label(), QStringLiteral("Main"));
    QCOMPARE(items.value("2")->label(), QStringLiteral("Server"));
    QCOMPARE(items.value("4")->label(), QStringLiteral("Help"));
    for (const QString &key : {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("4")}) {
        QVERIFY2(!items.value(key)->image().isNull(), qPrintable(key));
        QCOMPARE(items.value(key)->itemIdentifier(), key);
    }
}

void LauncherPanesTest::identifierLists()
{
    PaneSwitcher panes(nullptr, nullptr, nullptr, {});
    const QStringList defaults{"1", "2", "3", "4", "5", ToolbarFlexibleSpaceItemIdentifier, "7"};
    QCOMPARE(panes.toolbarDefaultItemIdentifiers(nullptr), defaults);
    for (int call = 0; call < 3; ++call)
        QCOMPARE(panes.toolbarAllowedItemIdentifiers(nullptr), defaults);
    QCOMPARE(panes.toolbarSelectableItemIdentifiers(nullptr),
             (QStringList{"1", "2", "3", "4", "5"}));
}

void LauncherPanesTest::lookupByIdentifier()
{
    const auto w = shownWindow();
    QVERIFY(w);
    PaneSwitcher *launcher = w->launcher()->panes();
    for (const char *missing : {"3", "5", "7", "", "Main"})
        QVERIFY2(
            !launcher->toolbarItemForItemIdentifier(nullptr, QString::fromLatin1(missing), true),
            missing);
    for (const char *present : {"1", "2", "4"}) {
        const QString id = QString::fromLatin1(present);
        ToolbarItem *first = launcher->toolbarItemForItemIdentifier(nullptr, id, true);
        QVERIFY(first);
        QCOMPARE(launcher->toolbarItemForItemIdentifier(nullptr, id, false), first);
        QCOMPARE(launcher->toolbarItemForItemIdentifier(nullptr, id, true), first);
    }
}

void LauncherPanesTest::furtherItemsFollowTheRegistrySize()
{
    const auto w = shownWindow();
    QVERIFY(w);
    ToolbarItem *item = w->launcher()->addToolBarItem(QStringLiteral("Extra"));
    QCOMPARE(item->itemIdentifier(), QStringLiteral("5"));
    QCOMPARE(item->tag(), 5);
    QCOMPARE(item->label(), QStringLiteral("Extra")); // no translation: the name itself
    QVERIFY(item->image().isNull());                  // no image of that name
    QCOMPARE(
        w->launcher()->panes()->toolbarItemForItemIdentifier(nullptr, QStringLiteral("5"), true),
        item);
}

void LauncherPanesTest::toolbarShowsMainServerHelp()
{
    const auto w = shownWindow();
    QVERIFY(w);
    auto *toolbar = w->interface->window()->findChild<Toolbar *>();
    QVERIFY(toolbar);
    QCOMPARE(toolbar->identifier(), QStringLiteral("PreferencePanes"));
    QVERIFY(!toolbar->isMovable());
    QVERIFY(!toolbar->allowsUserCustomization());
    QVERIFY(!toolbar->autosavesConfiguration());
    QCOMPARE(toolbar->selectedItemIdentifier(), QStringLiteral("1"));
    QStringList shown;
    for (QAction *action : toolbar->actions()) {
        if (auto *item = qobject_cast<ToolbarItem *>(action); item && !item->text().isEmpty())
            shown << item->text();
    }
    QCOMPARE(shown, (QStringList{"Main", "Server", "Help"}));
    // Main is the shown pane at start.
    QCOMPARE(w->interface->window()->centralWidget(), w->launcher()->view1());
}

void LauncherPanesTest::helpOpensHelpOnly()
{
    const auto w = shownWindow();
    QVERIFY(w);
    QWidget *before = w->interface->window()->centralWidget();
    const QRect frame = w->interface->window()->frameGeometry();
    UrlRecorder viewer;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &viewer, "openUrl");
    w->launcher()->toolBarItems().value("4")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(viewer.urls.size(), 1); // README.html lies beside the launcher in the build folder
    QVERIFY(viewer.urls.first().toLocalFile().endsWith(QStringLiteral("/README.html")));
    QCOMPARE(w->interface->window()->centralWidget(), before);
    QCOMPARE(w->interface->window()->frameGeometry(), frame);
}

void LauncherPanesTest::switchingKeepsTopLeftAndPanes()
{
    const auto w = shownWindow();
    QVERIFY(w);
    QMainWindow *window = w->interface->window();
    Launcher *launcher = w->launcher();
    QPointer<QWidget> main = launcher->view1();
    QPointer<QWidget> server = launcher->view2();
    const QPoint topLeft = window->frameGeometry().topLeft();

    const struct
    {
        const char *id;
        QPointer<QWidget> pane;
    } steps[] = {{"2", server}, {"1", main}, {"2", server}, {"2", server}, {"1", main}};
    for (const auto &step : steps) {
        launcher->toolBarItems().value(QString::fromLatin1(step.id))->trigger();
        QVERIFY(main && server); // the pane that went out survives
        QCOMPARE(window->centralWidget(), step.pane.data());
        QTRY_COMPARE(window->frameGeometry().topLeft(), topLeft);
        // The smallest content size is the shown pane's: shrinking stops there.
        const QSize paneSize = step.pane->size();
        window->resize(1, 1);
        QTRY_COMPARE(window->centralWidget()->size(), paneSize);
        QCOMPARE(window->frameGeometry().topLeft(), topLeft);
    }
    // The panes really differ in size, so the window did resize.
    QVERIFY(main->size() != server->size());
}

void LauncherPanesTest::switchAskedForDuringASwitch()
{
    // An assistive tool's press arrives while the window is still resizing for the last one.
    const auto w = shownWindow();
    QVERIFY(w);
    QMainWindow *window = w->interface->window();
    Launcher *launcher = w->launcher();
    QPointer<QWidget> main = launcher->view1();
    QPointer<QWidget> server = launcher->view2();
    const QPoint topLeft = window->frameGeometry().topLeft();
    QTimer::singleShot(0, launcher, [launcher] { launcher->toolBarItems().value("1")->trigger(); });
    launcher->toolBarItems().value("2")->trigger();
    QVERIFY(main && server);
    QTRY_COMPARE(window->centralWidget(), main.data());
    QVERIFY(main && server);
    QCOMPARE(main->parentWidget(), window->centralWidget()->parentWidget());
    QCOMPARE(server->parentWidget(), window); // kept, hidden, under the window
    QVERIFY(!server->isVisible());
    QTRY_COMPARE(window->frameGeometry().topLeft(), topLeft);
    // No blank view is left behind among the window's children.
    int blanks = 0;
    for (QWidget *child : window->findChildren<QWidget *>(Qt::FindDirectChildrenOnly)) {
        if (child->objectName().isEmpty() && child->metaObject() == &QWidget::staticMetaObject)
            ++blanks;
    }
    QCOMPARE(blanks, 0);
}

namespace {

// Counts the blank views a window is given and then rid of: each pane switch shows one while it
// resizes, and deletes it when the pane is in.
class SwitchCounter : public QObject
{
public:
    explicit SwitchCounter(QWidget *window) { window->installEventFilter(this); }
    int switches = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::ChildAdded)
            return false;
        QObject *child = static_cast<QChildEvent *>(event)->child();
        // A blank view, not a pane coming back; it may come and go from the window twice.
        if (child->metaObject() != &QWidget::staticMetaObject || !child->objectName().isEmpty() ||
            m_blanks.contains(child))
            return false;
        m_blanks.insert(child);
        connect(child, &QObject::destroyed, this, [this, child] {
            m_blanks.remove(child);
            ++switches;
        });
        return false;
    }

private:
    QSet<QObject *> m_blanks;
};

} // namespace

void LauncherPanesTest::oneActionSwitchesOnce_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("id");
    QTest::addColumn<int>("toggles"); // of the item acted on

    QTest::newRow("click on the other pane") << "click"
                                             << "2" << 1;
    // Clicking unchecks the shown item, and the toolbar checks it again.
    QTest::newRow("click on the shown pane") << "click"
                                             << "1" << 2;
    QTest::newRow("space on the other pane's button") << "space"
                                                      << "2" << 1;
    QTest::newRow("assistive press on the other pane") << "assistive"
                                                       << "2" << -1;
}

void LauncherPanesTest::oneActionSwitchesOnce()
{
    QFETCH(QString, how);
    QFETCH(QString, id);
    QFETCH(int, toggles);
    const auto w = shownWindow();
    QVERIFY(w);
    QMainWindow *window = w->interface->window();
    ToolbarItem *item = w->launcher()->toolBarItems().value(id);
    auto *toolbar = window->findChild<Toolbar *>();
    auto *button = qobject_cast<QToolButton *>(toolbar->widgetForAction(item));
    QVERIFY(button);
    QWidget *pane = id == u"1" ? w->launcher()->view1() : w->launcher()->view2();

    QSignalSpy triggered(item, &QAction::triggered);
    QSignalSpy toggled(item, &QAction::toggled);
    SwitchCounter counter(window);
    if (how == u"click") {
        QTest::mouseClick(button, Qt::LeftButton);
    } else if (how == u"space") {
        QTest::keyClick(button, Qt::Key_Space);
    } else {
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(button);
        QVERIFY(accessible && accessible->actionInterface());
        const QStringList names = accessible->actionInterface()->actionNames();
        QVERIFY(!names.isEmpty());
        accessible->actionInterface()->doAction(names.first());
    }
    // Long enough for every queued and animated step of a switch, and of a second one.
    QTest::qWait(600);
    QCOMPARE(counter.switches, 1);
    QCOMPARE(triggered.count(), 1);
    if (toggles >= 0)
        QCOMPARE(toggled.count(), toggles);
    QCOMPARE(window->centralWidget(), pane);
    QCOMPARE(toolbar->selectedItemIdentifier(), id);
    QVERIFY(item->isChecked());
}

void LauncherPanesTest::otherTagsChangeNothing_data()
{
    QTest::addColumn<int>("tag");
    QTest::newRow("tag 0") << 0;
    QTest::newRow("Help's tag 4") << 4;
    QTest::newRow("tag 3") << 3;
}

void LauncherPanesTest::otherTagsChangeNothing()
{
    QFETCH(int, tag);
    const auto w = shownWindow();
    QVERIFY(w);
    QMainWindow *window = w->interface->window();
    QWidget *central = window->centralWidget();
    const QRect frame = window->frameGeometry();
    const QSize minimum = window->minimumSize();
    ToolbarItem item(QStringLiteral("x"));
    item.setTag(tag);
    w->launcher()->switchViews(&item);
    QCOMPARE(window->centralWidget(), central);
    QCOMPARE(window->frameGeometry(), frame);
    QCOMPARE(window->minimumSize(), minimum);
}

VELMORA_LAUNCHER_TEST_MAIN(LauncherPanesTest)

#include "tst_launcherpanes.moc"
