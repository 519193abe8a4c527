// A settings store in a temporary folder, for tests and benchmarks that must not touch the
// user's own settings. It only ever points the camera at a loopback address: tests and
// benchmarks never reach another host.
#pragma once

#include <arpa/inet.h>
#include <stdlib.h>
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "common/CRegistry.h"

inline constexpr const char* kUsingSystemKey = "software\\Skelvane\\using\\system";
inline constexpr const char* kDefaultSystemKey = "software\\Skelvane\\default\\system";

inline uint32_t HostOrderAddress(const char* dotted) {
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    return ntohl(address.s_addr);
}

inline bool IsLoopback(uint32_t hostOrderAddress) {
    return (hostOrderAddress >> 24) == 127;
}

// Writes a DWORD to the current user's tree of the store in use; an address for the camera
// outside 127.0.0.0/8 is refused, loudly.
inline bool WriteStoreDword(const char* key, const char* name, uint32_t value) {
    if (strcasecmp(name, "wifideviceip") == 0 && !IsLoopback(value)) {
        fprintf(stderr, "refused: camera address %u.%u.%u.%u is not a loopback address\n",
                value >> 24, (value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
        return false;
    }
    CRegistry writer;
    return writer.Create(HKEY_CURRENT_USER, key) && writer.WriteDword(name, value);
}

// Where the reader finds the camera: the "using" tree, as the main program writes it.
inline bool WriteCameraAddress(const char* address, int port) {
    return WriteStoreDword(kUsingSystemKey, "wifideviceip", HostOrderAddress(address)) &&
           WriteStoreDword(kUsingSystemKey, "wifideviceport", static_cast<uint32_t>(port));
}

class TempStore {
public:
    TempStore() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "stravo-store-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
        registry::SetStoreFolders(path_, "");
    }
    ~TempStore() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    bool Write(const char* key, const char* name, uint32_t value) {
        return WriteStoreDword(key, name, value);
    }
    bool CreateKey(const char* key) {
        CRegistry writer;
        return writer.Create(HKEY_CURRENT_USER, key);
    }
    bool PointCameraAt(const char* address, int port) { return WriteCameraAddress(address, port); }

private:
    std::string path_;
};
