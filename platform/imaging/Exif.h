// Exif in JPEG files: the segment the program writes into its photos (when and with what
// they were taken, orientation 1 and a small thumbnail of their own), and the embedded
// thumbnail of any camera's photo, found without trusting a byte of the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/imaging/Imaging.h"

namespace imaging {

// Width of the thumbnail written into photos, as cameras write it.
inline constexpr int kExifThumbnailWidth = 160;

struct PhotoTags {
    std::string dateTime;  // "YYYY:MM:DD HH:MM:SS", local time
    std::string camera;    // the camera's name
    std::string software;  // the program's name and version
};

// "YYYY:MM:DD HH:MM:SS" of the local time now.
std::string ExifDateTimeNow();

// `picture` reduced to kExifThumbnailWidth pixels wide (keeping its shape), each pixel
// the mean of a grid of samples over the area it covers.
BgrBitmap ExifThumbnailPicture(const BgrImageView& picture);

// An APP1 segment, marker and length included, for a width x height photo: `tags`,
// orientation 1, the tags every Exif reader expects (72 dpi, sRGB, the size) and
// `thumbnail` (a JPEG). Empty when it would not fit in one segment.
std::vector<uint8_t> ExifSegment(const PhotoTags& tags, int width, int height,
                                 const uint8_t* thumbnail, size_t thumbnailSize);

// Where in `jpeg` the Exif segment goes: after the start marker and a JFIF segment, so the
// file stays JFIF for readers that look for it first. 0 when `jpeg` does not start so.
size_t ExifInsertionPoint(const uint8_t* jpeg, size_t size);

struct ByteRange {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The JPEG thumbnail an Exif segment of `jpeg` embeds; empty when there is none or the
// segment is damaged. Every offset is checked against the bytes given.
ByteRange FindExifThumbnail(const uint8_t* jpeg, size_t size);

}  // namespace imaging
