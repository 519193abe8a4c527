// The dialogs under test: a private store holding the shipped default tree, a private home
// and saving folder, the shipped language files and recorded message boxes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingDlgOwner.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/registry/Registry.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/TestApplication.h"

namespace dialogtest {

namespace fs = std::filesystem;

// The main window as the dialog sees it: a device table, the previewed device and its
// sizes. A start succeeds as told and records the request with the port stored just then.
class TestOwner : public ISettingDlgOwner {
public:
    const DeviceTable& Devices() const override { return devices; }
    const std::string& DeviceIdentity() const override { return identity; }
    const ResolutionList& Resolutions() const override { return resolutions; }
    bool CaptureBusy() const override { return busy; }
    bool StartPreview(PreviewRequest request) override {
        requests.push_back(request);
        portWhenStarted = CSettingParamManage::Instance()->GetCurrent().wifideviceport;
        if (startSucceeds) identity = IdentityOfIndex(devices, request.deviceIndex);
        return startSucceeds;
    }
    void ClearPreview() override {
        identity.clear();
        resolutions.clear();
        ++clears;
    }
    void TearDownPreview() override { ++tearDowns; }
    void ShowDeviceProperties() override { propertiesShownWhileVisible.push_back(shownDialog()); }

    DeviceTable devices;
    std::string identity;
    ResolutionList resolutions;
    bool busy = false;
    bool startSucceeds = true;
    std::vector<PreviewRequest> requests;
    int32_t portWhenStarted = -1;
    int clears = 0;
    int tearDowns = 0;
    std::function<bool()> shownDialog = [] { return false; };
    std::vector<bool> propertiesShownWhileVisible;
};

class DialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { StartTestApplication(); }
    static void TearDownTestSuite() { StopTestApplication(); }

    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("skelvane-dialog-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "home");
        fs::create_directories(Saving());
        if (const char* home = std::getenv("HOME")) previousHome_ = home;
        setenv("HOME", (root_ / "home").c_str(), 1);
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        UseInstallFolder(std::string(SKELVANE_BIN_DIR) + "/");
        ResetSingletons();
    }

    void TearDown() override {
        ResetSingletons();
        setenv("HOME", previousHome_.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    // The shipped default tree, English chosen and the private saving folder applied.
    void ProvisionStore(const std::string& extra = "") {
        std::ifstream in(fs::path(SKELVANE_SOURCE_DIR) / "Resource/DefaultSettings.reg");
        std::stringstream text;
        text << in.rdbuf();
        ASSERT_EQ(registry::ImportRegText(text.str(), false), ERROR_SUCCESS);
        if (!extra.empty()) {
            ASSERT_EQ(
                registry::ImportRegText("Windows Registry Editor Version 5.00\n\n" + extra, false),
                ERROR_SUCCESS);
        }
        ResetSingletons();
        ChangeSettings([&](CSettingParam& param) {
            param.SetResourcesPath(Saving().string());
            param.language = 0;
        });
    }

    static void ResetSingletons() {
        CSettingParamManage::Destroy();
        CLocalizableString::Destroy();
        CSavingLoactionManage::Destroy();
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

    fs::path Saving() const { return root_ / "saving"; }

    fs::path root_;
    support::ScopedRecordingPresenter boxes_;

private:
    std::string previousHome_;
};

}  // namespace dialogtest
