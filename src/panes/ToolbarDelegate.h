#pragma once

#include <QString>
#include <QStringList>

class Toolbar;
class ToolbarItem;

// What a Toolbar asks its owner when it fills itself. Answers are read when the toolbar is put
// into a window (and again if the delegate changes while it is there), never cached across that.
class ToolbarDelegate
{
public:
    virtual ~ToolbarDelegate();

    // Identifiers shown, left to right.
    virtual QStringList toolbarDefaultItemIdentifiers(Toolbar *toolbar) = 0;
    // Identifiers that may appear at all; a default identifier outside this list is left out.
    virtual QStringList toolbarAllowedItemIdentifiers(Toolbar *toolbar) = 0;
    // Identifiers whose items show a selected state.
    virtual QStringList toolbarSelectableItemIdentifiers(Toolbar *toolbar) = 0;
    // The item for an identifier, or nullptr when there is none. The delegate keeps ownership.
    virtual ToolbarItem *toolbarItemForItemIdentifier(Toolbar *toolbar,
                                                      const QString &itemIdentifier,
                                                      bool willBeInsertedIntoToolbar) = 0;

protected:
    ToolbarDelegate() = default;
    ToolbarDelegate(const ToolbarDelegate &) = default;
    ToolbarDelegate &operator=(const ToolbarDelegate &) = default;
};
