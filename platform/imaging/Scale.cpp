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

// The height scaler each thread keeps: setting one up costs about as much as a frame's
// scaling, and one frame after another asks for the same sizes.
class HeightScaler {
public:
    HeightScaler() = default;
    ~HeightScaler() { sws_freeContext(context_); }
    HeightScaler(const HeightScaler&) = delete;
    HeightScaler& operator=(const HeightScaler&) = delete;

    SwsContext* For(int rowBytes, int srcHeight, int dstHeight) {
        context_ = sws_getCachedContext(context_, rowBytes, srcHeight, AV_PIX_FMT_GRAY8, rowBytes,
                                        dstHeight, AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr, nullptr,
                                        nullptr);
        return context_;
    }

private:
    SwsContext* context_ = nullptr;
};

// First row of the picture as seen and the step to the next, negative for bottom-up rows.
const uint8_t* TopRow(const BgrImageView& picture, int* step) {
    *step = picture.bottomUp ? -picture.rowStride : picture.rowStride;
    if (!picture.bottomUp) return picture.pixels;
    return picture.pixels + static_cast<ptrdiff_t>(picture.height - 1) * picture.rowStride;
}

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
    int step = 0;
    const uint8_t* const srcPlanes[4] = {TopRow(source, &step), nullptr, nullptr, nullptr};
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

bool ScaleHeightBilinear(const BgrImageView& source, const BgrImageSpan& target) {
    if (source.pixels == nullptr || target.pixels == nullptr || source.width <= 0 ||
        source.width != target.width || source.height <= 0 || target.height <= 0 ||
        source.rowStride < source.width * 3 || target.rowStride < target.width * 3) {
        sys::DebugTraceF("scale: refused height %d to %d for %d and %d pixels wide", source.height,
                         target.height, source.width, target.width);
        return false;
    }
    // Each byte column is stretched on its own, so the rows are handed over as grey rows of
    // three times the width: the scaler then has no colour conversion to make, and with the
    // width unchanged its horizontal pass copies.
    thread_local HeightScaler heightScaler;
    SwsContext* const scaler = heightScaler.For(source.width * 3, source.height, target.height);
    if (scaler == nullptr) {
        sys::DebugTraceF("scale: no bilinear scaler from height %d to %d", source.height,
                         target.height);
        return false;
    }
    int sourceStep = 0;
    int targetStep = 0;
    const uint8_t* const srcPlanes[4] = {TopRow(source, &sourceStep), nullptr, nullptr, nullptr};
    uint8_t* const dstPlanes[4] = {const_cast<uint8_t*>(TopRow(target.View(), &targetStep)),
                                   nullptr, nullptr, nullptr};
    const int srcSteps[4] = {sourceStep, 0, 0, 0};
    const int dstSteps[4] = {targetStep, 0, 0, 0};
    if (const int rows =
            sws_scale(scaler, srcPlanes, srcSteps, 0, source.height, dstPlanes, dstSteps);
        rows != target.height) {
        sys::DebugTraceF("scale: height %d to %d gave %d rows", source.height, target.height, rows);
        return false;
    }
    return true;
}

}  // namespace imaging
