#include "PaneSwitcher.h"

#include "Toolbar.h"
#include "ToolbarItem.h"
#include "WindowGeometry.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>

#include <utility>

PaneSwitcher::PaneSwitcher(QMainWindow *window, QWidget *mainPane, QWidget *serverPane,
                           ImageLookup images, QObject *parent)
    : QObject(parent), m_window(window), m_mainPane(mainPane), m_serverPane(serverPane),
      m_images(std::move(images))
{}

QStringList PaneSwitcher::toolbarDefaultItemIdentifiers(Toolbar *)
{
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
            QStringLiteral("4"), QStringLiteral("5"), ToolbarFlexibleSpaceItemIdentifier,
            QStringLiteral("7")};
}

QStringList PaneSwitcher::toolbarAllowedItemIdentifiers(Toolbar *toolbar)
{
    return toolbarDefaultItemIdentifiers(toolbar);
}

QStringList PaneSwitcher::toolbarSelectableItemIdentifiers(Toolbar *)
{
    return {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
            QStringLiteral("5")};
}

ToolbarItem *PaneSwitcher::toolbarItemForItemIdentifier(Toolbar *, const QString &itemIdentifier,
                                                        bool)
{
    return m_toolBarItems.value(itemIdentifier, nullptr);
}

ToolbarItem *PaneSwitcher::addToolBarItem(const QString &name)
{
    const int n = int(m_toolBarItems.size()) + 1;
    auto *item = new ToolbarItem(QString::number(n), this);
    item->setTag(n);
    connect(item, &QAction::triggered, this, [this, item] { switchViews(item); });
    m_toolBarItems.insert(item->itemIdentifier(), item);
    item->setLabel(QCoreApplication::translate("Toolbar", name.toUtf8().constData()));
    if (m_images)
        item->setImage(m_images(name));
    return item;
}

void PaneSwitcher::initViews()
{
    m_toolBarItems.clear();
    ToolbarItem *first = addToolBarItem(QStringLiteral(QT_TRANSLATE_NOOP("Toolbar", "Main")));
    first->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_1));
    addToolBarItem(QStringLiteral(QT_TRANSLATE_NOOP("Toolbar", "Server")))
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_2));
    auto *item = new ToolbarItem(ToolbarFlexibleSpaceItemIdentifier, this);
    m_toolBarItems.insert(item->itemIdentifier(), item);
    ToolbarItem *help = addToolBarItem(QStringLiteral(QT_TRANSLATE_NOOP("Toolbar", "Help")));
    help->disconnect(this);
    connect(help, &QAction::triggered, this, &PaneSwitcher::helpRequested);

    auto *toolbar = new Toolbar(QStringLiteral("PreferencePanes"));
    toolbar->setDelegate(this);
    toolbar->setAllowsUserCustomization(false);
    toolbar->setAutosavesConfiguration(false);
    setToolbar(m_window, toolbar);
    setShowsToolbarButton(m_window, false);
    toolbar->setSelectedItemIdentifier(first->itemIdentifier());
    switchViews(first);
}

void PaneSwitcher::switchViews(ToolbarItem *item)
{
    if (m_switching) {
        m_pendingSwitch = item;
        return;
    }
    QWidget *prefsView = nullptr;
    if (item->tag() == 1)
        prefsView = m_mainPane;
    else if (item->tag() == 2)
        prefsView = m_serverPane;
    else
        return;
    Q_EMIT paneAboutToShow(prefsView);

    // A blank view stands in while the window resizes; the pane that goes out is kept, not deleted.
    m_switching = true;
    auto *tempView = new QWidget;
    if (QWidget *current = m_window->centralWidget())
        tempView->setGeometry(current->geometry());
    takeAndSetCentralWidget(m_window, tempView);

    // The window keeps within the screen's free area, however large the pane and the scale; a
    // pane given less room than it needs scrolls inside itself.
    const FrameRect screen = availableFrame(m_window);
    const FrameRect newFrame = fitFrameToScreen(
        paneSwitchFrame(windowFrame(m_window), contentFrame(m_window), viewFrame(prefsView)),
        screen);
    setWindowFrame(m_window, newFrame, true);

    QWidget *out = takeAndSetCentralWidget(m_window, prefsView);
    if (out == tempView)
        delete out;
    setContentMinSize(m_window, QSizeF(prefsView->rect().size()),
                      QSizeF(screen.width, screen.height));
    m_switching = false;
    Q_EMIT paneShown(prefsView);

    if (QPointer<ToolbarItem> next = std::exchange(m_pendingSwitch, nullptr))
        switchViews(next);
}
