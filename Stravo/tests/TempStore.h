// A settings store in a temporary folder, for tests and benchmarks that must not touch the
// user's own settings.
#pragma once

#include <arpa/inet.h>
#include <stdlib.h>

#include <cstdint>
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
        CRegistry writer;
        return writer.Create(HKEY_CURRENT_USER, key) && writer.WriteDword(name, value);
    }
    bool CreateKey(const char* key) {
        CRegistry writer;
        return writer.Create(HKEY_CURRENT_USER, key);
    }
    // Where the reader finds the camera: the "using" tree, as the main program writes it.
    bool PointCameraAt(const char* address, int port) {
        return Write(kUsingSystemKey, "wifideviceip", HostOrderAddress(address)) &&
               Write(kUsingSystemKey, "wifideviceport", static_cast<uint32_t>(port));
    }

private:
    std::string path_;
};
