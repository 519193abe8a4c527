#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Skelvane/capture/DeviceChoice.h"
#include "Skelvane/settings/SettingParam.h"
#include "common/CRegistry.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

class DeviceChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("skelvane-choice-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        registry::SetStoreFolders(root_.string(), "");
        CSettingParamManage::Destroy();
    }
    void TearDown() override {
        CSettingParamManage::Destroy();
        fs::remove_all(root_);
    }
    static void Store(const char* name, const std::string& text) {
        CRegistry key;
        ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, "Software\\Skelvane"));
        ASSERT_TRUE(key.WriteText(name, text));
    }
    static void Store(const char* name, uint32_t value) {
        CRegistry key;
        ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, "Software\\Skelvane"));
        ASSERT_TRUE(key.WriteDword(name, value));
    }
    fs::path root_;
};

const DeviceTable kTwoCameras = {
    {0, {"Integrated Camera", "v4l2#platform-fe801000.csi"}},
    {1, {"USB 2.0 Camera", "usb#vid_0c45&pid_6340&mi_00#usb-0000:00:14.0-2"}},
};

TEST_F(DeviceChoiceTest, IdentitiesAndIndices) {
    EXPECT_EQ(IdentityOfIndex(kTwoCameras, 10000), "wifi device");
    EXPECT_EQ(IdentityOfIndex(kTwoCameras, 1), kTwoCameras.at(1).devicePath);
    EXPECT_EQ(IdentityOfIndex(kTwoCameras, 2), "");
    EXPECT_EQ(IdentityOfIndex(kTwoCameras, -1), "");
    EXPECT_EQ(IndexOfIdentity(kTwoCameras, kTwoCameras.at(1).devicePath), 1);
    EXPECT_EQ(IndexOfIdentity(kTwoCameras, "wifi device"), 10000);
    EXPECT_EQ(IndexOfIdentity(kTwoCameras, "USB#VID_0C45&PID_6340&MI_00#usb-0000:00:14.0-2"), -1);
    EXPECT_EQ(IndexOfIdentity({}, "wifi device"), 10000);
}

TEST_F(DeviceChoiceTest, VendorRule) {
    const struct {
        DeviceTable table;
        int32_t expected;
    } cases[] = {
        {kTwoCameras, 1},
        {{{0, {"a", "USB#VID_0C45&PID_6340"}}, {1, {"b", "usb#vid_046d&pid_0825"}}}, 0},
        {{{0, {"a", "usb#vid_046d&pid_0825"}}, {1, {"b", "usb#vid_0c45"}}}, 1},
        {{{0, {"a", "xusb#vid_0c4"}}}, 0},  // fewer than four follow: the last four are "_0c4"
        {{}, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(FindVendorDevice(c.table), c.expected);
}

TEST_F(DeviceChoiceTest, RememberedDeviceAndStoredResolution) {
    EXPECT_EQ(FindRememberedDevice(kTwoCameras), -1);
    EXPECT_EQ(ReadCaptureResolution(), (CaptureResolution{0, 0, false}));

    Store("indentityofpreviewed", kTwoCameras.at(1).devicePath);
    EXPECT_EQ(FindRememberedDevice(kTwoCameras), 1);
    Store("indentityofpreviewed", "usb#vid_0c45&pid_9999#gone");
    EXPECT_EQ(FindRememberedDevice(kTwoCameras), -1);
    Store("indentityofpreviewed", "wifi device");
    EXPECT_EQ(FindRememberedDevice(kTwoCameras), 10000);
    Store("indentityofpreviewed", "usb#vid_0c45&pid_6340&mi_00#" + std::string(80, 'x'));
    EXPECT_EQ(FindRememberedDevice(
                  {{0, {"long", "usb#vid_0c45&pid_6340&mi_00#" + std::string(80, 'x')}}}),
              -1);

    Store("captureresolution", 0x028001E0u);
    EXPECT_EQ(ReadCaptureResolution(), (CaptureResolution{0, 0, false}));  // interpolation missing
    Store("interpolation", 1u);
    EXPECT_EQ(ReadCaptureResolution(), (CaptureResolution{640, 480, true}));
}

TEST_F(DeviceChoiceTest, SavedChoiceReadsBack) {
    CSettingParamManage::Instance()->SetCurrentCapture(1280, 960, true);
    SaveDeviceChoice(kTwoCameras.at(1).devicePath);
    EXPECT_EQ(FindRememberedDevice(kTwoCameras), 1);
    EXPECT_EQ(ReadCaptureResolution(), (CaptureResolution{1280, 960, true}));
}

}  // namespace
