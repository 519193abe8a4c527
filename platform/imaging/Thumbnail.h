// Thumbnails of the media strip: a picture or a movie's first frame, decoded straight to the
// size at which it is drawn in a box 100 pixels high. Each thread keeps one JPEG decoder; a
// movie's contexts are set up and released by every call. Any failure gives nothing. Only
// regular files are read (a link to one is followed), and a file is opened without waiting,
// so a FIFO or a device named like a picture cannot hold the decoding thread.
#pragma once

#include <atomic>
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
// the reduction, a bicubic scale the rest. A picture the decoder only warns about (stray
// bytes, a file cut short) is shown as far as it decodes, as viewers show it. Nothing for a
// missing, unreadable or undecodable file and for pictures larger than
// kMaxThumbnailSourceSide on a side.
std::optional<BgrBitmap> DecodeJpegThumbnail(const std::string& path, int boxWidth);

// Set by the caller to abandon a movie decode under way (the program is closing).
using CancelFlag = std::atomic<bool>;

// The first frame of the first video stream of the movie at `path`, at the fitted size as
// above (boxWidth <= 0: full size). Any format libavformat reads from a file is accepted.
// Nothing when the file cannot be opened, has no video stream, no frame of it decodes, or
// `cancel` was set.
std::optional<BgrBitmap> FirstMovieFrame(const std::string& path, int boxWidth,
                                         const CancelFlag* cancel = nullptr);

struct Thumbnail {
    BgrBitmap picture;
    bool movie = false;
};

// By name, as the strip tells its files apart: a path holding ".jpg" after its first
// character is a picture; otherwise one holding ".avi" there is a movie; anything else,
// and a file that does not decode, gives nothing.
std::optional<Thumbnail> LoadThumbnail(const std::string& path, int boxWidth,
                                       const CancelFlag* cancel = nullptr);

}  // namespace imaging
