// Screen readers and UI automation see the open menu of a drop-down button as the
// button's child: a popup menu whose items carry their shown texts and a press action
// that picks the item as a mouse click would. Qt itself leaves popup windows out of the
// application's accessible children, so without this the open menu cannot be found.
#pragma once

// Installs the accessibility factory of the drop-down button and its menu once per process.
void InstallDropDownAccessibility();
