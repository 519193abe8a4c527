// The options every program of the project answers, the way Linux commands do.
#pragma once

#include <string>

namespace sys {

// With "--help" alone prints `help` to standard output; with "--version" alone prints
// "`program` VERSION". Returns the exit status then (0), else -1 so the program goes on.
int AnswerStandardOptions(int argc, char** argv, const char* program, const std::string& help);

}  // namespace sys
