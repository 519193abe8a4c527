#include "Skelvane/capture/CameraSettings.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/CRegistry.h"
#include "platform/sys/Sys.h"

namespace {

constexpr const char* kCamerasKey = "Software\\Skelvane\\cameras";

std::string ValueName(uint32_t id) {
    char name[16];
    std::snprintf(name, sizeof(name), "%08" PRIx32, id);
    return name;
}

// Why a remembered value cannot be set on the camera as it is now; null when it can.
const char* Unfit(const std::vector<v4l2::ControlInfo>& controls, uint32_t id, int32_t value) {
    auto control = std::find_if(controls.begin(), controls.end(),
                                [id](const v4l2::ControlInfo& info) { return info.id == id; });
    if (control == controls.end()) return "the camera has no such control";
    if (!IsRememberable(*control)) return "the control cannot be set";
    if (value < control->minimum || value > control->maximum) return "out of the control's range";
    if (!control->menu.empty() &&
        std::none_of(control->menu.begin(), control->menu.end(),
                     [value](const auto& entry) { return entry.first == value; }))
        return "not an entry of the control's menu";
    return nullptr;
}

}  // namespace

std::string CameraSettingsKey(const std::string& identity) {
    return std::string(kCamerasKey) + "\\" + identity;
}

ControlValues ReadRememberedControls(const std::string& identity) {
    ControlValues values;
    CRegistry key;
    if (identity.empty() || !key.Open(HKEY_CURRENT_USER, CameraSettingsKey(identity)))
        return values;
    for (DWORD index = 0;; ++index) {
        char name[64];
        DWORD nameSize = sizeof(name);
        DWORD type = REG_NONE;
        uint32_t data = 0;
        DWORD dataSize = sizeof(data);
        const LONG result = RegEnumValue(key.Handle(), index, name, &nameSize, nullptr, &type,
                                         reinterpret_cast<BYTE*>(&data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS) break;
        char* end = nullptr;
        const unsigned long id = std::strtoul(name, &end, 16);
        if (result != ERROR_SUCCESS || type != REG_DWORD || end == name || *end != '\0') {
            sys::DebugTraceF("camera %s: remembered value \"%s\" ignored: not a control value",
                             identity.c_str(), result == ERROR_SUCCESS ? name : "?");
            continue;
        }
        values[static_cast<uint32_t>(id)] = static_cast<int32_t>(data);
    }
    return values;
}

bool RememberControls(const std::string& identity, const ControlValues& values) {
    CRegistry key;
    if (identity.empty() || !key.Create(HKEY_CURRENT_USER, CameraSettingsKey(identity)))
        return false;
    bool written = true;
    for (const auto& [id, value] : values)
        written = key.WriteDword(ValueName(id), static_cast<uint32_t>(value)) && written;
    return written;
}

void ForgetControls(const std::string& identity) {
    CRegistry cameras;
    if (identity.empty() || !cameras.Open(HKEY_CURRENT_USER, kCamerasKey, KEY_ALL_ACCESS)) return;
    RegDeleteTree(cameras.Handle(), identity.c_str());
}

bool IsRememberable(const v4l2::ControlInfo& control) {
    return control.type != V4L2_CTRL_TYPE_BUTTON && !(control.flags & V4L2_CTRL_FLAG_READ_ONLY);
}

int SetControlValues(ICameraControls& camera, const std::string& identity,
                     const ControlValues& values) {
    std::vector<v4l2::ControlInfo> controls;
    if (values.empty() || FAILED(camera.GetControls(&controls))) return 0;
    int set = 0;
    ControlValues refused;
    for (const auto& [id, value] : values) {
        if (const char* reason = Unfit(controls, id, value)) {
            sys::DebugTraceF("camera %s: control 0x%08x value %d skipped: %s", identity.c_str(), id,
                             value, reason);
        } else if (SUCCEEDED(camera.SetValue(id, value))) {
            ++set;
        } else {
            refused.emplace(id, value);
        }
    }
    for (const auto& [id, value] : refused) {
        if (SUCCEEDED(camera.SetValue(id, value)))
            ++set;
        else
            sys::DebugTraceF("camera %s: control 0x%08x value %d skipped: the camera refused it",
                             identity.c_str(), id, value);
    }
    return set;
}

int ApplyRememberedControls(ICameraControls& camera) {
    std::string identity;
    if (FAILED(camera.GetIdentity(&identity))) return 0;
    return SetControlValues(camera, identity, ReadRememberedControls(identity));
}

int ApplyRememberedControls(IBaseFilter* device) {
    CComPtr<ICameraControls> controls;
    if (device == nullptr ||
        FAILED(device->QueryInterface(IID_ICameraControls, reinterpret_cast<void**>(&controls))))
        return 0;
    return ApplyRememberedControls(*controls);
}
