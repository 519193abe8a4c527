// Camera control values remembered per camera: the store, the checks against the camera's
// current controls, and their application before the first picture of every graph.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <thread>

#include "Skelvane/capture/CameraSettings.h"
#include "Skelvane/capture/CaptureVideo.h"
#include "common/CRegistry.h"
#include "platform/registry/Registry.h"
#include "platform/v4l2/CameraFilter.h"
#include "platform/v4l2/tests/FakeCameras.h"
#include "tests/support/GrabberGraph.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/TraceRecorder.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The recorded webcam on /dev/video0 of the standard cameras.
constexpr char kWebcam[] = "usb#vid_046d&pid_082d&mi_00#usb-0000:00:14.0-2#sn_5C3E1A0F";

class CameraSettingsTest : public ::testing::Test {
protected:
    CameraSettingsTest()
        : root_(fs::temp_directory_path() / ("skelvane-cameras-" + std::to_string(::getpid()))) {
        fs::remove_all(root_);
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
    }
    ~CameraSettingsTest() override { fs::remove_all(root_); }

    fs::path root_;
};

TEST_F(CameraSettingsTest, EachCameraKeepsItsOwnValuesBesideTheDesignedOnes) {
    CRegistry designed;
    ASSERT_TRUE(designed.Create(HKEY_CURRENT_USER, "Software\\Skelvane"));
    ASSERT_TRUE(designed.WriteText("indentityofpreviewed", kWebcam));

    const std::string other = "v4l2#platform:vivid-000";
    ASSERT_TRUE(RememberControls(kWebcam, {{V4L2_CID_BRIGHTNESS, 200}, {V4L2_CID_HUE, -40}}));
    ASSERT_TRUE(RememberControls(kWebcam, {{V4L2_CID_BRIGHTNESS, 90}}));  // replaces, adds
    ASSERT_TRUE(RememberControls(other, {{V4L2_CID_BRIGHTNESS, 10}}));
    // A value of another kind under the key is not a control value.
    CRegistry stray;
    ASSERT_TRUE(stray.Open(HKEY_CURRENT_USER, CameraSettingsKey(kWebcam), KEY_ALL_ACCESS));
    ASSERT_TRUE(stray.WriteText("note", "hand-made"));
    stray.Close();

    EXPECT_EQ(ReadRememberedControls(kWebcam),
              (ControlValues{{V4L2_CID_BRIGHTNESS, 90}, {V4L2_CID_HUE, -40}}));
    ForgetControls(kWebcam);
    EXPECT_TRUE(ReadRememberedControls(kWebcam).empty());
    EXPECT_EQ(ReadRememberedControls(other), (ControlValues{{V4L2_CID_BRIGHTNESS, 10}}));
    std::string kept;
    ASSERT_TRUE(designed.ReadText("indentityofpreviewed", kept));
    EXPECT_EQ(kept, kWebcam);
}

// A camera whose manual focus is refused while its automatic focus is on: the automatic
// focus comes after the manual one in control order.
class FocusCamera : public ICameraControls {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetControls(std::vector<v4l2::ControlInfo>* controls) override {
        v4l2::ControlInfo focus{V4L2_CID_FOCUS_ABSOLUTE,
                                V4L2_CTRL_TYPE_INTEGER,
                                "Focus",
                                0,
                                250,
                                5,
                                0,
                                V4L2_CTRL_FLAG_INACTIVE,
                                {}};
        v4l2::ControlInfo automatic{
            V4L2_CID_FOCUS_AUTO, V4L2_CTRL_TYPE_BOOLEAN, "Focus, Auto", 0, 1, 1, 1, 0, {}};
        *controls = {focus, automatic};
        return S_OK;
    }
    HRESULT GetValue(uint32_t id, int32_t* value) override {
        *value = values[id];
        return S_OK;
    }
    HRESULT SetValue(uint32_t id, int32_t value) override {
        if (id == V4L2_CID_FOCUS_ABSOLUTE && values[V4L2_CID_FOCUS_AUTO]) return E_ACCESSDENIED;
        values[id] = value;
        return S_OK;
    }
    HRESULT GetIdentity(std::string* identity) override {
        *identity = kWebcam;
        return S_OK;
    }
    std::map<uint32_t, int32_t> values{{V4L2_CID_FOCUS_ABSOLUTE, 0}, {V4L2_CID_FOCUS_AUTO, 1}};
};

TEST_F(CameraSettingsTest, AValueHeldByAnotherControlIsSetAfterIt) {
    FocusCamera camera;
    ASSERT_TRUE(
        RememberControls(kWebcam, {{V4L2_CID_FOCUS_ABSOLUTE, 120}, {V4L2_CID_FOCUS_AUTO, 0}}));
    EXPECT_EQ(ApplyRememberedControls(camera), 2);
    EXPECT_EQ(camera.values[V4L2_CID_FOCUS_AUTO], 0);
    EXPECT_EQ(camera.values[V4L2_CID_FOCUS_ABSOLUTE], 120);
}

// What the preview callback saw of the camera's controls when the first picture came.
class FirstPictureControls : public support::BufferCallback<IFrameSizedCallback> {
public:
    explicit FirstPictureControls(v4l2::testing::FakeDeviceSystem& system) : system_(system) {}
    HRESULT BufferCB(double, BYTE*, long) override {
        std::lock_guard lock(mutex_);
        if (!seen_)
            seen_ = std::pair{system_.ControlValue("/dev/video0", V4L2_CID_BRIGHTNESS),
                              system_.ControlValue("/dev/video0", V4L2_CID_POWER_LINE_FREQUENCY)};
        return S_OK;
    }
    void SetFrameSize(long, long) override {}
    // Waits for the first picture; {-1, -1} when none came.
    std::pair<int32_t, int32_t> Wait() {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (seen_) return *std::exchange(seen_, std::nullopt);
            }
            std::this_thread::sleep_for(20ms);
        }
        return {-1, -1};
    }

private:
    v4l2::testing::FakeDeviceSystem& system_;
    std::mutex mutex_;
    std::optional<std::pair<int32_t, int32_t>> seen_;
};

// Every graph sets the remembered values before it runs; what the camera no longer allows
// is skipped and traced, never shown in a box.
TEST_F(CameraSettingsTest, RememberedValuesComeBeforeTheFirstPictureOfEveryGraph) {
    v4l2::testing::FakeDeviceSystem system;
    v4l2::IDeviceSystem* previous = v4l2::SetDeviceSystem(&system);
    v4l2::InstallCameraProvider();
    support::ScopedRecordingPresenter presenter;
    support::TraceRecorder trace;
    ASSERT_TRUE(RememberControls(kWebcam, {
                                              {V4L2_CID_BRIGHTNESS, 200},
                                              {V4L2_CID_POWER_LINE_FREQUENCY, 1},
                                              {V4L2_CID_AUTO_WHITE_BALANCE, 2},  // range 0..1
                                              {V4L2_CID_CONTRAST, 50},  // disabled: not offered
                                              {V4L2_CID_EXPOSURE_ABSOLUTE, 300},
                                          }));
    FirstPictureControls seen(system);
    CCaptureVideo capture;
    CCaptureVideo::Sinks sinks;
    sinks.previewCallback = &seen;
    sinks.headless = true;
    capture.SetSinks(sinks);
    DeviceTable table;
    capture.EnumerateDevices(table);
    int index = -1;
    for (const auto& [i, entry] : table)
        if (entry.friendlyName == "HD Pro Webcam C920") index = i;
    ASSERT_GE(index, 0);

    // At start, then after the camera lost the values (a replug) and a new size was chosen.
    for (auto [width, height] : {std::pair{640, 480}, std::pair{1280, 720}}) {
        PreviewRequest request{index, width, height, false};
        ASSERT_EQ(capture.BuildGraph(index, 0, request), S_OK);
        EXPECT_EQ(seen.Wait(), (std::pair<int32_t, int32_t>{200, 1})) << width;
        capture.TearDown();
        std::lock_guard lock(system.mutex);
        system.controlValues["/dev/video0"][V4L2_CID_BRIGHTNESS] = 128;
        system.controlValues["/dev/video0"][V4L2_CID_POWER_LINE_FREQUENCY] = 2;
    }
    EXPECT_EQ(system.ControlValue("/dev/video0", V4L2_CID_AUTO_WHITE_BALANCE), 1);
    EXPECT_FALSE(
        trace.Find({kWebcam, "0x0098090c value 2 skipped: out of the control's range"}).empty());
    EXPECT_FALSE(
        trace.Find({kWebcam, "0x00980901 value 50 skipped: the camera has no such"}).empty());
    EXPECT_FALSE(trace.Find({kWebcam, "0x009a0902 value 300 skipped"}).empty());
    EXPECT_TRUE(presenter->Texts().empty());
    v4l2::SetDeviceSystem(previous);
}

}  // namespace
