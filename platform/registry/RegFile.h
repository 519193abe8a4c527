// The in-memory form of one hive and its .reg text form.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/Registry.h"

namespace registry {

struct RegValue {
    std::string name;  // "" is the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct RegKey {
    std::string name;  // the first spelling seen
    bool isVolatile = false;
    std::vector<RegValue> values;                             // in the order first written
    std::map<std::string, std::unique_ptr<RegKey>> children;  // by lower-case name

    RegKey* Child(const std::string& name) const;
    // Finds or adds a child; a new child takes `isVolatile`.
    RegKey& AddChild(const std::string& name, bool isVolatile);
    RegValue* Value(const std::string& name);
    void SetValue(const std::string& name, DWORD type, std::vector<BYTE> data);
    bool DeleteValue(const std::string& name);
};

std::string LowerCase(std::string text);
std::vector<std::string> SplitKeyPath(std::string_view path);

// Deepest key below a root a file may name (as on Windows); a deeper key makes its line
// damaged, which keeps the tree's recursive walks within the stack.
inline constexpr size_t kMaxKeyDepth = 512;

// Parses .reg text. Keys of root `rootName` go below `root`; keys created by this text for
// a section of their own are marked `markVolatile` (keys a section's path only passes
// through are not). Keys of other roots go to `others` (by root name) when it is
// given and count as damage when it is not. Returns false when any line could not be
// understood; everything that could be understood is kept. No text makes it throw (only
// running out of memory does).
bool ParseRegText(const std::string& text, const std::string& rootName, RegKey& root,
                  bool markVolatile, std::map<std::string, RegKey>* others = nullptr);

// Writes the keys below `root` whose volatility is `volatilePart`, with their values.
std::string SerializeRegText(const RegKey& root, const std::string& rootName, bool volatilePart);

}  // namespace registry
