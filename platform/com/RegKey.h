// Owner of one open key of the store, for the runtime's own registry work (class and
// category registrations in the classes root).
#pragma once

#include <string>
#include <vector>

#include "platform/registry/Registry.h"

namespace com {

class RegKey {
public:
    RegKey() = default;
    ~RegKey() { Close(); }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG Open(HKEY root, const std::string& path, REGSAM access = KEY_READ);
    LONG Create(HKEY root, const std::string& path);
    void Close();
    HKEY Handle() const { return key_; }

    // Text value; `name` empty is the default value.
    LONG ReadText(const std::string& name, std::string& value) const;
    LONG WriteText(const std::string& name, const std::string& value) const;
    LONG WriteBinary(const std::string& name, const std::vector<BYTE>& data) const;
    // Names of the direct sub-keys in the store's order.
    std::vector<std::string> SubKeyNames() const;

private:
    HKEY key_ = nullptr;
};

}  // namespace com
