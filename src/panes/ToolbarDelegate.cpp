#include "ToolbarDelegate.h"

// Out of line so the vtable has one home.
ToolbarDelegate::~ToolbarDelegate() = default;
