// Localized texts carry a "%s" for a path; they come from language files, so they are
// never used as a printf format.
#pragma once

#include <string>

// `format` with its first "%s" replaced by `text` and every "%%" by "%"; any other "%"
// stays as it is.
std::string FormatWithText(const std::string& format, const std::string& text);
