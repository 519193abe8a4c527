// The frame sizes a device offers, as the settings dialog lists them.
#pragma once

#include <cstdint>
#include <map>

struct ResolutionEntry {
    int32_t width = 0;
    int32_t height = 0;
    bool interpolated = false;  // the doubled size the picture path produces by enlarging
    bool operator==(const ResolutionEntry&) const = default;
};

// Ascending by width × 65536 + height, one entry per key.
using ResolutionList = std::map<uint32_t, ResolutionEntry>;

inline uint32_t ResolutionKey(int32_t width, int32_t height) {
    return static_cast<uint32_t>(width) * 65536u + static_cast<uint32_t>(height);
}
