#include "Skelvane/shell/Provisioning.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "BuildInfo.h"
#include "Skelvane/settings/InstallFolder.h"
#include "platform/com/RegKey.h"
#include "platform/com/ServerRegistration.h"
#include "platform/dshow/DShow.h"
#include "platform/sys/Sys.h"

namespace {

constexpr const char* kDefaultTree = "software\\Skelvane\\default";
constexpr const char* kModuleName = "libStravo.so";

bool HasKey(HKEY root, const std::string& path) {
    com::RegKey key;
    return key.Open(root, path) == ERROR_SUCCESS;
}

// The name the program looks the wireless camera up by, from the (imported) default tree.
std::string WifiDeviceName() {
    com::RegKey system;
    std::string name;
    if (system.Open(HKEY_CURRENT_USER, std::string(kDefaultTree) + "\\system") != ERROR_SUCCESS ||
        system.ReadText("wifidevicename", name) != ERROR_SUCCESS)
        return {};
    return name;
}

// The module file the class of a video-input device instance is served from, as the store
// names it; empty when it names none.
std::string RegisteredModule(const std::string& instance) {
    com::RegKey device;
    com::RegKey server;
    std::string clsid;
    std::string path;
    if (device.Open(HKEY_CLASSES_ROOT, instance) != ERROR_SUCCESS ||
        device.ReadText("CLSID", clsid) != ERROR_SUCCESS ||
        server.Open(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32") != ERROR_SUCCESS ||
        server.ReadText("", path) != ERROR_SUCCESS)
        return {};
    return path;
}

}  // namespace

ProvisioningResult ProvisionUserStore(const std::string& defaultsFile,
                                      const std::string& modulePath) {
    ProvisioningResult result;
    if (!HasKey(HKEY_CURRENT_USER, kDefaultTree)) {
        errno = 0;
        const LONG imported = registry::ImportRegFile(defaultsFile, true);
        if (imported != ERROR_SUCCESS) {
            result.failure = "cannot import " + defaultsFile + ": " +
                             (imported == ERROR_FILE_NOT_FOUND ? std::strerror(errno)
                                                               : "error " + std::to_string(imported));
            return result;
        }
        result.importedDefaults = true;
    }
    const std::string name = WifiDeviceName();
    if (name.empty()) return result;  // no wireless camera configured
    const std::string instance = "CLSID\\" + com::GuidToString(CLSID_VideoInputDeviceCategory) +
                                 "\\Instance\\" + name;
    // A registration stays while the module file its class names exists. One whose file is
    // gone (a deleted build folder), or that names none, could never open the device, so
    // this program's module takes its place.
    std::error_code ignored;
    const std::string registered = RegisteredModule(instance);
    if (!registered.empty() && std::filesystem::is_regular_file(registered, ignored)) return result;
    if (FAILED(com::CallServerRegistration(modulePath, false, result.failure))) return result;
    result.registeredModule = true;
    return result;
}

ProvisioningResult ProvisionUserStore() {
    const std::string resources = GetInstallFolder();
    const std::string program = sys::GetInstallFolder();
    return ProvisionUserStore(
        resources + "Resource/DefaultSettings.reg",
        sys::FolderHolding(program, kModuleName, SKELVANE_MODULE_FROM_BIN) + kModuleName);
}
