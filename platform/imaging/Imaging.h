// Pictures of 24-bit blue-green-red pixels: JPEG files written with libjpeg-turbo, scaling
// with libswscale, a height squeeze of our own, and the turns and mirrors. Every call sets
// up and releases its own library context.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/imaging/GdiplusStatus.h"
#include "platform/imaging/RotateFlipType.h"

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

// Writable pixels, laid out like BgrImageView.
struct BgrImageSpan {
    uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int rowStride = 0;
    bool bottomUp = false;

    BgrImageView View() const { return {pixels, width, height, rowStride, bottomUp}; }
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

struct PhotoTags;

// Encodes `image` as a baseline JPEG of the given quality (1..100) and stores it at `path`.
// With `tags`, an Exif segment follows the JFIF one: the tags, orientation 1 and a
// thumbnail kExifThumbnailWidth pixels wide (Exif.h).
// The bytes go to a temporary file in the same folder, are flushed to the disk and then
// renamed into place without replacing anything, so `path` never holds half a picture and
// an existing file is never overwritten (EEXIST). Write failures map onto the statuses:
// EACCES/EPERM -> AccessDenied, ENOENT -> FileNotFound, other errno -> Win32Error.
WriteResult WriteJpegFile(const BgrImageView& image, const std::string& path, int quality,
                          const PhotoTags* tags = nullptr);

// `source` drawn into a width x height picture with bicubic interpolation; nothing when
// either size is not positive or the scaler cannot be set up.
std::optional<BgrBitmap> ScaleBicubic(const BgrImageView& source, int width, int height);

// `source` stretched or squeezed to the height of `target` with bilinear interpolation: each
// target row mixes the two source rows nearest its centre, without the wider prefilter of a
// scaler's downscale (as plain bilinear drawing does). The columns keep their width, which
// both must share. False, with `target` untouched, when the sizes do not fit.
bool ScaleHeightBilinear(const BgrImageView& source, const BgrImageSpan& target);

// `source` drawn into `target`: width x height pixels of 4 bytes (blue, green, red, 255),
// top row first, rows `targetStride` bytes apart, with plain bilinear sampling as a painter
// draws a smoothly scaled picture: each pixel mixes the 4 source pixels around its centre.
void DrawBilinearRgb32(const BgrImageView& source, uint8_t* target, int width, int height,
                       int targetStride);

// `first` followed by `then`, as the one type that does both.
Gdiplus::RotateFlipType CombineRotateFlip(Gdiplus::RotateFlipType first,
                                          Gdiplus::RotateFlipType then);

// True for the quarter turns, which swap width and height.
bool SwapsSides(Gdiplus::RotateFlipType type);

// Turns and mirrors `picture` in place by a type that keeps its size (not a quarter turn).
void RotateFlipInPlace(const BgrImageSpan& picture, Gdiplus::RotateFlipType type);

// Writes `source` turned and mirrored by `type` into `target`, which has the size of the
// result and shares no byte with `source`.
void RotateFlipCopy(const BgrImageView& source, const BgrImageSpan& target,
                    Gdiplus::RotateFlipType type);

}  // namespace imaging
