#include "Skelvane/capture/RotateSampleImp.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/imaging/Imaging.h"

namespace {

Gdiplus::RotateFlipType TypeOfOperation(int32_t code) {
    switch (code) {
        case kRotate90Cw:
            return Gdiplus::Rotate90FlipNone;
        case kRotate90Ccw:
            return Gdiplus::Rotate270FlipNone;
        case kRotate180:
            return Gdiplus::Rotate180FlipNone;
        case kFlipVertical:
            return Gdiplus::Rotate180FlipX;
        case kFlipHorizontal:
            return Gdiplus::RotateNoneFlipX;
        default:
            return Gdiplus::RotateNoneFlipNone;
    }
}

// The pictures between the steps of a quarter turn, kept by each streaming thread so that
// frames allocate nothing once the first of their size has passed.
struct QuarterTurnScratch {
    std::vector<uint8_t> turned;
    std::vector<uint8_t> squeezed;
};
thread_local QuarterTurnScratch scratch;

// A bottom-up picture in `bytes`, grown when too small (which may throw std::bad_alloc).
imaging::BgrImageSpan ScratchPicture(std::vector<uint8_t>& bytes, int width, int height) {
    const size_t size = static_cast<size_t>(width) * height * 3;
    if (bytes.size() < size) bytes.resize(size);
    return {bytes.data(), width, height, width * 3, true};
}

// The part of the frame whose top-left pixel, as seen, is at (left, top).
imaging::BgrImageSpan FramePart(const FrameBuffer& frame, int left, int top, int width,
                                int height) {
    const int64_t stride = FrameRowStride(frame.width);
    uint8_t* bottomRow = frame.data + stride * (frame.height - top - height);
    return {bottomRow + left * 3, width, height, static_cast<int>(stride), true};
}

// Rows of two bottom-up pictures of the same size.
void CopyPicture(const imaging::BgrImageView& from, const imaging::BgrImageSpan& to) {
    for (int row = 0; row < to.height; ++row) {
        std::memcpy(to.pixels + static_cast<ptrdiff_t>(row) * to.rowStride,
                    from.pixels + static_cast<ptrdiff_t>(row) * from.rowStride,
                    static_cast<size_t>(to.width) * 3);
    }
}

// Blackens the frame around the side x side square at (left, top), padding included, as
// drawing onto a fresh black canvas would leave it.
void ClearAround(const FrameBuffer& frame, int left, int top, int side) {
    const int64_t stride = FrameRowStride(frame.width);
    const size_t squareEnd = static_cast<size_t>(left + side) * 3;
    for (int y = 0; y < frame.height; ++y) {
        uint8_t* row = frame.data + stride * (frame.height - 1 - y);
        if (y < top || y >= top + side) {
            std::memset(row, 0, stride);
            continue;
        }
        std::memset(row, 0, static_cast<size_t>(left) * 3);
        std::memset(row + squareEnd, 0, stride - squareEnd);
    }
}

// The turned picture is h x w; in a frame that is not square it is stretched to the square
// of the shorter side, centred, on black. Only its height in the frame's orientation changes,
// so a landscape frame is turned and then squeezed straight into the frame, a portrait frame
// squeezed and then turned. Nothing touches the frame until every step that can fail has
// succeeded.
bool QuarterTurn(const FrameBuffer& frame, Gdiplus::RotateFlipType type) {
    const int width = frame.width;
    const int height = frame.height;
    const int side = std::min(width, height);
    const int left = std::max(0, (width - height) / 2);
    const int top = std::max(0, (height - width) / 2);
    const imaging::BgrImageSpan whole = FramePart(frame, 0, 0, width, height);
    const imaging::BgrImageSpan target = FramePart(frame, left, top, side, side);
    if (width > height) {
        const imaging::BgrImageSpan turned = ScratchPicture(scratch.turned, height, width);
        imaging::RotateFlipCopy(whole.View(), turned, type);
        if (!imaging::ScaleHeightBilinear(turned.View(), target)) return false;
        ClearAround(frame, left, top, side);
        return true;
    }
    const imaging::BgrImageSpan squeezed = ScratchPicture(scratch.squeezed, width, side);
    if (height == width) {
        CopyPicture(whole.View(), squeezed);
    } else {
        if (!imaging::ScaleHeightBilinear(whole.View(), squeezed)) return false;
        ClearAround(frame, left, top, side);
    }
    imaging::RotateFlipCopy(squeezed.View(), target, type);
    return true;
}

}  // namespace

void RotateSampleImp::AddOperation(int32_t code) {
    std::lock_guard<std::mutex> guard(lock_);
    operations_.push_back(code);
}

void RotateSampleImp::ClearOperations() {
    std::lock_guard<std::mutex> guard(lock_);
    operations_.clear();
}

int32_t RotateSampleImp::OperationCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int32_t>(operations_.size());
}

bool RotateSampleImp::TransformFrame(const FrameBuffer& frame) {
    // Turns and mirrors are exact, so the list folds into one of the eight while it is
    // read; a choice made from here on counts from the next frame.
    Gdiplus::RotateFlipType type = Gdiplus::RotateNoneFlipNone;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (const int32_t code : operations_)
            type = imaging::CombineRotateFlip(type, TypeOfOperation(code));
    }
    if (!FrameIsComplete(frame)) return false;
    if (!imaging::SwapsSides(type)) {
        imaging::RotateFlipInPlace(FramePart(frame, 0, 0, frame.width, frame.height), type);
        return true;
    }
    try {
        return QuarterTurn(frame, type);
    } catch (const std::bad_alloc&) {
        return false;
    }
}
