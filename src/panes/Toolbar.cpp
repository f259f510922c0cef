#include "Toolbar.h"

#include "ToolbarDelegate.h"
#include "ToolbarItem.h"

#include <QMainWindow>
#include <QScopedValueRollback>
#include <QSizePolicy>
#include <QWidget>

namespace {

QList<Toolbar *> windowToolbars(QMainWindow *window)
{
    return window->findChildren<Toolbar *>(QString(), Qt::FindDirectChildrenOnly);
}

void setToggleUsable(Toolbar *toolbar, bool usable)
{
    QAction *toggle = toolbar->toggleViewAction();
    toggle->setEnabled(usable);
    toggle->setVisible(usable);
    // A right click on the toolbar is where the window offers its toggle; without one, the
    // click stops here instead of reaching the window.
    toolbar->setContextMenuPolicy(usable ? Qt::DefaultContextMenu : Qt::PreventContextMenu);
}

} // namespace

Toolbar::Toolbar(const QString &identifier, QWidget *parent)
    : QToolBar(parent), m_identifier(identifier)
{
    setObjectName(identifier);
    setAccessibleName(tr("Panes"));
    setWindowTitle(tr("Panes"));
    setMovable(false);
    setFloatable(false);
    setAllowedAreas(Qt::TopToolBarArea);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setIconSize(QSize(32, 32));
    setToggleUsable(this, false);
}

Toolbar::~Toolbar()
{
    // The items outlive us; leave them without our handlers.
    for (const QMetaObject::Connection &connection : std::as_const(m_itemConnections))
        disconnect(connection);
}

void Toolbar::setDelegate(ToolbarDelegate *delegate)
{
    m_delegate = delegate;
    if (m_window)
        reloadItems();
}

void Toolbar::setSelectedItemIdentifier(const QString &itemIdentifier)
{
    m_selectedItemIdentifier = itemIdentifier;
    applySelection();
}

void Toolbar::attachToWindow(QMainWindow *window)
{
    if (!window)
        return;
    window->addToolBar(Qt::TopToolBarArea, this);
    m_window = window;
    reloadItems();
}

void Toolbar::clearItems()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_itemConnections))
        disconnect(connection);
    m_itemConnections.clear();
    for (const QPointer<ToolbarItem> &item : std::as_const(m_selectableItems)) {
        if (item)
            item->setCheckable(false);
    }
    m_selectableItems.clear();
    // Spacers are ours (QWidgetActions made by addWidget); items belong to the delegate's side.
    const QList<QAction *> shown = actions();
    for (QAction *action : shown) {
        removeAction(action);
        if (!qobject_cast<ToolbarItem *>(action) && action->parent() == this)
            delete action;
    }
}

void Toolbar::reloadItems()
{
    clearItems();
    if (!m_delegate)
        return;

    const QStringList defaults = m_delegate->toolbarDefaultItemIdentifiers(this);
    const QStringList allowed = m_delegate->toolbarAllowedItemIdentifiers(this);
    const QStringList selectable = m_delegate->toolbarSelectableItemIdentifiers(this);

    for (const QString &identifier : defaults) {
        if (!allowed.contains(identifier))
            continue;
        if (identifier == ToolbarFlexibleSpaceItemIdentifier) {
            auto *spacer = new QWidget(this);
            spacer->setObjectName(QStringLiteral("flexibleSpace"));
            spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            addWidget(spacer);
            continue;
        }
        ToolbarItem *item = m_delegate->toolbarItemForItemIdentifier(this, identifier, true);
        if (!item)
            continue;
        addAction(item);
        if (selectable.contains(identifier)) {
            item->setCheckable(true);
            m_selectableItems.append(item);
            // Clicking toggles a checkable action; selecting it again restores the one
            // checked item even when the click unchecked it.
            m_itemConnections.append(connect(item, &QAction::triggered, this, [this, identifier] {
                setSelectedItemIdentifier(identifier);
            }));
            // Assistive tools toggle a checkable item instead of clicking it: the action then
            // changes its state without being triggered. A click toggles and then triggers at
            // once, but the owner's handler of that trigger may run the event loop (an animated
            // pane switch) before this toolbar hears of it; so a toggle is told apart from a click
            // by the item's own trigger count, which moves ahead of every handler. A toggle that
            // no trigger has followed by the time the event loop comes round is taken as the
            // click it stands for (turned off, the selection shows again).
            QPointer<ToolbarItem> guarded(item);
            m_itemConnections.append(
                connect(item, &QAction::toggled, this, [this, guarded](bool on) {
                    if (m_applyingSelection || !guarded)
                        return;
                    const quint64 seen = guarded->triggerCount();
                    QMetaObject::invokeMethod(
                        this,
                        [this, guarded, seen, on] {
                            if (!guarded || guarded->triggerCount() != seen)
                                return; // clicked after all
                            if (on)
                                guarded->trigger();
                            else
                                applySelection();
                        },
                        Qt::QueuedConnection);
                }));
        }
    }
    applySelection();
}

void Toolbar::applySelection()
{
    const QScopedValueRollback<bool> applying(m_applyingSelection, true);
    for (const QPointer<ToolbarItem> &item : std::as_const(m_selectableItems)) {
        if (item)
            item->setChecked(item->itemIdentifier() == m_selectedItemIdentifier);
    }
}

void setToolbar(QMainWindow *window, Toolbar *toolbar)
{
    if (!window)
        return;
    for (Toolbar *old : windowToolbars(window)) {
        if (old == toolbar)
            continue;
        window->removeToolBar(old);
        delete old;
    }
    if (toolbar)
        toolbar->attachToWindow(window);
}

void setShowsToolbarButton(QMainWindow *window, bool shows)
{
    if (!window)
        return;
    for (Toolbar *toolbar : windowToolbars(window))
        setToggleUsable(toolbar, shows);
}
