#include "Skelvane/settings/InstallFolder.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#include "BuildInfo.h"
#include "platform/sys/Sys.h"

namespace {

std::mutex& OverrideLock() {
    static std::mutex lock;
    return lock;
}

std::string& OverrideFolder() {
    static std::string folder;
    return folder;
}

}  // namespace

std::string GetInstallFolder() {
    {
        std::lock_guard<std::mutex> guard(OverrideLock());
        if (!OverrideFolder().empty()) return OverrideFolder();
    }
    errno = 0;
    std::string folder = sys::GetInstallFolder();
    const int error = errno;
    if (folder.empty()) {
        sys::WarningBox(std::strerror(error));
        return folder;
    }
    return sys::FolderHolding(folder, "Resource", SKELVANE_DATA_FROM_BIN);
}

void SetInstallFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(OverrideLock());
    OverrideFolder() = folder;
}
