// Owner of one open key of the store, closed when the owner goes.
#pragma once

#include <cstdint>
#include <string>

#include "platform/registry/Registry.h"

class CRegistry {
public:
    // A text value is read into 200 bytes of two-byte characters: at most 99 characters
    // fit with their terminator; a longer stored text counts as missing.
    static constexpr size_t kMaxTextChars = 99;

    CRegistry() = default;
    ~CRegistry();
    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    bool Open(HKEY root, const std::string& path, REGSAM access = KEY_READ);
    // Opens the key, creating the path when missing.
    bool Create(HKEY root, const std::string& path, bool isVolatile = false);
    void Close();
    bool IsOpen() const { return key_ != nullptr; }
    HKEY Handle() const { return key_; }
    // The result code of the last failed call, 0 when none failed.
    LONG LastError() const { return lastError_; }

    bool ReadDword(const std::string& name, uint32_t& value);
    bool ReadText(const std::string& name, std::string& value);
    bool WriteDword(const std::string& name, uint32_t value);
    bool WriteText(const std::string& name, const std::string& value);

private:
    bool Check(LONG result);

    HKEY key_ = nullptr;
    LONG lastError_ = ERROR_SUCCESS;
};

// Number of two-byte characters the UTF-8 text takes.
size_t Utf16Length(const std::string& utf8);
