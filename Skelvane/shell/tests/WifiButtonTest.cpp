// The wireless camera's button, end to end: the simulator on a loopback address of this
// test's own serves the stream and the button channel, the window previews it through the
// registered module, and a press in the simulator becomes a stored photo.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "Skelvane/shell/tests/ViewerTestSupport.h"
#include "tools/camsim/CamSimProcess.h"

namespace viewertest {
namespace {

using WifiButtonTest = ViewerTest;

constexpr uint32_t kCameraAddress = 0x7F000092;  // 127.0.0.146
constexpr const char* kCameraAddressText = "127.0.0.146";
constexpr int kStreamPort = 8146;
const std::vector<bool> kAllEnabled(5, true);

// Connections to the camera's button port 5000 in the machine's TCP table that are
// established, seen from the program's side.
int ButtonConnections() {
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // column titles
    char remote[32];
    std::snprintf(remote, sizeof(remote), "%08X:1388", __builtin_bswap32(kCameraAddress));
    int count = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remoteAddress, state;
        fields >> slot >> local >> remoteAddress >> state;
        if (remoteAddress == remote && state == "01") ++count;
    }
    return count;
}

std::vector<fs::path> SingleShots(const fs::path& mediaRoot) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(mediaRoot / "Single Shots", error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    return files;
}

TEST_F(WifiButtonTest, PressesBecomePhotosWhileTheWirelessCameraIsPreviewed) {
    CamSimProcess camera({"--address", kCameraAddressText, "--port", std::to_string(kStreamPort),
                          "--size", "320x240"},
                         true);
    ASSERT_TRUE(camera.Ready()) << camera.ReadyLine();
    ChangeSettings([](CSettingParam& param) {
        param.wifideviceip = kCameraAddress;
        param.wifideviceport = kStreamPort;
    });
    ASSERT_NO_FATAL_FAILURE(RegisterWirelessModule());
    Attach({});
    auto window = std::make_unique<CMainViewerDlg>("Skelvane");
    window->show();
    // With only the wireless camera there, the start-up choice finds no camera.
    ASSERT_TRUE(WaitUntil([&] { return !boxes_->Texts().empty(); }));
    boxes_->Clear();
    ASSERT_TRUE(window->StartPreview(PreviewRequest{kWifiDeviceIndex, 0, 0, false}))
        << ::testing::PrintToString(boxes_->Texts());
    EXPECT_EQ(window->DeviceIdentity(), "wifi device");
    ASSERT_TRUE(WaitUntil([] { return ButtonConnections() == 1; }));

    // A press neither checks the folder nor disables a button; one photo is stored.
    ASSERT_TRUE(camera.PressButton());
    ASSERT_TRUE(WaitUntil([&] { return SingleShots(MediaRoot()).size() == 1; }));
    Settle();  // UM_PHOTO_SAVED, posted after the file was stored, clears the request
    EXPECT_EQ(window->takePhoto.load(), 0);
    EXPECT_EQ(CommandButtonsEnabled(*window), kAllEnabled);
    EXPECT_TRUE(WaitUntil(
        [&] { return RevealedAtTheEnd(*window, SingleShots(MediaRoot())[0], "Single Shots"); }));

    // During a recording the handled press enables all five buttons; the recording goes on.
    // The recording restarts the preview at the movie size, and with it the channel.
    window->OnCommand(kIdRecord);
    ASSERT_EQ(window->recording.load(), 1);
    ASSERT_NE(CommandButtonsEnabled(*window), kAllEnabled);
    ASSERT_TRUE(WaitUntil([] { return ButtonConnections() == 1; }));
    ASSERT_TRUE(camera.PressButton());
    ASSERT_TRUE(WaitUntil([&] { return SingleShots(MediaRoot()).size() == 2; }));
    EXPECT_TRUE(WaitUntil([&] { return CommandButtonsEnabled(*window) == kAllEnabled; }));
    EXPECT_EQ(window->recording.load(), 1);
    window->OnCommand(kIdRecord);
    Settle();
    EXPECT_EQ(SingleShots(MediaRoot()).size(), 2u);

    // The window's teardown closes the channel.
    window.reset();
    EXPECT_EQ(ButtonConnections(), 0);
    EXPECT_TRUE(boxes_->Texts().empty()) << boxes_->Texts()[0];
}

}  // namespace
}  // namespace viewertest
