// One captured frame as the sample grabber delivers it.
#pragma once

#include <cstddef>
#include <cstdint>

// 24-bit blue-green-red pixels laid out like an uncompressed bitmap: bottom row first,
// each row padded to a multiple of 4 bytes. `data` belongs to the media framework and is
// valid during one callback only; whoever keeps a frame copies it.
struct FrameBuffer {
    uint8_t* data = nullptr;
    int32_t length = 0;  // bytes in `data`, as the framework reports them
    int32_t width = 0;   // from the grabber's connected format, not from the bytes
    int32_t height = 0;
};

// Bytes from one row to the next: width * 3 rounded up to a multiple of 4.
inline constexpr int64_t FrameRowStride(int32_t width) {
    return (static_cast<int64_t>(width) * 3 + 3) & ~int64_t{3};
}

// True when the size is positive and `length` covers every padded row, so the picture,
// movie and rotation paths can all read the rows without running past the bytes.
inline bool FrameIsComplete(const FrameBuffer& frame) {
    return frame.data != nullptr && frame.width > 0 && frame.height > 0 &&
           frame.length >= FrameRowStride(frame.width) * frame.height;
}
