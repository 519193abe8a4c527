// The frame sizes a camera offers, each with the pixel format it is captured in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/v4l2/V4l2Device.h"

namespace v4l2 {

struct CameraMode {
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t pixelFormat = 0;
    // Shortest frame interval of the format at this size, in seconds; 0/0 when unknown.
    uint32_t intervalNumerator = 0;
    uint32_t intervalDenominator = 0;

    // Frame interval in 100 ns units (0 when unknown).
    int64_t FrameInterval100ns() const;
    bool operator==(const CameraMode&) const = default;
};

// A pixel format's four characters ("MJPG", "YUYV").
std::string FourccText(uint32_t pixelFormat);

// The sizes of every convertible format, one mode per size, in the order the device first
// lists each size. A size offered in several formats takes the format with the highest frame
// rate; on a tie (or unknown rates) the uncompressed one, whose frames need no decoding and
// carry no compression artefacts. Ranged sizes (stepwise, continuous) offer the common
// camera sizes inside the range and the largest size.
std::vector<CameraMode> ListCameraModes(IDeviceNode& node);

}  // namespace v4l2
