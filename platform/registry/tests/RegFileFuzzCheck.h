// What every .reg text must keep, whatever its damage: shared by the seeded mutation test
// and the libFuzzer entry point.
#pragma once

#include <map>
#include <string>

#include "platform/registry/RegFile.h"

namespace fuzz {

// Parses `text` as the store file of HKEY_CURRENT_USER and as an import; "" when the
// tree read is written back as text that reads back intact to the same tree, else what
// broke. `intact` gets the parser's verdict on `text`.
inline std::string CheckStoreText(const std::string& text, bool& intact) {
    constexpr const char* kRoot = "HKEY_CURRENT_USER";
    registry::RegKey tree;
    intact = registry::ParseRegText(text, kRoot, tree, false);
    const std::string written = registry::SerializeRegText(tree, kRoot, false);
    registry::RegKey reread;
    if (!registry::ParseRegText(written, kRoot, reread, false))
        return "the rewritten file reads as damaged:\n" + written;
    if (registry::SerializeRegText(reread, kRoot, false) != written)
        return "the rewritten file reads back otherwise:\n" + written;
    registry::RegKey unused;
    std::map<std::string, registry::RegKey> roots;
    registry::ParseRegText(text, "", unused, false, &roots);
    return {};
}

}  // namespace fuzz
