#pragma once

#include <QAction>
#include <QIcon>
#include <QString>

// The identifier under which the toolbar puts an expanding space instead of an item. Inline so
// that namespace-scope lists built from it elsewhere never see it still empty: it is then
// initialised ahead of anything that follows this header in the same file.
inline const QString ToolbarFlexibleSpaceItemIdentifier =
    QStringLiteral("NSToolbarFlexibleSpaceItem");

// One toolbar entry. The label is the action's text and the image its icon; clicking it emits
// QAction::triggered, which the owner connects to its handler. The toolbar only borrows items:
// whoever creates them keeps them alive for as long as any toolbar shows them.
class ToolbarItem : public QAction
{
    Q_OBJECT

public:
    explicit ToolbarItem(const QString &itemIdentifier, QObject *parent = nullptr);

    QString itemIdentifier() const { return m_itemIdentifier; }

    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    QString label() const { return text(); }
    void setLabel(const QString &label);

    QIcon image() const { return icon(); }
    void setImage(const QIcon &image) { setIcon(image); }

    // How often the item has been triggered. Counted by a handler connected when the item is
    // made, so it runs ahead of every other handler of triggered(), even one that runs the event
    // loop before returning: a toggle followed by this count moving was a click, not a toggle of
    // its own.
    quint64 triggerCount() const { return m_triggerCount; }

private:
    const QString m_itemIdentifier;
    int m_tag = 0;
    quint64 m_triggerCount = 0;
};
