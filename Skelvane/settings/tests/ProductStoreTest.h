// A test with a private product store: its own temporary folder and home, the resources
// found beside the build's program, and the shipped default tree on request. The window
// and dialog tests build on it and add what their layer needs.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/registry/Registry.h"

namespace support {

class ProductStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        namespace fs = std::filesystem;
        root_ = fs::temp_directory_path() /
                ("skelvane-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "home");
        fs::create_directories(Saving());
        if (const char* home = std::getenv("HOME")) previousHome_ = home;
        setenv("HOME", (root_ / "home").c_str(), 1);
        // Modules loaded by a test find the store through the environment.
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        UseInstallFolder(std::string(SKELVANE_BIN_DIR) + "/");
        ResetSingletons();
    }

    void TearDown() override {
        ResetSingletons();
        setenv("HOME", previousHome_.c_str(), 1);
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    // Forgets what the process-wide services read, so the next use reads the store again.
    virtual void ResetSingletons() {
        CSettingParamManage::Destroy();
        CLocalizableString::Destroy();
        CSavingLoactionManage::Destroy();
    }

    // The shipped default tree, then `extra` (.reg lines) over it; English and the private
    // saving folder applied.
    void ProvisionStore(const std::string& extra = "") {
        std::ifstream in(std::filesystem::path(SKELVANE_SOURCE_DIR) /
                         "Resource/DefaultSettings.reg");
        std::stringstream text;
        text << in.rdbuf();
        ASSERT_EQ(registry::ImportRegText(text.str(), false), ERROR_SUCCESS);
        if (!extra.empty()) ImportText(extra);
        ResetSingletons();
        ChangeSettings([&](CSettingParam& param) {
            param.SetResourcesPath(Saving().string());
            param.language = 0;  // English
        });
    }

    static void ImportText(const std::string& text) {
        ASSERT_EQ(registry::ImportRegText("Windows Registry Editor Version 5.00\n\n" + text, false),
                  ERROR_SUCCESS);
    }
    static void UseInstallFolder(const std::string& folder) {
        SetInstallFolder(folder);
        CLocalizableString::Destroy();
    }
    static void ChangeSettings(const std::function<void(CSettingParam&)>& change) {
        CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
        change(param);
        CSettingParamManage::Instance()->Apply(param);
    }

    std::filesystem::path Saving() const { return root_ / "saving"; }

    std::filesystem::path root_;

private:
    std::string previousHome_;
};

}  // namespace support
