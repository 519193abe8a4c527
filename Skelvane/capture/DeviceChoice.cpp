#include "Skelvane/capture/DeviceChoice.h"

#include <vector>

#include "Skelvane/settings/SettingParam.h"
#include "common/CRegistry.h"

namespace {

constexpr const char* kCaptureKey = "Software\\Skelvane";

}  // namespace

std::string IdentityOfIndex(const DeviceTable& table, int32_t index) {
    if (index == kWifiDeviceIndex) return kWifiDeviceIdentity;
    const auto found = table.find(index);
    return found != table.end() ? found->second.devicePath : std::string();
}

int32_t IndexOfIdentity(const DeviceTable& table, const std::string& identity) {
    for (const auto& [index, entry] : table)
        if (entry.devicePath == identity) return index;
    return identity == kWifiDeviceIdentity ? kWifiDeviceIndex : -1;
}

int32_t FindRememberedDevice(const DeviceTable& table) {
    CRegistry key;
    std::string identity;
    if (!key.Create(HKEY_CURRENT_USER, kCaptureKey) ||
        !key.ReadText("indentityofpreviewed", identity))
        return -1;
    return IndexOfIdentity(table, identity);
}

int32_t FindVendorDevice(const DeviceTable& table) {
    std::vector<std::string> vendors;
    CSettingParamManage::Instance()->GetCurrent().GetVendorIds(vendors);
    const std::string marker = "usb#vid_";
    for (const auto& [index, entry] : table) {
        const std::string& path = entry.devicePath;
        const size_t at = path.find(marker);
        if (at == std::string::npos) continue;
        const size_t start = at + marker.size();
        const std::string vendor =
            path.size() - start >= 4 ? path.substr(start, 4) : path.substr(path.size() - 4);
        for (const std::string& listed : vendors)
            if (vendor == listed) return index;
    }
    return 0;
}

CaptureResolution ReadCaptureResolution() {
    CRegistry key;
    uint32_t packed = 0;
    uint32_t interpolation = 0;
    if (!key.Create(HKEY_CURRENT_USER, kCaptureKey) ||
        !key.ReadDword("captureresolution", packed) ||
        !key.ReadDword("interpolation", interpolation))
        return {};
    return CaptureResolution{static_cast<int32_t>(packed) >> 16,
                             static_cast<int32_t>(packed & 0xFFFF), interpolation != 0};
}

void SaveDeviceChoice(const std::string& deviceIdentity) {
    CRegistry key;
    if (!key.Create(HKEY_CURRENT_USER, kCaptureKey)) return;
    key.WriteText("indentityofpreviewed", deviceIdentity);
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    const uint32_t packed = (static_cast<uint32_t>(current.captureWidth) << 16) |
                            static_cast<uint32_t>(current.captureHeight);
    if (key.WriteDword("captureresolution", packed))
        key.WriteDword("interpolation", current.interpolation ? 1 : 0);
}
