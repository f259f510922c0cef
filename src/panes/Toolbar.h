#pragma once

#include <QList>
#include <QMetaObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QToolBar>

class QMainWindow;
class ToolbarItem;
class ToolbarDelegate;

// A fixed toolbar filled from a ToolbarDelegate's answers. It cannot be moved, floated, hidden
// or rearranged by the user, and it keeps no configuration anywhere.
//
// Call order: create it, set the delegate, then put it into a window with setToolbar(); that
// is when the delegate is asked for the default identifiers and, in their order, for each
// item (the flexible-space identifier becomes an expanding space without asking). The items
// stay owned by the delegate's side; the toolbar only shows them and makes the selectable
// ones checkable for as long as it shows them.
class Toolbar : public QToolBar
{
    Q_OBJECT

public:
    explicit Toolbar(const QString &identifier, QWidget *parent = nullptr);
    ~Toolbar() override;

    QString identifier() const { return m_identifier; }

    // Not owned. Changing it while the toolbar sits in a window refills the toolbar.
    void setDelegate(ToolbarDelegate *delegate);
    ToolbarDelegate *delegate() const { return m_delegate; }

    // This toolbar offers no customisation; the flag is kept only so it can be read back.
    void setAllowsUserCustomization(bool allows) { m_allowsUserCustomization = allows; }
    bool allowsUserCustomization() const { return m_allowsUserCustomization; }

    // Recorded and nothing more: no configuration is ever written, whatever this says.
    void setAutosavesConfiguration(bool autosaves) { m_autosavesConfiguration = autosaves; }
    bool autosavesConfiguration() const { return m_autosavesConfiguration; }

    // The item with this identifier shows as checked if it is selectable; every other
    // selectable item is unchecked. May be called before the toolbar has any items.
    void setSelectedItemIdentifier(const QString &itemIdentifier);
    QString selectedItemIdentifier() const { return m_selectedItemIdentifier; }

    // Puts the toolbar at the top of `window` (which takes ownership) and fills it.
    void attachToWindow(QMainWindow *window);

private:
    void reloadItems();
    void clearItems();
    void applySelection();

    const QString m_identifier;
    ToolbarDelegate *m_delegate = nullptr;
    bool m_allowsUserCustomization = false;
    bool m_autosavesConfiguration = false;
    QString m_selectedItemIdentifier;
    bool m_applyingSelection = false;
    QPointer<QMainWindow> m_window;
    QList<QPointer<ToolbarItem>> m_selectableItems;
    QList<QMetaObject::Connection> m_itemConnections;
};

// Gives `toolbar` to `window`, replacing (and deleting) a Toolbar the window had before.
// A null toolbar just removes the old one.
void setToolbar(QMainWindow *window, Toolbar *toolbar);

// Whether the user may hide the window's Toolbar through the window's toolbar menu.
// Hidden by default: a Toolbar's toggle action starts disabled and invisible.
void setShowsToolbarButton(QMainWindow *window, bool shows);
