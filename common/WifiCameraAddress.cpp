#include "common/WifiCameraAddress.h"

#include <cstdio>

#include "common/CRegistry.h"

namespace {

constexpr const char* kUsingSystemKey = "software\\Skelvane\\using\\system";
constexpr const char* kDefaultSystemKey = "software\\Skelvane\\default\\system";

}  // namespace

bool ReadWifiCameraAddress(uint32_t& address, int32_t& port) {
    address = kDefaultWifiCameraAddress;
    port = kDefaultWifiCameraPort;
    CRegistry key;
    if (!key.Open(HKEY_CURRENT_USER, kUsingSystemKey, KEY_READ) &&
        !key.Open(HKEY_CURRENT_USER, kDefaultSystemKey, KEY_READ)) {
        return false;
    }
    uint32_t storedAddress = 0;
    if (!key.ReadDword("wifideviceip", storedAddress)) return false;
    address = storedAddress;
    uint32_t storedPort = 0;
    if (!key.ReadDword("wifideviceport", storedPort)) return false;
    port = static_cast<int32_t>(storedPort);
    return true;
}

std::string WifiCameraEndpointText(uint32_t address, int32_t port) {
    char text[32];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u:%d", address >> 24, (address >> 16) & 0xFF,
                  (address >> 8) & 0xFF, address & 0xFF, static_cast<int>(port));
    return text;
}
