#pragma once

#include "ToolbarDelegate.h"

#include <QHash>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class QMainWindow;
class QWidget;
class ToolbarItem;

// The window's toolbar of panes: Main and Server as selectable items, a flexible space, Help. A
// pane item shows its pane with the animated resize around it; the window owns both panes all
// along, the one not shown included.
class PaneSwitcher : public QObject, public ToolbarDelegate
{
    Q_OBJECT
public:
    using ImageLookup = std::function<QIcon(const QString &name)>;

    // `images` gives each item's image by its untranslated name.
    PaneSwitcher(QMainWindow *window, QWidget *mainPane, QWidget *serverPane, ImageLookup images,
                 QObject *parent = nullptr);

    // Builds the toolbar and shows the Main pane.
    void initViews();
    // Item identifier to item; owned here.
    const QHash<QString, ToolbarItem *> &toolBarItems() const { return m_toolBarItems; }
    ToolbarItem *addToolBarItem(const QString &name);
    // Shows the pane of a Main or Server item; other items do nothing. A switch asked for while
    // one is under way (the animation runs the event loop) follows it; the latest such wins.
    void switchViews(ToolbarItem *item);

    QStringList toolbarSelectableItemIdentifiers(Toolbar *toolbar) override;
    QStringList toolbarDefaultItemIdentifiers(Toolbar *toolbar) override;
    QStringList toolbarAllowedItemIdentifiers(Toolbar *toolbar) override;
    ToolbarItem *toolbarItemForItemIdentifier(Toolbar *toolbar, const QString &itemIdentifier,
                                              bool willBeInsertedIntoToolbar) override;

Q_SIGNALS:
    void helpRequested();
    // Before a switch measures the pane it is to show: a pane that makes its widgets on first
    // need makes them now.
    void paneAboutToShow(QWidget *pane);
    // After a switch has finished, with the pane now shown.
    void paneShown(QWidget *pane);

private:
    QMainWindow *m_window;
    QWidget *m_mainPane;
    QWidget *m_serverPane;
    ImageLookup m_images;
    QHash<QString, ToolbarItem *> m_toolBarItems;
    bool m_switching = false;
    QPointer<ToolbarItem> m_pendingSwitch;
};
