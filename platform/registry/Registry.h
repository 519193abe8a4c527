// The per-user hive store that stands in for the Windows registry. Each root is a text
// file in the .reg export format; the functions keep the Windows names, argument order
// and result codes so the product code reads like its design.
//
// Text (REG_SZ) values hold UTF-8 bytes without a terminator; a query copies the bytes
// and adds a terminator when the buffer has room for it.
#pragma once

#include <cstdint>
#include <string>

using LONG = int32_t;
using DWORD = uint32_t;
using BYTE = uint8_t;
using REGSAM = uint32_t;

struct RegKeyHandle;
using HKEY = RegKeyHandle*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))

enum : LONG {
    ERROR_SUCCESS = 0,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_OUTOFMEMORY = 14,
    ERROR_WRITE_FAULT = 29,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_MORE_DATA = 234,
    ERROR_NO_MORE_ITEMS = 259,
    ERROR_KEY_DELETED = 1018,
    ERROR_CHILD_MUST_BE_VOLATILE = 1021,
};

enum : DWORD { REG_NONE = 0, REG_SZ = 1, REG_BINARY = 3, REG_DWORD = 4 };
enum : DWORD { REG_OPTION_NON_VOLATILE = 0, REG_OPTION_VOLATILE = 1 };
enum : DWORD { REG_CREATED_NEW_KEY = 1, REG_OPENED_EXISTING_KEY = 2 };
enum : REGSAM {
    KEY_QUERY_VALUE = 0x0001,
    KEY_SET_VALUE = 0x0002,
    KEY_CREATE_SUB_KEY = 0x0004,
    KEY_ENUMERATE_SUB_KEYS = 0x0008,
    KEY_READ = 0x20019,
    KEY_WRITE = 0x20006,
    KEY_ALL_ACCESS = 0xF003F,
};

// Opens an existing key. `subKey` may be empty or null to open `key` itself again.
LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD options, REGSAM access, HKEY* result);
// Opens a key, creating it and every missing key above it. Keys created with
// REG_OPTION_VOLATILE live in the volatile file and vanish at the next boot.
LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD reserved, char* keyClass, DWORD options,
                    REGSAM access, void* security, HKEY* result, DWORD* disposition);
LONG RegCloseKey(HKEY key);

// `name` null or "" is the key's default value ("@" in the file).
// With `data` null only the type and size are reported.
LONG RegQueryValueEx(HKEY key, const char* name, DWORD* reserved, DWORD* type, BYTE* data,
                     DWORD* dataSize);
LONG RegSetValueEx(HKEY key, const char* name, DWORD reserved, DWORD type, const BYTE* data,
                   DWORD dataSize);
LONG RegDeleteValue(HKEY key, const char* name);
// Deletes `subKey` (or, when null, every sub-key and value of `key`) with all below it.
LONG RegDeleteTree(HKEY key, const char* subKey);

// Enumeration in a stable order: sub-keys sorted case-insensitively, values in the order
// they were first written. `nameSize` is in characters and includes the terminator on input.
LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                  char* keyClass, DWORD* classSize, void* lastWriteTime);
LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved, DWORD* type,
                  BYTE* data, DWORD* dataSize);

namespace registry {

// Where the hive files live. By default $XDG_CONFIG_HOME/Skelvane (else ~/.config/Skelvane)
// for the persistent files and $XDG_RUNTIME_DIR/Skelvane for the volatile one (kept in
// memory when there is no runtime folder). Tests point both somewhere of their own; an
// empty `runtimeFolder` keeps volatile keys in memory.
void SetStoreFolders(const std::string& configFolder, const std::string& runtimeFolder);
std::string StoreFolder();
// Full path of the file that holds a root ("HKEY_CURRENT_USER.reg" and so on).
std::string HiveFilePath(HKEY root);
std::string VolatileFilePath(HKEY root);  // empty when volatile keys stay in memory

// Imports a .reg text into a root, key by key, value by value. With `keepExisting`,
// values that already exist are left alone. Returns ERROR_SUCCESS or the first failure.
LONG ImportRegText(const std::string& text, bool keepExisting);
// ImportRegText on the contents of a file; ERROR_FILE_NOT_FOUND when it cannot be read
// (errno tells why).
LONG ImportRegFile(const std::string& path, bool keepExisting);

}  // namespace registry
