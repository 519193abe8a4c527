// The video-input devices as the main window sees them, and which one it previews.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct DeviceEntry {
    std::string friendlyName;
    std::string devicePath;
};

// Devices with both a "FriendlyName" and a "DevicePath", indexed 0, 1, 2 … in the order
// the category lists them. The wireless camera has no path and is never in the table.
using DeviceTable = std::map<int32_t, DeviceEntry>;

// The wireless camera's fixed index and identity.
inline constexpr int32_t kWifiDeviceIndex = 10000;
inline constexpr const char* kWifiDeviceIdentity = "wifi device";

// Width and height 0 ask for no particular size; interpolation asks for the doubled entry.
struct PreviewRequest {
    int32_t deviceIndex = -1;
    int32_t width = 0;
    int32_t height = 0;
    bool interpolation = false;
};

struct CaptureResolution {
    int32_t width = 0;
    int32_t height = 0;
    bool interpolation = false;
    bool operator==(const CaptureResolution&) const = default;
};

// 10000 -> "wifi device"; an index in the table -> its path; otherwise "".
std::string IdentityOfIndex(const DeviceTable& table, int32_t index);
// The first index (ascending) whose path equals `identity`; 10000 for "wifi device"; else -1.
int32_t IndexOfIdentity(const DeviceTable& table, const std::string& identity);
// The device stored as last previewed, or -1.
int32_t FindRememberedDevice(const DeviceTable& table);
// The first device whose USB vendor is on the configured list; 0 when none is.
int32_t FindVendorDevice(const DeviceTable& table);
// The stored capture size, or {0, 0, false} when it is missing.
CaptureResolution ReadCaptureResolution();
// Stores `deviceIdentity` and the current settings' capture size.
void SaveDeviceChoice(const std::string& deviceIdentity);
