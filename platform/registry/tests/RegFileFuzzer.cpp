// libFuzzer entry point of the .reg parser, for hunts longer than the seeded test: an
// input that breaks what CheckStoreText checks aborts with the reason.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/registry/tests/RegFileFuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bool intact = true;
    const std::string failure =
        fuzz::CheckStoreText(std::string(reinterpret_cast<const char*>(data), size), intact);
    if (!failure.empty()) {
        std::fprintf(stderr, "%s\n", failure.c_str());
        std::abort();
    }
    return 0;
}
