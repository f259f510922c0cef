#include "ToolbarItem.h"

ToolbarItem::ToolbarItem(const QString &itemIdentifier, QObject *parent)
    : QAction(parent), m_itemIdentifier(itemIdentifier)
{
    setObjectName(itemIdentifier);
    connect(this, &QAction::triggered, this, [this] { ++m_triggerCount; });
}

void ToolbarItem::setLabel(const QString &label)
{
    setText(label);
    // The tool button takes its accessible name from the text; the icon text would otherwise be
    // derived from the text with mnemonics stripped, which is what we want too.
    setIconText(label);
}
