#include "platform/imaging/JpegDecoder.h"

#include <turbojpeg.h>

namespace imaging {

JpegDecoder::JpegDecoder() : handle_(tjInitDecompress()) {
    if (handle_ == nullptr) lastError_ = tjGetErrorStr2(nullptr);
}

JpegDecoder::~JpegDecoder() {
    if (handle_ != nullptr) tjDestroy(handle_);
}

JpegDecodeStatus JpegDecoder::Decode(const uint8_t* jpeg, size_t size, const BgrImageSpan& target) {
    // The library takes the size as an unsigned long, which is 32 bits on some systems.
    if (handle_ == nullptr || jpeg == nullptr || size == 0 || size > 0xFFFFFFFFu ||
        target.pixels == nullptr || target.rowStride < target.width * 3) {
        lastError_ = "no decoder, or no picture to decode";
        return JpegDecodeStatus::kFailed;
    }
    const auto bytes = static_cast<unsigned long>(size);
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle_, jpeg, bytes, &width, &height, &subsampling, &colorspace) != 0)
        return Failed();
    // Another size would be decoded scaled or cropped into the picture.
    if (width != target.width || height != target.height) return JpegDecodeStatus::kOtherSize;
    if (tjDecompress2(handle_, jpeg, bytes, target.pixels, width, target.rowStride, height,
                      TJPF_BGR, target.bottomUp ? TJFLAG_BOTTOMUP : 0) == 0)
        return JpegDecodeStatus::kDecoded;
    if (tjGetErrorCode(handle_) != TJERR_WARNING) return Failed();
    lastError_ = tjGetErrorStr2(handle_);
    return JpegDecodeStatus::kWarning;
}

JpegDecodeStatus JpegDecoder::Failed() {
    lastError_ = tjGetErrorStr2(handle_);
    // A header the library refused leaves its decompressor mid-header, and it then refuses
    // every later picture: a fresh one is cheap next to a picture's decoding.
    tjDestroy(handle_);
    handle_ = tjInitDecompress();
    return JpegDecodeStatus::kFailed;
}

}  // namespace imaging
