// The installation folder: base of Resource/ (language files, pictures).
#pragma once

#include <string>

// The folder that holds Resource/ with a trailing "/": the running executable's folder in a
// build folder, its ../share/skelvane/ when installed, or the folder set with
// SetInstallFolder. When the executable's path cannot be found the system's text for
// the error is shown and the result is empty (paths become relative to the working folder).
std::string GetInstallFolder();

// Replaces the installation folder, for tests that ship their own Resource/ folder;
// an empty text goes back to the executable's folder. `folder` should end in "/".
void SetInstallFolder(const std::string& folder);
