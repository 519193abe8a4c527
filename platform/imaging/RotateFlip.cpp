// Turns and mirrors of 24-bit pictures by row and column walks, without the library that
// scales: they move whole pixels, so they are exact.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/imaging/Imaging.h"

namespace imaging {

namespace {

// A type as the matrix that carries a pixel's offset from the picture's centre (x to the
// right, y downwards) to its offset in the result: {xx, xy, yx, yy}.
struct Matrix {
    int xx, xy, yx, yy;
    bool operator==(const Matrix&) const = default;
};

Matrix Multiply(const Matrix& left, const Matrix& right) {
    return {left.xx * right.xx + left.xy * right.yx, left.xx * right.xy + left.xy * right.yy,
            left.yx * right.xx + left.yy * right.yx, left.yx * right.xy + left.yy * right.yy};
}

// The turn clockwise (x, y) -> (-y, x) as often as the type says, then the mirror in x.
Matrix MatrixOf(Gdiplus::RotateFlipType type) {
    Matrix result{1, 0, 0, 1};
    for (int turn = 0; turn < (type & 3); ++turn) result = Multiply({0, -1, 1, 0}, result);
    if ((type & 4) != 0) result = Multiply({-1, 0, 0, 1}, result);
    return result;
}

// Rows addressed from the top of the picture whatever their order in memory.
template <typename Byte>
struct Rows {
    Byte* top;
    ptrdiff_t step;
    Byte* Row(int y) const { return top + step * y; }
};

template <typename Byte>
Rows<Byte> RowsOf(Byte* pixels, int height, int rowStride, bool bottomUp) {
    if (!bottomUp) return {pixels, rowStride};
    return {pixels + static_cast<ptrdiff_t>(height - 1) * rowStride, -ptrdiff_t{rowStride}};
}

using Vector = uint8_t __attribute__((vector_size(16)));

void SwapPixel(uint8_t* a, uint8_t* b) {
    uint8_t kept[3];
    std::memcpy(kept, a, 3);
    std::memcpy(a, b, 3);
    std::memcpy(b, kept, 3);
}

void SwapBytes(uint8_t* a, uint8_t* b, size_t count) {
    size_t at = 0;
    for (; at + sizeof(Vector) <= count; at += sizeof(Vector)) {
        Vector x, y;
        std::memcpy(&x, a + at, sizeof x);
        std::memcpy(&y, b + at, sizeof y);
        std::memcpy(a + at, &y, sizeof y);
        std::memcpy(b + at, &x, sizeof x);
    }
    for (; at < count; ++at) std::swap(a[at], b[at]);
}

// Reversing 16 pixels at once needs a byte shuffle, which x86 has from SSSE3 on; without it
// the pixels are swapped one by one.
#if defined(__x86_64__) || defined(__i386__)
#define IMAGING_SHUFFLE_TARGET __attribute__((target("ssse3")))
bool CanShuffleBytes() {
    static const bool can = __builtin_cpu_supports("ssse3");
    return can;
}
#else
#define IMAGING_SHUFFLE_TARGET
bool CanShuffleBytes() {
    return true;
}
#endif

struct Block48 {  // 16 pixels
    Vector low, middle, high;
};

IMAGING_SHUFFLE_TARGET inline Vector LoadVector(const uint8_t* at) {
    Vector vector;
    std::memcpy(&vector, at, sizeof vector);
    return vector;
}

IMAGING_SHUFFLE_TARGET inline void StoreVector(uint8_t* at, Vector vector) {
    std::memcpy(at, &vector, sizeof vector);
}

IMAGING_SHUFFLE_TARGET inline Block48 LoadBlock(const uint8_t* at) {
    return {LoadVector(at), LoadVector(at + 16), LoadVector(at + 32)};
}

IMAGING_SHUFFLE_TARGET inline void StoreBlock(uint8_t* at, const Block48& block) {
    StoreVector(at, block.low);
    StoreVector(at + 16, block.middle);
    StoreVector(at + 32, block.high);
}

// The 16 pixels in the opposite order. Result byte k comes from byte (15 - k / 3) * 3 + k % 3;
// the middle vector draws from all three, so its two outside bytes are gathered first.
IMAGING_SHUFFLE_TARGET inline Block48 Reversed(const Block48& in) {
    const Vector edges =
        __builtin_shufflevector(in.low, in.high, 16, 15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    return {__builtin_shufflevector(in.middle, in.high, 29, 30, 31, 26, 27, 28, 23, 24, 25, 20, 21,
                                    22, 17, 18, 19, 14),
            __builtin_shufflevector(in.middle, edges, 15, 16, 11, 12, 13, 8, 9, 10, 5, 6, 7, 2, 3,
                                    4, 17, 0),
            __builtin_shufflevector(in.low, in.middle, 17, 12, 13, 14, 9, 10, 11, 6, 7, 8, 3, 4, 5,
                                    0, 1, 2)};
}

// Swaps pixel i from `left` with pixel i counted backwards from `rightEnd`, for whole blocks
// of 16 while the blocks do not meet; returns the pixels done.
IMAGING_SHUFFLE_TARGET int ExchangeMirroredBlocks(uint8_t* left, uint8_t* rightEnd, int count) {
    int done = 0;
    for (; done + 16 <= count; done += 16) {
        uint8_t* leftBlock = left + done * 3;
        uint8_t* rightBlock = rightEnd - (done + 16) * 3;
        const Block48 fromLeft = LoadBlock(leftBlock);
        const Block48 fromRight = LoadBlock(rightBlock);
        StoreBlock(leftBlock, Reversed(fromRight));
        StoreBlock(rightBlock, Reversed(fromLeft));
    }
    return done;
}

// Pixel i of `left` trades places with pixel i counted backwards from `rightEnd`, for
// i < count. With one row and count = half its width, the row is mirrored.
void ExchangeMirrored(uint8_t* left, uint8_t* rightEnd, int count) {
    int done = CanShuffleBytes() ? ExchangeMirroredBlocks(left, rightEnd, count) : 0;
    for (; done < count; ++done) SwapPixel(left + done * 3, rightEnd - (done + 1) * 3);
}

// A quarter turn writes bands of this many target rows and columns: the source pixels one
// band reads stay in the first-level cache while it is written.
constexpr int kBandRows = 16;
constexpr int kBandColumns = 128;

}  // namespace

Gdiplus::RotateFlipType CombineRotateFlip(Gdiplus::RotateFlipType first,
                                          Gdiplus::RotateFlipType then) {
    const Matrix both = Multiply(MatrixOf(then), MatrixOf(first));
    for (int type = 0; type < 8; ++type) {
        if (MatrixOf(static_cast<Gdiplus::RotateFlipType>(type)) == both)
            return static_cast<Gdiplus::RotateFlipType>(type);
    }
    return Gdiplus::RotateNoneFlipNone;  // the eight matrices are all there are
}

bool SwapsSides(Gdiplus::RotateFlipType type) {
    return (type & 1) != 0;
}

void RotateFlipInPlace(const BgrImageSpan& picture, Gdiplus::RotateFlipType type) {
    const auto rows = RowsOf(picture.pixels, picture.height, picture.rowStride, picture.bottomUp);
    const int width = picture.width;
    const int height = picture.height;
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    switch (type) {
        case Gdiplus::RotateNoneFlipX:
            for (int y = 0; y < height; ++y)
                ExchangeMirrored(rows.Row(y), rows.Row(y) + rowBytes, width / 2);
            break;
        case Gdiplus::Rotate180FlipX:  // top to bottom
            for (int y = 0; y < height / 2; ++y)
                SwapBytes(rows.Row(y), rows.Row(height - 1 - y), rowBytes);
            break;
        case Gdiplus::Rotate180FlipNone:
            for (int y = 0; y < height / 2; ++y)
                ExchangeMirrored(rows.Row(y), rows.Row(height - 1 - y) + rowBytes, width);
            if (height % 2 != 0) {
                uint8_t* middle = rows.Row(height / 2);
                ExchangeMirrored(middle, middle + rowBytes, width / 2);
            }
            break;
        default:  // no change, or a quarter turn, which cannot keep the size
            break;
    }
}

void RotateFlipCopy(const BgrImageView& source, const BgrImageSpan& target,
                    Gdiplus::RotateFlipType type) {
    if (!SwapsSides(type)) return;
    const auto from = RowsOf(source.pixels, source.height, source.rowStride, source.bottomUp);
    const auto to = RowsOf(target.pixels, target.height, target.rowStride, target.bottomUp);
    // Inverse of the type's matrix (its transpose): target (x, y) reads source column
    // sign(xy) * y and row sign(yx) * x, counted from the far side when the sign is negative.
    const Matrix forward = MatrixOf(type);
    const int columnSign = forward.yx;
    const int rowSign = forward.xy;
    const int sourceWidth = source.width;
    const int firstRow = rowSign < 0 ? source.height - 1 : 0;
    const ptrdiff_t rowStep = rowSign * from.step;
    for (int bandY = 0; bandY < target.height; bandY += kBandRows) {
        const int endY = std::min(bandY + kBandRows, target.height);
        for (int bandX = 0; bandX < target.width; bandX += kBandColumns) {
            const int endX = std::min(bandX + kBandColumns, target.width);
            for (int y = bandY; y < endY; ++y) {
                const int column = columnSign < 0 ? sourceWidth - 1 - y : y;
                const uint8_t* in = from.Row(firstRow + rowSign * bandX) + column * 3;
                uint8_t* out = to.Row(y) + bandX * 3;
                int x = bandX;
                // Four bytes move as one; the fourth belongs to the next pixel of the same
                // row on both sides, so it is read in bounds and overwritten next.
                if (column < sourceWidth - 1) {
                    for (; x + 1 < endX; ++x, in += rowStep, out += 3) std::memcpy(out, in, 4);
                }
                for (; x < endX; ++x, in += rowStep, out += 3) std::memcpy(out, in, 3);
            }
        }
    }
}

}  // namespace imaging
