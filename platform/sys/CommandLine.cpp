#include "platform/sys/CommandLine.h"

#include <cstdio>
#include <cstring>

#include "BuildInfo.h"

namespace sys {

int AnswerStandardOptions(int argc, char** argv, const char* program, const std::string& help) {
    if (argc != 2) return -1;
    if (std::strcmp(argv[1], "--help") == 0) {
        std::fputs(help.c_str(), stdout);
        return 0;
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", program, SKELVANE_VERSION);
        return 0;
    }
    return -1;
}

}  // namespace sys
