// Memory-mapped streaming from one capture node, each frame converted to a bottom-up
// 24-bit BGR picture.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/v4l2/CameraModes.h"
#include "platform/v4l2/FrameConverter.h"
#include "platform/v4l2/V4l2Device.h"

namespace v4l2 {

class CameraStream {
public:
    // The stream uses the opened node but does not own it; `path` names the node in the
    // trace.
    explicit CameraStream(IDeviceNode& node, std::string path = {});
    ~CameraStream();
    CameraStream(const CameraStream&) = delete;
    CameraStream& operator=(const CameraStream&) = delete;

    // Sets the mode (format, then the fastest frame rate), maps the buffers and starts
    // streaming. 0 or errno: EBUSY when another program streams from the device, EINVAL
    // when the device will not take the mode as it is.
    int Start(const CameraMode& mode);
    // Stops streaming and releases the buffers; safe when not started.
    void Stop();
    bool Streaming() const { return streaming_; }

    // Waits for the next frame and converts it into picture (Rgb24ImageSize bytes of the
    // mode). 0 done; ETIMEDOUT nothing came; EAGAIN the frame was damaged and dropped;
    // any other errno: the device failed (ENODEV once unplugged).
    int ReadFrame(std::span<uint8_t> picture, int timeoutMs);

    const CameraMode& Mode() const { return mode_; }

private:
    static constexpr uint32_t kBufferCount = 4;

    // Traces a failed request and hands its errno back.
    int Failed(const char* request, int error) const;
    // Maps, queues and starts the buffers the driver granted; 0 or errno.
    int StartBuffers(uint32_t count);

    IDeviceNode& node_;
    std::string path_;
    CameraMode mode_;
    FrameConverter converter_;
    std::vector<std::span<uint8_t>> buffers_;
    bool streaming_ = false;
};

// The camera's controls as a property dialog shows them.
struct ControlInfo {
    uint32_t id = 0;
    uint32_t type = 0;  // V4L2_CTRL_TYPE_*
    std::string name;
    int32_t minimum = 0;
    int32_t maximum = 0;
    int32_t step = 0;
    int32_t defaultValue = 0;
    uint32_t flags = 0;  // V4L2_CTRL_FLAG_*
    // Menu controls: the value and the text of each entry.
    std::vector<std::pair<int32_t, std::string>> menu;
};

// The integer, boolean, menu and button controls of the node, in the driver's order;
// disabled controls are left out.
std::vector<ControlInfo> ListControls(IDeviceNode& node);

}  // namespace v4l2
