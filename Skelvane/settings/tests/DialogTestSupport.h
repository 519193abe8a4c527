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
#include "Skelvane/settings/tests/ProductStoreTest.h"
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

class DialogTest : public support::ProductStoreTest {
protected:
    static void SetUpTestSuite() { StartTestApplication(); }
    static void TearDownTestSuite() { StopTestApplication(); }

    support::ScopedRecordingPresenter boxes_;
};

}  // namespace dialogtest
