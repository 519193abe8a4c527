// Camera settings that stick, against vivid, the kernel's virtual camera, in the test VM
// (scripts/test-vivid): brightness and contrast set in the property dialog are the camera's
// values at the first picture of the next start, after vivid is unloaded and loaded again
// (a replug) and after its node changed; a remembered value outside the control's range is
// skipped; "Camera defaults" restores the defaults and forgets the values. Skips where
// /dev/video0 is not vivid. The test reloads vivid and leaves it as the VM loaded it.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QSpinBox>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "Skelvane/capture/CameraSettings.h"
#include "Skelvane/capture/CaptureVideo.h"
#include "Skelvane/capture/DevicePropertiesDialog.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "platform/registry/Registry.h"
#include "platform/v4l2/CameraFilter.h"
#include "platform/v4l2/CameraList.h"
#include "tests/support/GrabberGraph.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/TestApplication.h"
#include "tests/support/TraceRecorder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr char kIdentity[] = "v4l2#platform:vivid-000";
// vivid as scripts/vm-run loads it: one webcam capture node.
constexpr char kVividOptions[] = "n_devs=1 node_types=0x1 num_inputs=1 input_types=0x0";
constexpr int32_t kBrightnessDefault = 128;
constexpr int32_t kContrastDefault = 128;

// The node of vivid's capture device, empty when vivid is not loaded.
std::string VividNode() {
    for (const auto& camera : v4l2::EnumerateCameras(v4l2::KernelDeviceSystem()))
        if (camera.busInfo == "platform:vivid-000") return camera.node;
    return {};
}

int32_t DriverValue(const std::string& node, uint32_t id) {
    std::unique_ptr<v4l2::IDeviceNode> opened;
    v4l2_control control{id, -1};
    if (v4l2::KernelDeviceSystem().Open(node, opened) == 0) opened->GetControl(control);
    return control.value;
}

void SetDriverValue(const std::string& node, uint32_t id, int32_t value) {
    std::unique_ptr<v4l2::IDeviceNode> opened;
    ASSERT_EQ(v4l2::KernelDeviceSystem().Open(node, opened), 0);
    v4l2_control control{id, value};
    ASSERT_EQ(opened->SetControl(control), 0);
}

// Unloads vivid and loads it with `options`, as when the camera is unplugged and plugged in.
void ReloadVivid(const std::string& options) {
    ASSERT_EQ(std::system("busybox rmmod vivid"), 0);
    ASSERT_EQ(std::system(("busybox modprobe vivid " + options).c_str()), 0);
}

// The driver's brightness and contrast when the first picture reached the preview callback.
class FirstPicture : public support::BufferCallback<IFrameSizedCallback> {
public:
    HRESULT BufferCB(double, BYTE*, long) override {
        std::lock_guard lock(mutex_);
        if (!seen_ && !node_.empty())
            seen_ = std::pair{DriverValue(node_, V4L2_CID_BRIGHTNESS),
                              DriverValue(node_, V4L2_CID_CONTRAST)};
        ++frames_;
        return S_OK;
    }
    void SetFrameSize(long, long) override {}
    void Expect(const std::string& node) {
        std::lock_guard lock(mutex_);
        node_ = node;
        seen_.reset();
    }
    // {-1, -1} when no picture came within 60 s (the VM is emulated and slow).
    std::pair<int32_t, int32_t> Wait() {
        for (int i = 0; i < 600; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (seen_) return *seen_;
            }
            std::this_thread::sleep_for(100ms);
        }
        return {-1, -1};
    }
    int Frames() {
        std::lock_guard lock(mutex_);
        return frames_;
    }

private:
    std::mutex mutex_;
    std::string node_;
    std::optional<std::pair<int32_t, int32_t>> seen_;
    int frames_ = 0;
};

class CameraSettingsVividTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartTestApplication();
        v4l2::InstallCameraProvider();
    }
    static void TearDownTestSuite() { StopTestApplication(); }

    void SetUp() override {
        node_ = VividNode();
        if (node_.empty()) {
            if (std::getenv("SKELVANE_REQUIRE_VIVID")) FAIL() << "vivid is not loaded";
            GTEST_SKIP() << "vivid is not loaded: run through scripts/test-vivid";
        }
        root_ = fs::temp_directory_path() / ("skelvane-vivid-settings-" + std::to_string(getpid()));
        fs::remove_all(root_);
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        SetInstallFolder(std::string(std::getenv("SKELVANE_BIN_DIR")) + "/");
        SetDriverValue(node_, V4L2_CID_BRIGHTNESS, kBrightnessDefault);
        SetDriverValue(node_, V4L2_CID_CONTRAST, kContrastDefault);
        sinks_.previewCallback = &picture_;
        sinks_.headless = true;
    }
    void TearDown() override {
        if (root_.empty()) return;
        fs::remove_all(root_);
        // The other vivid tests expect vivid as the VM loaded it, even after a failure here.
        if (VividNode() != "/dev/video0") ReloadVivid(kVividOptions);
    }

    // Starts the preview of vivid as the program does after a start or a device notice and
    // returns the driver's brightness and contrast at the first picture.
    std::pair<int32_t, int32_t> Start(CCaptureVideo& capture) {
        capture.SetSinks(sinks_);
        DeviceTable table;
        capture.EnumerateDevices(table);
        const int32_t index = IndexOfIdentity(table, kIdentity);
        EXPECT_GE(index, 0) << "vivid is not listed under " << kIdentity;
        node_ = VividNode();
        picture_.Expect(node_);
        PreviewRequest request{index, 320, 180, false};
        EXPECT_EQ(capture.BuildGraph(index, 0, request), S_OK);
        return picture_.Wait();
    }

    // Opens the property dialog through the capture object, as "More..." does, and hands it
    // to `use` before it closes with OK.
    void WithDialog(CCaptureVideo& capture,
                    const std::function<void(CDevicePropertiesDialog&)>& use) {
        bool shown = false;
        sinks_.showPropertyPages = [&](IBaseFilter* device, const CAUUID&) {
            CComPtr<ICameraControls> controls;
            ASSERT_EQ(
                device->QueryInterface(IID_ICameraControls, reinterpret_cast<void**>(&controls)),
                S_OK);
            CDevicePropertiesDialog dialog(controls);
            use(dialog);
            dialog.accept();
            shown = true;
        };
        capture.SetSinks(sinks_);
        capture.ShowDeviceProperties();
        EXPECT_TRUE(shown);
    }

    static QSpinBox* Number(QWidget& dialog, const char* name) {
        for (auto* box : dialog.findChildren<QSpinBox*>())
            if (box->accessibleName() == name) return box;
        ADD_FAILURE() << "no editor for " << name;
        return nullptr;
    }

    std::string node_;
    fs::path root_;
    FirstPicture picture_;
    CCaptureVideo::Sinks sinks_;
    support::ScopedRecordingPresenter presenter_;
};

TEST_F(CameraSettingsVividTest, ValuesSetInTheDialogComeBackAtStartReplugAndNewNode) {
    const std::pair<int32_t, int32_t> chosen{200, 90};
    {
        CCaptureVideo capture;
        Start(capture);
        WithDialog(capture, [&](CDevicePropertiesDialog& dialog) {
            const int framesBefore = picture_.Frames();
            Number(dialog, "Brightness")->setValue(chosen.first);
            Number(dialog, "Contrast")->setValue(chosen.second);
            // At once, while the preview runs on.
            EXPECT_EQ(DriverValue(node_, V4L2_CID_BRIGHTNESS), chosen.first);
            for (int i = 0; i < 600 && picture_.Frames() < framesBefore + 3; ++i)
                std::this_thread::sleep_for(100ms);
            EXPECT_GE(picture_.Frames(), framesBefore + 3);
        });
        capture.TearDown();
    }
    std::printf("vivid: brightness %d, contrast %d set in the dialog\n", chosen.first,
                chosen.second);

    // The next start: the driver went back to its defaults meanwhile.
    SetDriverValue(node_, V4L2_CID_BRIGHTNESS, kBrightnessDefault);
    SetDriverValue(node_, V4L2_CID_CONTRAST, kContrastDefault);
    {
        CCaptureVideo capture;
        const auto seen = Start(capture);
        std::printf("vivid: next start, brightness %d, contrast %d at the first picture\n",
                    seen.first, seen.second);
        EXPECT_EQ(seen, chosen);
    }

    ReloadVivid(kVividOptions);
    ASSERT_EQ(DriverValue(VividNode(), V4L2_CID_BRIGHTNESS), kBrightnessDefault);
    {
        CCaptureVideo capture;
        const auto seen = Start(capture);
        std::printf(
            "vivid: after a replug on %s, brightness %d, contrast %d at the first picture\n",
            node_.c_str(), seen.first, seen.second);
        EXPECT_EQ(seen, chosen);
    }

    // Loaded again on another node number, the camera is still the same camera.
    ReloadVivid(std::string(kVividOptions) + " vid_cap_nr=3");
    ASSERT_EQ(VividNode(), "/dev/video3");
    {
        CCaptureVideo capture;
        const auto seen = Start(capture);
        std::printf("vivid: on %s, brightness %d, contrast %d at the first picture\n",
                    node_.c_str(), seen.first, seen.second);
        EXPECT_EQ(seen, chosen);
    }
    EXPECT_TRUE(presenter_->Texts().empty());
}

TEST_F(CameraSettingsVividTest, OutOfRangeIsSkippedAndDefaultsForget) {
    support::TraceRecorder trace;
    // Brightness from a camera whose range was wider; contrast still fits.
    ASSERT_TRUE(RememberControls(kIdentity, {{V4L2_CID_BRIGHTNESS, 300}, {V4L2_CID_CONTRAST, 90}}));
    CCaptureVideo capture;
    const auto seen = Start(capture);
    std::printf("vivid: remembered brightness 300 (range 0..255): brightness %d, contrast %d\n",
                seen.first, seen.second);
    EXPECT_EQ(seen, (std::pair<int32_t, int32_t>{kBrightnessDefault, 90}));
    EXPECT_FALSE(trace.Find({kIdentity, "value 300 skipped: out of the control's range"}).empty());
    EXPECT_TRUE(presenter_->Texts().empty());

    WithDialog(capture, [&](CDevicePropertiesDialog& dialog) {
        Number(dialog, "Brightness")->setValue(40);
        const QString label =
            QString::fromStdString(GetLocalizedString("ui_property_btn_camera_defaults", ""));
        QPushButton* defaults = nullptr;
        for (auto* button : dialog.findChildren<QPushButton*>())
            if (button->accessibleName() == label) defaults = button;
        ASSERT_NE(defaults, nullptr);
        defaults->click();
        EXPECT_EQ(Number(dialog, "Brightness")->value(), kBrightnessDefault);
        EXPECT_EQ(Number(dialog, "Contrast")->value(), kContrastDefault);
    });
    EXPECT_EQ(DriverValue(node_, V4L2_CID_BRIGHTNESS), kBrightnessDefault);
    EXPECT_EQ(DriverValue(node_, V4L2_CID_CONTRAST), kContrastDefault);
    EXPECT_TRUE(ReadRememberedControls(kIdentity).empty());
    capture.TearDown();
    std::printf("vivid: after \"Camera defaults\", brightness %d, contrast %d, %zu values kept\n",
                DriverValue(node_, V4L2_CID_BRIGHTNESS), DriverValue(node_, V4L2_CID_CONTRAST),
                ReadRememberedControls(kIdentity).size());
}

}  // namespace
