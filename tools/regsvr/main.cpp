// skelvane-regsvr [-u] MODULE: registers an in-process server module by calling its
// DllRegisterServer export, or with -u unregisters it through DllUnregisterServer.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com/ServerRegistration.h"
#include "platform/sys/CommandLine.h"

namespace {

constexpr const char* kUsage = "Usage: skelvane-regsvr [-u] MODULE\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    const int answered = sys::AnswerStandardOptions(
        argc, argv, "skelvane-regsvr",
        std::string("Registers an in-process server module (a camera module) by calling its "
                    "DllRegisterServer export; with -u unregisters it.\n\n") +
            kUsage + "  or:  skelvane-regsvr --help | --version\n");
    if (answered >= 0) return answered;
    bool unregister = false;
    const char* path = nullptr;
    // A module path never starts with "-": such an argument is an option this tool lacks.
    if (argc == 2 && argv[1][0] != '-') {
        path = argv[1];
    } else if (argc == 3 && std::strcmp(argv[1], "-u") == 0) {
        unregister = true;
        path = argv[2];
    } else {
        return Usage();
    }
    std::string failure;
    if (FAILED(com::CallServerRegistration(path, unregister, failure))) {
        std::fprintf(stderr, "skelvane-regsvr: %s\n", failure.c_str());
        return 1;
    }
    std::printf("%s in %s succeeded.\n", unregister ? "DllUnregisterServer" : "DllRegisterServer",
                path);
    return 0;
}
