// Pictures of 24-bit blue-green-red pixels: JPEG files written with libjpeg-turbo and
// bicubic scaling with libswscale. Every call sets up and releases its own library context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/imaging/GdiplusStatus.h"

namespace imaging {

// Borrowed pixels: `height` rows of `width` pixels, 3 bytes each, `rowStride` bytes apart.
// With `bottomUp` the first row in memory is the bottom row of the picture.
struct BgrImageView {
    const uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool bottomUp = false;
};

// Owned pixels, top row first, rows of exactly width * 3 bytes.
struct BgrBitmap {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;

    BgrImageView View() const;
};

// One encoder the layer offers.
struct ImageCodecInfo {
    std::string mimeType;
    std::string formatDescription;
};

// The encoders that can be started now; empty when none can.
std::vector<ImageCodecInfo> GetImageEncoders();

// Outcome of a write: Ok, or the status with the errno behind it (0 when none).
struct WriteResult {
    Gdiplus::Status status = Gdiplus::Ok;
    int systemError = 0;
};

// Encodes `image` as a baseline JPEG of the given quality (1..100) and stores it at `path`.
// The bytes go to a temporary file in the same folder, are flushed to the disk and then
// renamed into place without replacing anything, so `path` never holds half a picture and
// an existing file is never overwritten (EEXIST). Write failures map onto the statuses:
// EACCES/EPERM -> AccessDenied, ENOENT -> FileNotFound, other errno -> Win32Error.
WriteResult WriteJpegFile(const BgrImageView& image, const std::string& path, int quality);

// `source` drawn into a width x height picture with bicubic interpolation; nothing when
// either size is not positive or the scaler cannot be set up.
std::optional<BgrBitmap> ScaleBicubic(const BgrImageView& source, int width, int height);

}  // namespace imaging
