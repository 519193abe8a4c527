#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <optional>

#include "platform/v4l2/CameraList.h"
#include "platform/v4l2/CameraModes.h"
#include "platform/v4l2/CameraStream.h"
#include "platform/v4l2/DeviceMonitor.h"
#include "platform/v4l2/SnapshotButton.h"
#include "platform/v4l2/tests/FakeCameras.h"
#include "tests/support/TraceRecorder.h"

namespace v4l2 {
namespace {

using testing::FakeDeviceSystem;

std::unique_ptr<IDeviceNode> OpenNode(IDeviceSystem& system, const std::string& node) {
    std::unique_ptr<IDeviceNode> opened;
    EXPECT_EQ(system.Open(node, opened), 0) << node;
    return opened;
}

// Capture nodes only, in bus order, named by card, addressed by bus path and USB identity.
TEST(CameraList, ListsCaptureNodesByBusPath) {
    FakeDeviceSystem system;
    std::vector<CameraInfo> cameras = EnumerateCameras(system);
    struct Expected {
        const char* node;
        const char* name;
        const char* path;
    };
    const Expected expected[] = {
        {"/dev/video6", "vivid", "v4l2#platform:vivid-000"},
        {"/dev/video2", "USB2.0 PC CAMERA", "usb#vid_0c45&pid_6340&mi_00#usb-0000:00:14.0-1"},
        {"/dev/video0", "HD Pro Webcam C920", "usb#vid_046d&pid_082d&mi_00#usb-0000:00:14.0-2"},
        {"/dev/video3", "Busy Cam", "usb#vid_1e4e&pid_0102&mi_00#usb-0000:00:14.0-3"},
        {"/dev/video4", "Integrated Webcam", "usb#vid_0bda&pid_58c2&mi_00#usb-0000:00:14.0-5"},
    };
    ASSERT_EQ(cameras.size(), std::size(expected));
    for (size_t i = 0; i < cameras.size(); ++i) {
        EXPECT_EQ(cameras[i].node, expected[i].node);
        EXPECT_EQ(cameras[i].friendlyName, expected[i].name);
        EXPECT_EQ(cameras[i].devicePath, expected[i].path);
    }
}

// Renumbered nodes (another plug order) keep the same list and paths; a camera that offers
// nothing this layer converts is not listed.
TEST(CameraList, OrderAndPathsDoNotDependOnNodeNumbers) {
    auto cameras = FakeDeviceSystem::StandardCameras();
    auto renumbered = cameras;
    for (size_t i = 0; i < renumbered.size(); ++i)
        renumbered[i].node = "/dev/video" + std::to_string(20 - i);
    renumbered.push_back({"/dev/video30",
                          "H264 Only",
                          "usb-0000:00:14.0-9",
                          V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING,
                          UsbIdentity{1, 2, 0, ""},
                          {{V4L2_PIX_FMT_H264, {{1920, 1080, 30}}}},
                          {}});
    FakeDeviceSystem first(cameras), second(renumbered);
    auto a = EnumerateCameras(first), b = EnumerateCameras(second);
    ASSERT_EQ(a.size(), b.size());
    for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(a[i].devicePath, b[i].devicePath);
}

// The loopback device skelvane-vcam feeds is the wireless camera a second time: left out.
// Other loopback devices, and a camera that merely has the same name, stay.
TEST(CameraList, LeavesOutTheWirelessCamerasLoopbackDevice) {
    const testing::FakeFormat yuyv{V4L2_PIX_FMT_YUYV, {{640, 480, 30}}};
    const uint32_t capture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    struct Case {
        const char* card;
        const char* driver;
        bool listed;
    };
    const Case cases[] = {
        {"Skelvane wireless camera", "v4l2 loopback", false},
        {"OBS Virtual Camera", "v4l2 loopback", true},
        {"Skelvane wireless camera", "vivid", true},
        {"Skelvane wireless camera 2", "v4l2 loopback", true},
    };
    for (const Case& c : cases) {
        testing::FakeCamera camera{
            "/dev/video9", c.card, "platform:v4l2loopback-000", capture, std::nullopt, {yuyv}, {}};
        camera.driver = c.driver;
        FakeDeviceSystem system(std::vector<testing::FakeCamera>{camera});
        EXPECT_EQ(EnumerateCameras(system).size(), c.listed ? 1u : 0u)
            << c.card << " / " << c.driver;
    }
}

// The identity that camera settings are remembered under: the bus path always, the serial
// number where the device has one, else vendor and product; never the node.
TEST(CameraIdentity, FollowsBusPathAndSerialNotTheNode) {
    struct Case {
        const char* busInfo;
        std::optional<UsbIdentity> usb;
        const char* identity;
    };
    const Case cases[] = {
        {"usb-0000:00:14.0-2", UsbIdentity{0x046d, 0x082d, 0, "5C3E1A0F"},
         "usb#vid_046d&pid_082d&mi_00#usb-0000:00:14.0-2#sn_5C3E1A0F"},
        {"usb-0000:00:14.0-2", UsbIdentity{0x046d, 0x082d, 0, "7D21B9E4"},
         "usb#vid_046d&pid_082d&mi_00#usb-0000:00:14.0-2#sn_7D21B9E4"},
        {"usb-0000:00:14.0-1", UsbIdentity{0x0c45, 0x6340, 0, ""},
         "usb#vid_0c45&pid_6340&mi_00#usb-0000:00:14.0-1"},
        {"platform:vivid-000", std::nullopt, "v4l2#platform:vivid-000"},
        // A serial number is the device's own text: it must not split the settings key or
        // break the settings file's lines.
        {"usb-0000:00:14.0-3", UsbIdentity{0x1e4e, 0x0102, 2, "A\\B\nC"},
         "usb#vid_1e4e&pid_0102&mi_02#usb-0000:00:14.0-3#sn_A_B_C"},
    };
    for (const Case& c : cases) EXPECT_EQ(MakeCameraIdentity(c.busInfo, c.usb), c.identity);

    // After a replug the webcam is /dev/video17 and the vivid camera took /dev/video0.
    auto cameras = FakeDeviceSystem::StandardCameras();
    auto renumbered = cameras;
    const std::map<std::string, std::string> moves = {{"/dev/video0", "/dev/video17"},
                                                      {"/dev/video6", "/dev/video0"}};
    for (auto& camera : renumbered)
        if (auto move = moves.find(camera.node); move != moves.end()) camera.node = move->second;
    FakeDeviceSystem before(cameras), after(renumbered);
    EXPECT_EQ(CameraIdentityOf(before, "/dev/video0", *OpenNode(before, "/dev/video0")),
              CameraIdentityOf(after, "/dev/video17", *OpenNode(after, "/dev/video17")));
    EXPECT_EQ(CameraIdentityOf(after, "/dev/video0", *OpenNode(after, "/dev/video0")),
              "v4l2#platform:vivid-000");
}

TEST(CameraList, SharedBusPathsStayDistinct) {
    const uint32_t capture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<testing::FakeCamera> twins = {
        {"/dev/video0",
         "twin",
         "platform:twin",
         capture,
         std::nullopt,
         {{V4L2_PIX_FMT_YUYV, {{64, 48, 30}}}},
         {}},
        {"/dev/video1",
         "twin",
         "platform:twin",
         capture,
         std::nullopt,
         {{V4L2_PIX_FMT_YUYV, {{64, 48, 30}}}},
         {}},
    };
    FakeDeviceSystem system(twins);
    auto cameras = EnumerateCameras(system);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[0].devicePath, "v4l2#platform:twin");
    EXPECT_EQ(cameras[1].devicePath, "v4l2#platform:twin#2");
}

TEST(CameraModes, OneModePerSizeWithTheFastestFormat) {
    FakeDeviceSystem system;
    struct Case {
        const char* node;
        std::vector<CameraMode> modes;
    };
    const Case cases[] = {
        // YUYV and MJPEG both at 30 fps: the uncompressed one; above that MJPEG is faster.
        {"/dev/video0",
         {{640, 480, V4L2_PIX_FMT_YUYV, 1, 30},
          {1280, 720, V4L2_PIX_FMT_MJPEG, 1, 30},
          {1920, 1080, V4L2_PIX_FMT_MJPEG, 1, 30}}},
        // The device's own order is kept.
        {"/dev/video2",
         {{1280, 720, V4L2_PIX_FMT_MJPEG, 1, 30},
          {640, 480, V4L2_PIX_FMT_MJPEG, 1, 30},
          {320, 240, V4L2_PIX_FMT_MJPEG, 1, 30}}},
        {"/dev/video4",
         {{320, 240, V4L2_PIX_FMT_YUYV, 1, 30}, {640, 480, V4L2_PIX_FMT_YUYV, 1, 30}}},
        {"/dev/video1", {}},  // metadata
    };
    for (const auto& c : cases) {
        auto node = OpenNode(system, c.node);
        EXPECT_EQ(ListCameraModes(*node), c.modes) << c.node;
    }
    EXPECT_EQ((CameraMode{1, 1, 0, 1, 30}).FrameInterval100ns(), 333333);
}

// A ranged (stepwise) answer offers the common sizes inside it and its largest size.
TEST(CameraModes, RangedSizesOfferCommonSizes) {
    class SteppedNode : public IDeviceNode {
    public:
        int QueryCap(v4l2_capability&) override { return 0; }
        int EnumFormat(v4l2_fmtdesc& desc) override {
            if (desc.index != 0) return EINVAL;
            desc.pixelformat = V4L2_PIX_FMT_YUYV;
            return 0;
        }
        int EnumFrameSizes(v4l2_frmsizeenum& size) override {
            if (size.index != 0) return EINVAL;
            size.type = V4L2_FRMSIZE_TYPE_STEPWISE;
            size.stepwise = {320, 1000, 16, 240, 600, 8};
            return 0;
        }
        int EnumFrameIntervals(v4l2_frmivalenum&) override { return EINVAL; }
        int GetFormat(v4l2_format&) override { return EINVAL; }
        int SetFormat(v4l2_format&) override { return EINVAL; }
        int SetStreamParm(v4l2_streamparm&) override { return EINVAL; }
        int RequestBuffers(v4l2_requestbuffers&) override { return EINVAL; }
        int QueryBuffer(v4l2_buffer&) override { return EINVAL; }
        int MapBuffer(const v4l2_buffer&, std::span<uint8_t>&) override { return EINVAL; }
        void UnmapBuffers() override {}
        int QueueBuffer(v4l2_buffer&) override { return EINVAL; }
        int DequeueBuffer(v4l2_buffer&) override { return EINVAL; }
        int StreamOn() override { return EINVAL; }
        int StreamOff() override { return EINVAL; }
        int WaitFrame(int) override { return EINVAL; }
        int QueryControl(v4l2_queryctrl&) override { return EINVAL; }
        int QueryMenu(v4l2_querymenu&) override { return EINVAL; }
        int GetControl(v4l2_control&) override { return EINVAL; }
        int SetControl(v4l2_control&) override { return EINVAL; }
    } node;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (const auto& mode : ListCameraModes(node)) sizes.emplace_back(mode.width, mode.height);
    const std::vector<std::pair<uint32_t, uint32_t>> expected = {
        {320, 240}, {352, 288}, {640, 360}, {640, 480}, {800, 600}, {1000, 600}};
    EXPECT_EQ(sizes, expected);
}

TEST(CameraStream, StreamsConvertedFramesAndStops) {
    FakeDeviceSystem system;
    auto node = OpenNode(system, "/dev/video0");
    CameraStream stream(*node);
    for (const auto& mode : ListCameraModes(*node)) {
        ASSERT_EQ(stream.Start(mode), 0);
        std::vector<uint8_t> picture(Rgb24ImageSize(mode.width, mode.height));
        for (int frame = 0; frame < 6; ++frame)  // more frames than buffers: they are requeued
            ASSERT_EQ(stream.ReadFrame(picture, 1000), 0);
        EXPECT_NEAR(picture[0], testing::kBottomColour[0], 10);
        EXPECT_NEAR(picture[picture.size() - 1], testing::kTopColour[2], 10);
        stream.Stop();
        EXPECT_FALSE(stream.Streaming());
    }
}

// Each failure also leaves one trace line that names the node, the request and the reason.
TEST(CameraStream, ReportsBusyRefusedAndUnpluggedDevices) {
    support::TraceRecorder trace;
    FakeDeviceSystem system;
    auto busy = OpenNode(system, "/dev/video3");
    CameraStream busyStream(*busy, "/dev/video3");
    EXPECT_EQ(busyStream.Start(ListCameraModes(*busy).front()), EBUSY);
    EXPECT_FALSE(busyStream.Streaming());
    EXPECT_FALSE(
        trace.Find({"v4l2 /dev/video3: VIDIOC_S_FMT failed: Device or resource busy"}).empty());

    // A size the device answers with another one is refused, not streamed mis-sized.
    auto webcam = OpenNode(system, "/dev/video0");
    CameraStream stream(*webcam, "/dev/video0");
    EXPECT_EQ(stream.Start({800, 600, V4L2_PIX_FMT_YUYV, 0, 0}), EINVAL);
    EXPECT_FALSE(
        trace.Find({"v4l2 /dev/video0: VIDIOC_S_FMT asked 800x600 YUYV, the driver set "}).empty());

    ASSERT_EQ(stream.Start({640, 480, V4L2_PIX_FMT_YUYV, 1, 30}), 0);
    std::vector<uint8_t> picture(Rgb24ImageSize(640, 480));
    ASSERT_EQ(stream.ReadFrame(std::span<uint8_t>(picture).first(100), 1000), EAGAIN);
    EXPECT_FALSE(trace.Find({"v4l2 /dev/video0: frame ", " dropped: it did not convert"}).empty());
    system.Unplug("/dev/video0");
    EXPECT_EQ(stream.ReadFrame(picture, 1000), ENODEV);
    EXPECT_FALSE(trace.Find({"v4l2 /dev/video0: ", " failed: No such device"}).empty());
}

TEST(CameraControls, ListsShownControlsWithMenus) {
    FakeDeviceSystem system;
    auto node = OpenNode(system, "/dev/video0");
    auto controls = ListControls(*node);
    ASSERT_EQ(controls.size(), 3u);  // the disabled contrast is left out
    EXPECT_EQ(controls[0].name, "Brightness");
    EXPECT_EQ(controls[0].maximum, 255);
    EXPECT_EQ(controls[1].type, uint32_t(V4L2_CTRL_TYPE_BOOLEAN));
    EXPECT_EQ(controls[2].name, "Power Line Frequency");
    const std::vector<std::pair<int32_t, std::string>> menu = {
        {0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
    EXPECT_EQ(controls[2].menu, menu);
    EXPECT_TRUE(ListControls(*OpenNode(system, "/dev/video2")).empty());
}

TEST(SnapshotButton, ReportsPressesOfTheCamerasButton) {
    FakeDeviceSystem system;
    SnapshotButton none;
    EXPECT_FALSE(none.Start(system, "/dev/video0", [] {}));

    std::mutex mutex;
    std::condition_variable changed;
    int presses = 0;
    SnapshotButton button;
    ASSERT_TRUE(button.Start(system, "/dev/video4", [&] {
        std::lock_guard lock(mutex);
        ++presses;
        changed.notify_all();
    }));
    system.PressButton("/dev/video4");
    system.PressButton("/dev/video4");
    std::unique_lock lock(mutex);
    EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return presses == 2; }));
    lock.unlock();
    button.Stop();
    EXPECT_FALSE(button.Running());
}

// The monitor opens where udev is reachable, and its thread starts and stops cleanly.
TEST(DeviceMonitor, StartsAndStops) {
    DeviceMonitor monitor;
    if (!monitor.Open()) GTEST_SKIP() << "no udev netlink socket here";
    EXPECT_GE(monitor.Fd(), 0);
    monitor.Dispatch([](DeviceMonitor::Action, const std::string&) {});
    ASSERT_TRUE(monitor.Start([](DeviceMonitor::Action, const std::string&) {}));
    monitor.Stop();
    monitor.Stop();
}

}  // namespace
}  // namespace v4l2
