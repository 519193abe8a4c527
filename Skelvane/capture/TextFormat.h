// Localized texts carry a "%s" for a path; they come from language files, so they are
// never used as a printf format.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// `format` with its first "%s" replaced by `text` and every "%%" by "%"; any other "%"
// stays as it is.
std::string FormatWithText(const std::string& format, const std::string& text);
// The same, and each "%d" replaced by the next of `numbers` in decimal; a "%d" beyond
// them stays as it is.
std::string FormatWithTextAndNumbers(const std::string& format, const std::string& text,
                                     std::initializer_list<int64_t> numbers);
