// Turns one camera frame into the picture the graph carries: 24-bit blue-green-red, bottom
// row first, each row padded to a multiple of 4 bytes (a 24-bit uncompressed bitmap).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/imaging/JpegDecoder.h"

struct SwsContext;

namespace v4l2 {

// Bytes of one padded 24-bit row, and of a whole picture.
constexpr uint32_t Rgb24Pitch(uint32_t width) {
    return (width * 3 + 3) & ~3u;
}
constexpr size_t Rgb24ImageSize(uint32_t width, uint32_t height) {
    return static_cast<size_t>(Rgb24Pitch(width)) * height;
}

// Whether frames of this V4L2 pixel format can be converted.
bool IsConvertible(uint32_t pixelFormat);
// Whether the format is compressed (its frames have no fixed size).
bool IsCompressed(uint32_t pixelFormat);

class FrameConverter {
public:
    FrameConverter();
    ~FrameConverter();
    FrameConverter(const FrameConverter&) = delete;
    FrameConverter& operator=(const FrameConverter&) = delete;

    // Prepares for frames of this format and size. bytesPerLine is the driver's line length
    // of the first plane (0 = tightly packed). False for an unsupported format.
    bool Configure(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t bytesPerLine);

    // Converts one frame of srcBytes bytes into dst, which holds dstBytes bytes. False when
    // the frame is short, does not decode, or is not of the configured size; dst may then
    // hold a partial picture.
    bool Convert(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes);

    uint32_t Width() const { return width_; }
    uint32_t Height() const { return height_; }
    uint32_t PixelFormat() const { return pixelFormat_; }

private:
    bool ConvertJpeg(const uint8_t* src, size_t srcBytes, uint8_t* dst);
    bool ConvertRaw(const uint8_t* src, size_t srcBytes, uint8_t* dst);
    void Release();

    uint32_t pixelFormat_ = 0;
    uint32_t width_ = 0;
    uint32_t height_ = 0;
    std::unique_ptr<imaging::JpegDecoder> jpegDecoder_;
    SwsContext* scaler_ = nullptr;
    // Source plane layout of raw formats.
    int planeCount_ = 0;
    int strides_[3] = {};
    size_t planeOffsets_[3] = {};
    size_t frameBytes_ = 0;
    // Widths libswscale converts without writing past the row; others go through scratch_.
    static constexpr uint32_t kSimdWidth = 16;
    static constexpr size_t kScratchSlack = 256;
    std::vector<uint8_t> scratch_;
};

}  // namespace v4l2
