extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "platform/imaging/Imaging.h"
#include "platform/sys/Sys.h"

namespace imaging {

namespace {

// Full chroma in and out keeps the bicubic filter from blurring colour edges.
constexpr int kScaleFlags =
    SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

class Scaler {
public:
    Scaler(int srcWidth, int srcHeight, int dstWidth, int dstHeight)
        : context_(sws_getContext(srcWidth, srcHeight, AV_PIX_FMT_BGR24, dstWidth, dstHeight,
                                  AV_PIX_FMT_BGR24, kScaleFlags, nullptr, nullptr, nullptr)) {}
    ~Scaler() { sws_freeContext(context_); }
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;
    SwsContext* Get() const { return context_; }

private:
    SwsContext* context_;
};

}  // namespace

BgrImageView BgrBitmap::View() const {
    return {pixels.data(), width, height, width * 3, false};
}

std::optional<BgrBitmap> ScaleBicubic(const BgrImageView& source, int width, int height) {
    if (source.pixels == nullptr || source.width <= 0 || source.height <= 0 ||
        source.rowStride < source.width * 3 || width <= 0 || height <= 0) {
        sys::DebugTraceF("scale: refused %dx%d (%d bytes per row%s) to %dx%d", source.width,
                         source.height, source.rowStride,
                         source.pixels == nullptr ? ", no pixels" : "", width, height);
        return std::nullopt;
    }
    Scaler scaler(source.width, source.height, width, height);
    if (scaler.Get() == nullptr) {
        sys::DebugTraceF("scale: no bicubic scaler from %dx%d to %dx%d", source.width,
                         source.height, width, height);
        return std::nullopt;
    }

    BgrBitmap result{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    // A bottom-up source is read from its last row with a negative step, so the result
    // is the right way up.
    const uint8_t* firstRow = source.pixels;
    int step = source.rowStride;
    if (source.bottomUp) {
        firstRow += static_cast<ptrdiff_t>(source.height - 1) * source.rowStride;
        step = -step;
    }
    const uint8_t* const srcPlanes[4] = {firstRow, nullptr, nullptr, nullptr};
    const int srcSteps[4] = {step, 0, 0, 0};
    uint8_t* const dstPlanes[4] = {result.pixels.data(), nullptr, nullptr, nullptr};
    const int dstSteps[4] = {width * 3, 0, 0, 0};
    if (const int rows =
            sws_scale(scaler.Get(), srcPlanes, srcSteps, 0, source.height, dstPlanes, dstSteps);
        rows != height) {
        sys::DebugTraceF("scale: %dx%d to %dx%d gave %d rows", source.width, source.height, width,
                         height, rows);
        return std::nullopt;
    }
    return result;
}

}  // namespace imaging
