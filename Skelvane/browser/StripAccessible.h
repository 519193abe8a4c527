// Screen readers and UI automation see the thumbnail strip as a list of every entry of the
// browsed folder, each named by its file name; an item's press action opens the file.
#pragma once

// Installs the accessibility factory of the strip once per process.
void InstallStripAccessibility();
