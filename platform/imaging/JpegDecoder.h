// One JPEG picture decoded by libjpeg-turbo straight into 24-bit blue-green-red pixels of
// the caller's layout (any row stride, either row order), without a picture in between.
// Both camera paths decode their frames through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/imaging/Imaging.h"

namespace imaging {

enum class JpegDecodeStatus {
    kDecoded,
    // Decoded, but the data was damaged (stray bytes, cut short): shown as viewers show it.
    kWarning,
    // A JPEG of another size than the target: nothing written.
    kOtherSize,
    // Not a JPEG libjpeg-turbo reads, or decoding stopped with an error.
    kFailed,
};

// True for the statuses that leave a whole picture in the target.
constexpr bool Shows(JpegDecodeStatus status) {
    return status == JpegDecodeStatus::kDecoded || status == JpegDecodeStatus::kWarning;
}

// Owns one decompressor; used by one thread at a time.
class JpegDecoder {
public:
    JpegDecoder();
    ~JpegDecoder();
    JpegDecoder(const JpegDecoder&) = delete;
    JpegDecoder& operator=(const JpegDecoder&) = delete;

    bool Ready() const { return handle_ != nullptr; }

    // Decodes `jpeg` into `target` when the picture is exactly of the target's size.
    JpegDecodeStatus Decode(const uint8_t* jpeg, size_t size, const BgrImageSpan& target);

    // The library's text for the last failure or warning.
    const std::string& LastError() const { return lastError_; }

private:
    JpegDecodeStatus Failed();

    void* handle_;
    std::string lastError_;
};

}  // namespace imaging
