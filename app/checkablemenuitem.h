#pragma once
// Menu items with a check mark as screen readers need them: Qt's own menu items report whether
// they are checked but not that they can be checked, so a reader announces a plain item.

// Makes every checkable action shown in a menu report itself checkable, checked or not, with
// its name, shortcut and a press action; once per process, before anything asks about the menu.
void installCheckableMenuItemAccess();
