#include "tools/vcam/YuyvConverter.h"

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

}  // namespace vcam
