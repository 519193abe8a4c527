// Recorded answers of a few real cameras, replayed through the device interface.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/v4l2/V4l2Device.h"

namespace v4l2::testing {

struct FakeSize {
    uint32_t width;
    uint32_t height;
    uint32_t framesPerSecond;  // the one interval offered at this size
};

struct FakeFormat {
    uint32_t pixelFormat;
    std::vector<FakeSize> sizes;
};

struct FakeControl {
    v4l2_queryctrl query;
    std::vector<std::string> menu;
    int32_t value;
};

struct FakeCamera {
    std::string node;
    std::string card;
    std::string busInfo;
    uint32_t deviceCaps = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    std::optional<UsbIdentity> usb;
    std::vector<FakeFormat> formats;
    std::vector<FakeControl> controls;
    int busyError = 0;  // what S_FMT and REQBUFS answer while another program streams
    bool hasButton = false;
    std::string driver{};  // empty: "uvcvideo" for USB cameras, else "vivid"
};

// Top half of every frame is kTopColour, bottom half kBottomColour (B, G, R).
inline constexpr uint8_t kTopColour[3] = {0, 0, 255};     // red
inline constexpr uint8_t kBottomColour[3] = {255, 0, 0};  // blue

// Encodes the two-colour test picture in the pixel format.
std::vector<uint8_t> MakeTestFrame(uint32_t pixelFormat, uint32_t width, uint32_t height);

class FakeDeviceSystem final : public IDeviceSystem {
public:
    // The standard set: a webcam with a metadata node (YUYV + MJPEG), an MJPEG-only camera of
    // the listed vendor, a YUYV-only camera with a metadata node and a snapshot button, a
    // busy camera, a non-USB capture device and an output-only node.
    static std::vector<FakeCamera> StandardCameras();

    explicit FakeDeviceSystem(std::vector<FakeCamera> cameras = StandardCameras());

    std::vector<std::string> ListVideoNodes() override;
    int Open(const std::string& node, std::unique_ptr<IDeviceNode>& opened) override;
    std::optional<UsbIdentity> UsbIdentityOf(const std::string& node) override;
    int OpenSnapshotButton(const std::string& node, std::unique_ptr<IButtonInput>& opened) override;

    // Presses the snapshot button of the camera on node.
    void PressButton(const std::string& node);
    // Makes every later request to the node fail with ENODEV, as after an unplug.
    void Unplug(const std::string& node);
    bool Unplugged(const std::string& node);
    // Control values as the camera holds them.
    int32_t ControlValue(const std::string& node, uint32_t id);

    // Shared with the opened nodes.
    const FakeCamera* Find(const std::string& node) const;
    std::mutex mutex;
    std::condition_variable pressed;
    std::map<std::string, int> pendingPresses;
    std::map<std::string, std::map<uint32_t, int32_t>> controlValues;

private:
    std::vector<FakeCamera> cameras_;
    std::map<std::string, bool> unplugged_;
};

}  // namespace v4l2::testing
