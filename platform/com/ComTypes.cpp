// GUID text, task memory, strings, variants and message texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/com/Com.h"

namespace com {

std::string WideToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t wc : text) {
        auto c = static_cast<uint32_t>(wc);
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring Utf8ToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        int extra = 0;
        uint32_t c = 0;
        if (lead < 0x80) {
            c = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            c = lead & 0x1F;
            extra = 1;
        } else if ((lead & 0xF0) == 0xE0) {
            c = lead & 0x0F;
            extra = 2;
        } else if ((lead & 0xF8) == 0xF0) {
            c = lead & 0x07;
            extra = 3;
        } else {
            out += L'\uFFFD';
            ++i;
            continue;
        }
        if (i + static_cast<size_t>(extra) >= text.size()) {
            out += L'\uFFFD';
            break;
        }
        bool valid = true;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (next & 0x3F);
        }
        if (!valid) {
            out += L'\uFFFD';
            ++i;
            continue;
        }
        out += static_cast<wchar_t>(c);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string GuidToString(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof(text), "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  guid.Data1, guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2],
                  guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at `pos`.
bool ReadHex(std::string_view text, size_t pos, int digits, uint32_t* value) {
    uint32_t result = 0;
    for (int i = 0; i < digits; ++i) {
        const int d = HexDigit(text[pos + static_cast<size_t>(i)]);
        if (d < 0) return false;
        result = (result << 4) | static_cast<uint32_t>(d);
    }
    *value = result;
    return true;
}

}  // namespace

bool GuidFromString(std::string_view text, GUID* guid) {
    // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' ||
        text[14] != '-' || text[19] != '-' || text[24] != '-') {
        return false;
    }
    GUID result{};
    uint32_t value = 0;
    if (!ReadHex(text, 1, 8, &value)) return false;
    result.Data1 = value;
    if (!ReadHex(text, 10, 4, &value)) return false;
    result.Data2 = static_cast<uint16_t>(value);
    if (!ReadHex(text, 15, 4, &value)) return false;
    result.Data3 = static_cast<uint16_t>(value);
    const size_t bytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (int i = 0; i < 8; ++i) {
        if (!ReadHex(text, bytePositions[i], 2, &value)) return false;
        result.Data4[i] = static_cast<uint8_t>(value);
    }
    *guid = result;
    return true;
}

}  // namespace com

int StringFromGUID2(REFGUID guid, LPOLESTR text, int cchMax) {
    if (text == nullptr || cchMax < 39) return 0;
    const std::string narrow = com::GuidToString(guid);
    for (size_t i = 0; i < narrow.size(); ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
    text[narrow.size()] = 0;
    return static_cast<int>(narrow.size() + 1);
}

HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid) {
    if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
    return com::GuidFromString(com::WideToUtf8(text), clsid) ? NOERROR : CO_E_CLASSSTRING;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
    if (text == nullptr || iid == nullptr) return E_INVALIDARG;
    return com::GuidFromString(com::WideToUtf8(text), iid) ? NOERROR : E_INVALIDARG;
}

LPVOID CoTaskMemAlloc(size_t cb) {
    return std::malloc(cb == 0 ? 1 : cb);
}
LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb) {
    return std::realloc(pv, cb == 0 ? 1 : cb);
}
void CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

// A string is preceded by its length in characters, like the original layout.
BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    auto* block = static_cast<uint32_t*>(
        std::malloc(sizeof(uint32_t) * 2 + (static_cast<size_t>(length) + 1) * sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    block[1] = length;
    auto* chars = reinterpret_cast<OLECHAR*>(block + 2);
    if (text != nullptr)
        std::memcpy(chars, text, length * sizeof(OLECHAR));
    else
        std::memset(chars, 0, length * sizeof(OLECHAR));
    chars[length] = 0;
    return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    return SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR text) {
    if (text != nullptr) std::free(reinterpret_cast<uint32_t*>(text) - 2);
}

UINT SysStringLen(BSTR text) {
    return text == nullptr ? 0 : (reinterpret_cast<uint32_t*>(text) - 2)[1];
}

void VariantInit(VARIANT* var) {
    if (var == nullptr) return;
    std::memset(var, 0, sizeof(*var));
    var->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANT* var) {
    if (var == nullptr) return E_INVALIDARG;
    if (var->vt == VT_BSTR) SysFreeString(var->bstrVal);
    VariantInit(var);
    return S_OK;
}

std::string SystemMessageText(HRESULT hr) {
    struct Entry {
        HRESULT code;
        const char* text;
    };
    static constexpr Entry kTexts[] = {
        {S_OK, "The operation completed successfully."},
        {E_NOTIMPL, "Not implemented"},
        {E_NOINTERFACE, "No such interface supported"},
        {E_POINTER, "Invalid pointer"},
        {E_ABORT, "Operation aborted"},
        {E_FAIL, "Unspecified error"},
        {E_UNEXPECTED, "Catastrophic failure"},
        {E_ACCESSDENIED, "Access is denied."},
        {E_HANDLE, "The handle is invalid."},
        {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
        {E_INVALIDARG, "The parameter is incorrect."},
        {E_PROP_ID_UNSUPPORTED, "Element not found."},
        {E_PROP_SET_UNSUPPORTED, "The requested property set is not supported."},
        {CLASS_E_NOAGGREGATION, "Class does not support aggregation (or class object is remote)"},
        {CLASS_E_CLASSNOTAVAILABLE, "ClassFactory cannot supply requested class"},
        {REGDB_E_CLASSNOTREG, "Class not registered"},
        {CO_E_NOTINITIALIZED, "CoInitialize has not been called."},
        {CO_E_DLLNOTFOUND, "DLL for class not found"},
        {CO_E_ERRORINDLL, "Error in the DLL"},
        {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), "The system cannot find the file specified."},
        {HRESULT_FROM_WIN32(126), "The specified module could not be found."},
    };
    for (const Entry& entry : kTexts) {
        if (entry.code == hr) return entry.text;
    }
    return {};
}
