#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "Skelvane/capture/CaptureVideo.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "common/CRegistry.h"
#include "platform/registry/Registry.h"
#include "platform/sys/Sys.h"
#include "platform/v4l2/CameraFilter.h"
#include "platform/v4l2/tests/FakeCameras.h"
#include "tests/support/GrabberGraph.h"
#include "tests/support/RecordingPresenter.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Records what reaches the preview callback.
class FrameRecorder : public support::BufferCallback<IFrameSizedCallback> {
public:
    HRESULT BufferCB(double, BYTE* buffer, long length) override {
        std::lock_guard<std::mutex> lock(mutex);
        if (buffer != nullptr) lengths.push_back(length);
        if (buffer != nullptr && firstBytes.empty()) firstBytes.assign(buffer, buffer + length);
        sizesAtFrame.emplace_back(width.load(), height.load());
        return S_OK;
    }
    void SetFrameSize(long w, long h) override {
        width = w;
        height = h;
    }
    size_t Frames() {
        std::lock_guard<std::mutex> lock(mutex);
        return lengths.size();
    }
    std::atomic<long> width{0}, height{0};
    std::mutex mutex;
    std::vector<long> lengths;
    std::vector<uint8_t> firstBytes;
    std::vector<std::pair<long, long>> sizesAtFrame;
};

bool WaitFor(const std::function<bool()>& condition) {
    for (int i = 0; i < 200 && !condition(); ++i) std::this_thread::sleep_for(20ms);
    return condition();
}

class CaptureGraphTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("skelvane-graph-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        // A loaded module keeps its own copy of the store code, which finds the store
        // through the environment, as the program's does by default.
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        CSettingParamManage::Destroy();
        SetInstallFolder(std::string(std::getenv("SKELVANE_BIN_DIR")) + "/");
        sinks_.resolutions = &resolutions_;
        sinks_.previewCallback = &preview_;
        sinks_.stillCallback = &still_;
    }
    void TearDown() override {
        CSettingParamManage::Destroy();
        fs::remove_all(root_);
    }

    fs::path root_;
    support::ScopedRecordingPresenter presenter_;
    ResolutionList resolutions_;
    FrameRecorder preview_, still_;
    CCaptureVideo::Sinks sinks_;
};

// The test module registers itself like the wireless module does; a "DevicePath" in its
// instance key makes the program list it like a USB camera.
void RegisterTestModuleAsCamera() {
    void* module = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    dlclose(module);
    CRegistry instance;
    ASSERT_TRUE(instance.Open(
        HKEY_CLASSES_ROOT, "CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\test camera",
        KEY_ALL_ACCESS));
    ASSERT_TRUE(instance.WriteText("DevicePath", "usb#vid_0c45&pid_0001&mi_00#test"));
}

TEST_F(CaptureGraphTest, RegisteredModuleDeliversFramesOfTheNegotiatedSize) {
    RegisterTestModuleAsCamera();
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    DeviceTable table;
    ASSERT_EQ(capture.EnumerateDevices(table), 1);
    EXPECT_EQ(table.at(0).friendlyName, "test camera");

    PreviewRequest request{0, 0, 0, false};
    ASSERT_EQ(capture.BuildGraph(0, 0, request), S_OK);
    EXPECT_EQ(request.width, 64);
    EXPECT_EQ(request.height, 48);
    ASSERT_TRUE(WaitFor([&] { return preview_.Frames() >= 3; }));
    capture.TearDown();
    const size_t framesAtTearDown = preview_.Frames();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(preview_.Frames(), framesAtTearDown);  // nothing arrives after the graph is gone

    std::lock_guard<std::mutex> lock(preview_.mutex);
    for (long length : preview_.lengths) EXPECT_EQ(length, 64 * 48 * 3);
    for (auto size : preview_.sizesAtFrame) EXPECT_EQ(size, (std::pair<long, long>{64, 48}));
    EXPECT_TRUE(presenter_->Texts().empty());
}

TEST_F(CaptureGraphTest, UnknownDeviceIsReportedAsNotFound) {
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    PreviewRequest request{3, 0, 0, false};
    EXPECT_EQ(static_cast<uint32_t>(capture.BuildGraph(3, 0, request)), 0x800F0211u);
    ASSERT_EQ(presenter_->Texts().size(), 1u);
    EXPECT_EQ(presenter_->Texts()[0], "The capture device cannot be found.");
    capture.TearDown();
}

// USB cameras replayed from recorded answers, each offering the given RGB sizes.
class CameraGraphTest : public CaptureGraphTest {
protected:
    void UseCamera(std::vector<v4l2::testing::FakeSize> sizes, int busyError = 0) {
        v4l2::testing::FakeCamera camera;
        camera.node = "/dev/video0";
        camera.card = "Recorded Camera";
        camera.busInfo = "usb-0000:00:14.0-1";
        camera.usb = v4l2::UsbIdentity{0x0c45, 0x6340, 0, ""};
        camera.formats = {{V4L2_PIX_FMT_YUYV, std::move(sizes)}};
        camera.busyError = busyError;
        system_ = std::make_unique<v4l2::testing::FakeDeviceSystem>(
            std::vector<v4l2::testing::FakeCamera>{camera});
        previousSystem_ = v4l2::SetDeviceSystem(system_.get());
        v4l2::InstallCameraProvider();
    }
    void TearDown() override {
        if (system_) v4l2::SetDeviceSystem(previousSystem_);
        CaptureGraphTest::TearDown();
    }
    std::vector<ResolutionEntry> Offered() const {
        std::vector<ResolutionEntry> entries;
        for (const auto& [key, entry] : resolutions_) entries.push_back(entry);
        return entries;
    }
    std::unique_ptr<v4l2::testing::FakeDeviceSystem> system_;
    v4l2::IDeviceSystem* previousSystem_ = nullptr;
};

TEST_F(CameraGraphTest, SmallModesGetTheDoubledEntryAndRequestsAreClamped) {
    UseCamera({{320, 240, 30}, {640, 480, 30}});
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    const struct {
        PreviewRequest request;
        PreviewRequest returned;
        long frameWidth, frameHeight;
    } cases[] = {
        {{0, 0, 0, false}, {0, 640, 480, false}, 640, 480},  // 1280 x 960 is beyond the maximum
        {{0, 1280, 960, true}, {0, 1280, 960, true}, 640, 480},
        {{0, 320, 240, false}, {0, 320, 240, false}, 320, 240},
    };
    for (const auto& c : cases) {
        PreviewRequest request = c.request;
        ASSERT_EQ(capture.BuildGraph(0, 0, request), S_OK);
        EXPECT_EQ(request.width, c.returned.width);
        EXPECT_EQ(request.height, c.returned.height);
        EXPECT_EQ(request.interpolation, c.returned.interpolation);
        EXPECT_EQ(preview_.width.load(), c.frameWidth);
        EXPECT_EQ(preview_.height.load(), c.frameHeight);
        EXPECT_EQ(Offered(), (std::vector<ResolutionEntry>{
                                 {320, 240, false}, {640, 480, false}, {1280, 960, true}}));
        capture.TearDown();
    }
}

TEST_F(CameraGraphTest, PreviewFramesAreBottomUpBgrOfTheNegotiatedSize) {
    UseCamera({{320, 240, 30}, {640, 480, 30}});
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    PreviewRequest request{0, 320, 240, false};
    ASSERT_EQ(capture.BuildGraph(0, 0, request), S_OK);
    ASSERT_TRUE(WaitFor([&] { return preview_.Frames() >= 1; }));
    capture.TearDown();
    std::lock_guard<std::mutex> lock(preview_.mutex);
    ASSERT_EQ(preview_.firstBytes.size(), 320u * 240u * 3u);
    // The camera's picture is red above blue; the first row in memory is the bottom one.
    const uint8_t* bottomRow = preview_.firstBytes.data();
    const uint8_t* topRow = bottomRow + 239 * 320 * 3;
    // YUV to BGR rounds by a step or two.
    auto near = [](const uint8_t* pixel, const uint8_t* colour) {
        for (int i = 0; i < 3; ++i)
            if (std::abs(pixel[i] - colour[i]) > 4) return false;
        return true;
    };
    EXPECT_TRUE(near(bottomRow, v4l2::testing::kBottomColour));
    EXPECT_TRUE(near(topRow, v4l2::testing::kTopColour));
}

TEST_F(CameraGraphTest, MaximumMustBeLargestInBothDimensions) {
    UseCamera({{1280, 720, 30}, {1024, 768, 30}});
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    PreviewRequest request{0, 1024, 768, false};
    ASSERT_EQ(capture.BuildGraph(0, 0, request), S_OK);
    EXPECT_EQ(request.width, 1280);  // 768 is above the maximum's height
    EXPECT_EQ(request.height, 720);
    EXPECT_EQ(Offered(), (std::vector<ResolutionEntry>{
                             {1024, 768, false}, {1280, 720, false}, {2560, 1440, true}}));
    capture.TearDown();
}

TEST_F(CameraGraphTest, BusyCameraFailsToRunWithTheInUseBox) {
    UseCamera({{640, 480, 30}}, EBUSY);
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    PreviewRequest request{0, 0, 0, false};
    EXPECT_TRUE(FAILED(capture.BuildGraph(0, 0, request)));
    capture.TearDown();
    ASSERT_FALSE(presenter_->Texts().empty());
    EXPECT_EQ(
        presenter_->Texts().back(),
        "Couldn't preview this device,because this device may been using by other applicaiton");
}

}  // namespace

namespace {

TEST_F(CameraGraphTest, PropertyPagesNeedAGraphAndNameTheCameraControls) {
    UseCamera({{640, 480, 30}});
    std::vector<GUID> shown;
    sinks_.showPropertyPages = [&](IBaseFilter* device, const CAUUID& pages) {
        EXPECT_NE(device, nullptr);
        shown.assign(pages.pElems, pages.pElems + pages.cElems);
    };
    CCaptureVideo capture;
    capture.SetSinks(sinks_);
    capture.ShowDeviceProperties();
    ASSERT_EQ(presenter_->Texts().size(), 1u);
    EXPECT_EQ(presenter_->Texts()[0], GetLocalizedString("ui_alert_no_camera", ""));
    EXPECT_TRUE(shown.empty());

    PreviewRequest request{0, 0, 0, false};
    ASSERT_EQ(capture.BuildGraph(0, 0, request), S_OK);
    capture.ShowDeviceProperties();
    EXPECT_EQ(shown, std::vector<GUID>{CLSID_CameraControlsPage});
    capture.TearDown();
}

}  // namespace
