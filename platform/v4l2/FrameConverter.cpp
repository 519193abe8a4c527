#include "platform/v4l2/FrameConverter.h"

#include <linux/videodev2.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cstring>
#include <utility>

namespace v4l2 {
namespace {

enum class Layout { Jpeg, Packed, SemiPlanar420, Planar420, Planar422 };

struct FormatInfo {
    uint32_t pixelFormat;
    Layout layout;
    AVPixelFormat source;
    int bytesPerPixel;  // of packed formats
    bool swapChroma;    // planar formats with V before U
};

constexpr FormatInfo kFormats[] = {
    {V4L2_PIX_FMT_MJPEG, Layout::Jpeg, AV_PIX_FMT_NONE, 0, false},
    {V4L2_PIX_FMT_JPEG, Layout::Jpeg, AV_PIX_FMT_NONE, 0, false},
    {V4L2_PIX_FMT_YUYV, Layout::Packed, AV_PIX_FMT_YUYV422, 2, false},
    {V4L2_PIX_FMT_UYVY, Layout::Packed, AV_PIX_FMT_UYVY422, 2, false},
    {V4L2_PIX_FMT_YVYU, Layout::Packed, AV_PIX_FMT_YVYU422, 2, false},
    {V4L2_PIX_FMT_RGB24, Layout::Packed, AV_PIX_FMT_RGB24, 3, false},
    {V4L2_PIX_FMT_BGR24, Layout::Packed, AV_PIX_FMT_BGR24, 3, false},
    {V4L2_PIX_FMT_GREY, Layout::Packed, AV_PIX_FMT_GRAY8, 1, false},
    {V4L2_PIX_FMT_NV12, Layout::SemiPlanar420, AV_PIX_FMT_NV12, 0, false},
    {V4L2_PIX_FMT_NV21, Layout::SemiPlanar420, AV_PIX_FMT_NV21, 0, false},
    {V4L2_PIX_FMT_YUV420, Layout::Planar420, AV_PIX_FMT_YUV420P, 0, false},
    {V4L2_PIX_FMT_YVU420, Layout::Planar420, AV_PIX_FMT_YUV420P, 0, true},
    {V4L2_PIX_FMT_YUV422P, Layout::Planar422, AV_PIX_FMT_YUV422P, 0, false},
};

const FormatInfo* FindFormat(uint32_t pixelFormat) {
    for (const auto& info : kFormats)
        if (info.pixelFormat == pixelFormat) return &info;
    return nullptr;
}

}  // namespace

bool IsConvertible(uint32_t pixelFormat) {
    return FindFormat(pixelFormat) != nullptr;
}

bool IsCompressed(uint32_t pixelFormat) {
    const FormatInfo* info = FindFormat(pixelFormat);
    return info && info->layout == Layout::Jpeg;
}

FrameConverter::FrameConverter() = default;

FrameConverter::~FrameConverter() {
    Release();
}

void FrameConverter::Release() {
    jpegDecoder_.reset();
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    pixelFormat_ = width_ = height_ = 0;
}

bool FrameConverter::Configure(uint32_t pixelFormat, uint32_t width, uint32_t height,
                               uint32_t bytesPerLine) {
    Release();
    const FormatInfo* info = FindFormat(pixelFormat);
    if (!info || width == 0 || height == 0 || width > 16384 || height > 16384) return false;

    if (info->layout == Layout::Jpeg) {
        jpegDecoder_ = std::make_unique<imaging::JpegDecoder>();
        if (!jpegDecoder_->Ready()) return false;
    } else {
        // Same size in and out: the flags only pick the chroma filter.
        scaler_ = sws_getContext(static_cast<int>(width), static_cast<int>(height), info->source,
                                 static_cast<int>(width), static_cast<int>(height),
                                 AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
        if (!scaler_) return false;
        size_t lumaStride = bytesPerLine;
        size_t chromaRows = 0;
        size_t chromaStride = 0;
        switch (info->layout) {
            case Layout::Packed:
                if (lumaStride < static_cast<size_t>(width) * info->bytesPerPixel)
                    lumaStride = static_cast<size_t>(width) * info->bytesPerPixel;
                planeCount_ = 1;
                break;
            case Layout::SemiPlanar420:
                if (lumaStride < width) lumaStride = width;
                chromaStride = lumaStride;
                chromaRows = (height + 1) / 2;
                planeCount_ = 2;
                break;
            case Layout::Planar420:
            case Layout::Planar422:
                if (lumaStride < width) lumaStride = width;
                chromaStride = (lumaStride + 1) / 2;
                chromaRows = info->layout == Layout::Planar420 ? (height + 1) / 2 : height;
                planeCount_ = 3;
                break;
            case Layout::Jpeg:
                break;
        }
        size_t lumaBytes = lumaStride * height;
        size_t chromaBytes = chromaStride * chromaRows;
        strides_[0] = static_cast<int>(lumaStride);
        strides_[1] = strides_[2] = static_cast<int>(chromaStride);
        planeOffsets_[0] = 0;
        planeOffsets_[1] = lumaBytes;
        planeOffsets_[2] = lumaBytes + chromaBytes;
        if (info->swapChroma) std::swap(planeOffsets_[1], planeOffsets_[2]);
        frameBytes_ = lumaBytes + (planeCount_ - 1) * chromaBytes;
    }
    pixelFormat_ = pixelFormat;
    width_ = width;
    height_ = height;
    return true;
}

bool FrameConverter::Convert(const uint8_t* src, size_t srcBytes, uint8_t* dst, size_t dstBytes) {
    if (!src || !dst || width_ == 0 || dstBytes < Rgb24ImageSize(width_, height_)) return false;
    return jpegDecoder_ ? ConvertJpeg(src, srcBytes, dst) : ConvertRaw(src, srcBytes, dst);
}

bool FrameConverter::ConvertJpeg(const uint8_t* src, size_t srcBytes, uint8_t* dst) {
    const imaging::BgrImageSpan picture{dst, static_cast<int>(width_), static_cast<int>(height_),
                                        static_cast<int>(Rgb24Pitch(width_)), true};
    // A damaged frame that still decodes (a warning) is shown as the camera sent it.
    return imaging::Shows(jpegDecoder_->Decode(src, srcBytes, picture));
}

bool FrameConverter::ConvertRaw(const uint8_t* src, size_t srcBytes, uint8_t* dst) {
    if (srcBytes < frameBytes_) return false;
    const uint8_t* planes[4] = {};
    int strides[4] = {};
    for (int i = 0; i < planeCount_; ++i) {
        planes[i] = src + planeOffsets_[i];
        strides[i] = strides_[i];
    }
    int pitch = static_cast<int>(Rgb24Pitch(width_));
    if (width_ % kSimdWidth == 0) {
        // Writing from the last row upwards turns the picture bottom row first.
        uint8_t* target[4] = {dst + static_cast<size_t>(height_ - 1) * pitch};
        int targetStrides[4] = {-pitch};
        return sws_scale(scaler_, planes, strides, 0, static_cast<int>(height_), target,
                         targetStrides) == static_cast<int>(height_);
    }
    // At other widths libswscale's vector code writes past the row end, or, where the row
    // pitch is tight, leaves the last pixels out. Convert top-down into rows with room for
    // whole vectors and turn the picture over while copying.
    int roomyPitch = static_cast<int>(Rgb24Pitch(width_ + kSimdWidth));
    scratch_.resize(static_cast<size_t>(roomyPitch) * height_ + kScratchSlack);
    uint8_t* target[4] = {scratch_.data()};
    int targetStrides[4] = {roomyPitch};
    if (sws_scale(scaler_, planes, strides, 0, static_cast<int>(height_), target, targetStrides) !=
        static_cast<int>(height_))
        return false;
    for (uint32_t row = 0; row < height_; ++row)
        std::memcpy(dst + static_cast<size_t>(height_ - 1 - row) * pitch,
                    scratch_.data() + static_cast<size_t>(row) * roomyPitch, width_ * 3);
    return true;
}

}  // namespace v4l2
