// Thumbnails of the media strip: a picture or a movie's first frame, decoded straight to the
// size at which it is drawn in a box 100 pixels high. Each thread keeps one JPEG decoder; a
// movie's contexts are set up and released by every call. Any failure gives nothing.
#pragma once

#include <optional>
#include <string>

#include "platform/imaging/Imaging.h"

namespace imaging {

// Height of the box every thumbnail is fitted into; its width is the drawing area's.
inline constexpr int kThumbnailBoxHeight = 100;
// Pictures and movie frames wider or taller than this are not decoded, so a file's header
// alone cannot make the decoder allocate gigabytes.
inline constexpr int kMaxThumbnailSourceSide = 8192;

struct ThumbnailRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// Where a pictureWidth x pictureHeight picture is drawn in the box of `boxWidth` x 100
// pixels whose top is at `top`: the whole width when the picture is relatively wider than
// the box, else the whole height, centred either way, sizes truncated. A side can come out
// 0 for extreme shapes. All zeros when a size or the box width is not positive.
ThumbnailRect FitThumbnail(int pictureWidth, int pictureHeight, int boxWidth, int top);

// The JPEG file at `path` decoded at the fitted size for a box `boxWidth` wide (each side
// at least 1 pixel; boxWidth <= 0: full size). The decoder's 1/8 to 1/1 scaling does most of
// the reduction, a bicubic scale the rest. Nothing for a missing, unreadable, damaged or
// truncated file and for pictures larger than kMaxThumbnailSourceSide on a side.
std::optional<BgrBitmap> DecodeJpegThumbnail(const std::string& path, int boxWidth);

// The first frame of the first video stream of the movie at `path`, at the fitted size as
// above (boxWidth <= 0: full size). Any file libavformat opens is accepted. Nothing when the
// file cannot be opened, has no video stream, or no frame of it decodes.
std::optional<BgrBitmap> FirstMovieFrame(const std::string& path, int boxWidth);

struct Thumbnail {
    BgrBitmap picture;
    bool movie = false;
};

// By name, as the strip tells its files apart: a path holding ".jpg" after its first
// character is a picture; otherwise one holding ".avi" there is a movie; anything else,
// and a file that does not decode, gives nothing.
std::optional<Thumbnail> LoadThumbnail(const std::string& path, int boxWidth);

}  // namespace imaging
