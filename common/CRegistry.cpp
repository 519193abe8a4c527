#include "common/CRegistry.h"

#include <vector>

size_t Utf16Length(const std::string& utf8) {
    size_t units = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if ((c & 0xC0) == 0x80) continue;  // continuation byte
        units += c >= 0xF0 ? 2 : 1;        // four-byte sequences need a surrogate pair
    }
    return units;
}

CRegistry::~CRegistry() {
    Close();
}

bool CRegistry::Check(LONG result) {
    lastError_ = result;
    return result == ERROR_SUCCESS;
}

bool CRegistry::Open(HKEY root, const std::string& path, REGSAM access) {
    Close();
    return Check(RegOpenKeyEx(root, path.c_str(), 0, access, &key_));
}

bool CRegistry::Create(HKEY root, const std::string& path, bool isVolatile) {
    Close();
    const DWORD options = isVolatile ? REG_OPTION_VOLATILE : REG_OPTION_NON_VOLATILE;
    return Check(RegCreateKeyEx(root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS, nullptr,
                                &key_, nullptr));
}

void CRegistry::Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
}

bool CRegistry::ReadDword(const std::string& name, uint32_t& value) {
    if (!IsOpen()) return Check(ERROR_INVALID_HANDLE);
    BYTE bytes[4];
    DWORD size = sizeof(bytes);
    // The stored type is not checked; a value longer than four bytes does not fit.
    if (!Check(RegQueryValueEx(key_, name.c_str(), nullptr, nullptr, bytes, &size))) return false;
    uint32_t read = 0;
    for (DWORD i = 0; i < size; ++i) read |= static_cast<uint32_t>(bytes[i]) << (8 * i);
    value = read;
    return true;
}

bool CRegistry::ReadText(const std::string& name, std::string& value) {
    if (!IsOpen()) return Check(ERROR_INVALID_HANDLE);
    DWORD size = 0;
    if (!Check(RegQueryValueEx(key_, name.c_str(), nullptr, nullptr, nullptr, &size))) return false;
    std::vector<BYTE> bytes(size + 1);
    if (!Check(RegQueryValueEx(key_, name.c_str(), nullptr, nullptr, bytes.data(), &size)))
        return false;
    std::string text(reinterpret_cast<const char*>(bytes.data()), size);
    // Stored text ends at its first terminator, as a read into a character buffer would.
    text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
    if (Utf16Length(text) > kMaxTextChars) return Check(ERROR_MORE_DATA);
    value = text;
    return true;
}

bool CRegistry::WriteDword(const std::string& name, uint32_t value) {
    if (!IsOpen()) return Check(ERROR_INVALID_HANDLE);
    const BYTE bytes[4] = {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
                           static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)};
    return Check(RegSetValueEx(key_, name.c_str(), 0, REG_DWORD, bytes, sizeof(bytes)));
}

bool CRegistry::WriteText(const std::string& name, const std::string& value) {
    if (!IsOpen()) return Check(ERROR_INVALID_HANDLE);
    return Check(RegSetValueEx(key_, name.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(value.data()),
                               static_cast<DWORD>(value.size())));
}
