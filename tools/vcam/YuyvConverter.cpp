#include "tools/vcam/YuyvConverter.h"

#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>

#include <algorithm>

extern "C" {
#include <libswscale/swscale.h>
}

namespace vcam {

void CYuyvConverter::ContextDeleter::operator()(SwsContext* context) const {
    sws_freeContext(context);
}

bool CYuyvConverter::Convert(const SourcePicture& picture, int width, int height,
                             std::vector<uint8_t>& yuyv) {
    if (picture.pixels == nullptr || picture.width <= 0 || picture.height <= 0 || width <= 0 ||
        height <= 0 || width % 2 != 0 || picture.stride < picture.width * 3)
        return false;
    if (picture.layout == PictureLayout::kBottomUpBgr24 && picture.width == width &&
        picture.height == height)
        return ConvertSameSize(picture, yuyv);
    const AVPixelFormat sourceFormat =
        picture.layout == PictureLayout::kBottomUpBgr24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
    const bool sameSize = picture.width == width && picture.height == height;
    // Returns the cached context while nothing changed.
    context_.reset(sws_getCachedContext(
        context_.release(), picture.width, picture.height, sourceFormat, width, height,
        AV_PIX_FMT_YUYV422, sameSize ? SWS_POINT : SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!context_) return false;
    yuyv.resize(static_cast<size_t>(width) * height * 2);
    // A bottom-up picture is read from its last row in memory upwards: upright on the way.
    const bool bottomUp = picture.layout == PictureLayout::kBottomUpBgr24;
    const uint8_t* firstRow =
        bottomUp ? picture.pixels + static_cast<ptrdiff_t>(picture.height - 1) * picture.stride
                 : picture.pixels;
    const int sourceStride[4] = {bottomUp ? -picture.stride : picture.stride, 0, 0, 0};
    const uint8_t* const source[4] = {firstRow, nullptr, nullptr, nullptr};
    uint8_t* const target[4] = {yuyv.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {width * 2, 0, 0, 0};
    return sws_scale(context_.get(), source, sourceStride, 0, picture.height, target,
                     targetStride) == height;
}

bool CYuyvConverter::ConvertSameSize(const SourcePicture& picture, std::vector<uint8_t>& yuyv) {
    const int width = picture.width, height = picture.height;
    yuyv.resize(static_cast<size_t>(width) * height * 2);
    band_.resize(static_cast<size_t>(width) * 4 * kBandRows);
    // A band of rows at a time through 32-bit pixels, which stay in the cache between the
    // two passes; upright on the way, the bottom row in memory being the picture's last.
    for (int top = 0; top < height; top += kBandRows) {
        const int rows = std::min(kBandRows, height - top);
        const uint8_t* firstRow =
            picture.pixels + static_cast<ptrdiff_t>(height - 1 - top) * picture.stride;
        if (libyuv::RGB24ToARGB(firstRow, -picture.stride, band_.data(), width * 4, width, rows) !=
                0 ||
            libyuv::ARGBToYUY2(band_.data(), width * 4,
                               yuyv.data() + static_cast<size_t>(top) * width * 2, width * 2, width,
                               rows) != 0)
            return false;
    }
    return true;
}

}  // namespace vcam
