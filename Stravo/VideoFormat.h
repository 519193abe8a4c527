// One picture format the camera stream offers.
#pragma once

#include <cstdint>

struct VideoFormat {
    int32_t width = 0;
    int32_t height = 0;
    int32_t rate = 0;  // frames per second the pin advertises
    bool operator==(const VideoFormat&) const = default;
};
