// The V4L2 loopback device that skelvane-vcam feeds with the wireless camera's pictures, so
// that every camera program can read it. The viewer reaches the wireless camera through its
// module and leaves this device out, or it would list the one camera twice.
#pragma once

#include <linux/videodev2.h>

#include <cstring>

namespace v4l2 {

// The driver name v4l2loopback reports, and the card label the package's module options give
// the device.
inline constexpr const char* kLoopbackDriver = "v4l2 loopback";
inline constexpr const char* kWirelessCameraLabel = "Skelvane wireless camera";

inline bool FixedTextEquals(const __u8* text, size_t size, const char* expected) {
    return strnlen(reinterpret_cast<const char*>(text), size) == std::strlen(expected) &&
           std::memcmp(text, expected, std::strlen(expected)) == 0;
}

inline bool IsLoopbackDevice(const v4l2_capability& cap) {
    return FixedTextEquals(cap.driver, sizeof(cap.driver), kLoopbackDriver);
}

inline bool IsWirelessCameraLoopback(const v4l2_capability& cap) {
    return IsLoopbackDevice(cap) &&
           FixedTextEquals(cap.card, sizeof(cap.card), kWirelessCameraLabel);
}

}  // namespace v4l2
