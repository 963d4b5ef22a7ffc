#pragma once
// Menus with check marks as screen readers need them. Qt's own menu items report whether they
// are checked but, over the desktop's accessibility bus, not that they can be checked: a reader
// announces a plain item. In a menu holding a checkable action every item is therefore described
// here, a checkable one as a check box (what readers announce as a check menu item inside a
// menu), each with its name, shortcut, place in the menu and press action.

// Once per process, before anything asks about the menus.
void installCheckableMenuItemAccess();
