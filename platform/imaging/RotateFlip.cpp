// Turns and mirrors of 24-bit pictures by row and column walks, without the library that
// scales: they move whole pixels, so they are exact.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "platform/imaging/Imaging.h"
#include "platform/imaging/RotateFlipCopy.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define IMAGING_HAS_AVX2_TILES 1
#endif

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

// The source as a quarter turn walks it: target (x, y) is source column Column(y) of the row
// Row(x) points to.
struct TurnWalk {
    Rows<const uint8_t> from;
    Rows<uint8_t> to;
    int sourceWidth;
    int columnSign;  // -1: target rows run from the source's last column backwards
    int firstRow;
    int rowSign;
    int Column(int y) const { return columnSign < 0 ? sourceWidth - 1 - y : y; }
    const uint8_t* Row(int x) const { return from.Row(firstRow + rowSign * x); }
};

// Target rows [y, endY) from column x to endX, pixel by pixel.
void TurnPixels(const TurnWalk& walk, int y, int endY, int x, int endX) {
    const ptrdiff_t rowStep = walk.rowSign * walk.from.step;
    for (; y < endY; ++y) {
        const int column = walk.Column(y);
        const uint8_t* in = walk.Row(x) + column * 3;
        uint8_t* out = walk.to.Row(y) + x * 3;
        int at = x;
        // Four bytes move as one; the fourth belongs to the next pixel of the same row on
        // both sides, so it is read in bounds and overwritten next.
        if (column < walk.sourceWidth - 1) {
            for (; at + 1 < endX; ++at, in += rowStep, out += 3) std::memcpy(out, in, 4);
        }
        for (; at < endX; ++at, in += rowStep, out += 3) std::memcpy(out, in, 3);
    }
}

#ifdef IMAGING_HAS_AVX2_TILES
bool CanUseAvx2() {
    static const bool can = __builtin_cpu_supports("avx2");
    return can;
}

// Tiles of 8 x 8 pixels: each source row's 8 pixels are widened to one 32-bit lane each,
// the lanes transposed as an 8 x 8 matrix and narrowed back. Every load and store is 16
// bytes for 12 bytes of pixels, so a tile needs two pixels to spare on its right in the
// source row and in the target row; the spare bytes written are overwritten by the next
// tile or the pixel loop, which come later in the row.
constexpr int kTile = 8;
constexpr int kTileSpare = 2;

// Tile row j is written at out + j * outStep.
__attribute__((target("avx2"))) inline void TurnTile(const uint8_t* in, ptrdiff_t rowStep,
                                                     uint8_t* out, ptrdiff_t outStep) {
    const __m256i widen = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 0,
                                           1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i narrow = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    __m256i rows[kTile];
#pragma GCC unroll 8
    for (int k = 0; k < kTile; ++k, in += rowStep) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12));
        rows[k] = _mm256_shuffle_epi8(_mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1),
                                      widen);
    }
    __m256i pairs[kTile];
#pragma GCC unroll 4
    for (int k = 0; k < kTile; k += 2) {
        pairs[k] = _mm256_unpacklo_epi32(rows[k], rows[k + 1]);
        pairs[k + 1] = _mm256_unpackhi_epi32(rows[k], rows[k + 1]);
    }
    __m256i quads[kTile];
#pragma GCC unroll 2
    for (int k = 0; k < kTile; k += 4) {
        quads[k] = _mm256_unpacklo_epi64(pairs[k], pairs[k + 2]);
        quads[k + 1] = _mm256_unpackhi_epi64(pairs[k], pairs[k + 2]);
        quads[k + 2] = _mm256_unpacklo_epi64(pairs[k + 1], pairs[k + 3]);
        quads[k + 3] = _mm256_unpackhi_epi64(pairs[k + 1], pairs[k + 3]);
    }
    // quads[j] holds column j of source rows 0..3 and column j + 4 of the same rows in its
    // high half; quads[j + 4] the same for rows 4..7.
#pragma GCC unroll 4
    for (int j = 0; j < 4; ++j) {
        const __m256i columns[2] = {_mm256_permute2x128_si256(quads[j], quads[j + 4], 0x20),
                                    _mm256_permute2x128_si256(quads[j], quads[j + 4], 0x31)};
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
            const __m256i pixels = _mm256_shuffle_epi8(columns[half], narrow);
            uint8_t* const target = out + (j + 4 * half) * outStep;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target), _mm256_castsi256_si128(pixels));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(target + 12),
                             _mm256_extracti128_si256(pixels, 1));
        }
    }
}

// `count` tiles side by side in the target, each from the next 8 source rows.
__attribute__((target("avx2"))) void TurnTileRun(const uint8_t* in, ptrdiff_t rowStep, uint8_t* out,
                                                 ptrdiff_t outStep, int count) {
    for (int tile = 0; tile < count; ++tile, in += kTile * rowStep, out += kTile * 3)
        TurnTile(in, rowStep, out, outStep);
}

// Target rows [y, y + 8) from column x on, in tiles while they have room; returns the first
// column left for the pixel loop.
int TurnTiles(const TurnWalk& walk, int y, int x, int endX, int targetWidth) {
    const int firstColumn = walk.columnSign < 0 ? walk.Column(y + kTile - 1) : walk.Column(y);
    if (firstColumn + kTile + kTileSpare > walk.sourceWidth) return x;
    const int count = std::max(0, std::min(endX - x, targetWidth - kTileSpare - x) / kTile);
    // Tile row j is source column firstColumn + j, which is target row y + j, or
    // y + 7 - j when the columns are walked backwards.
    const bool backwards = walk.columnSign < 0;
    uint8_t* const out = walk.to.Row(backwards ? y + kTile - 1 : y) + x * 3;
    TurnTileRun(walk.Row(x) + firstColumn * 3, walk.rowSign * walk.from.step, out,
                backwards ? -walk.to.step : walk.to.step, count);
    return x + count * kTile;
}
#endif

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
    RotateFlipCopy(source, target, type, VectorUse::Best);
}

void RotateFlipCopy(const BgrImageView& source, const BgrImageSpan& target,
                    Gdiplus::RotateFlipType type, VectorUse use) {
    if (!SwapsSides(type)) return;
    // Inverse of the type's matrix (its transpose): target (x, y) reads source column
    // sign(xy) * y and row sign(yx) * x, counted from the far side when the sign is negative.
    const Matrix forward = MatrixOf(type);
    const TurnWalk walk{RowsOf(source.pixels, source.height, source.rowStride, source.bottomUp),
                        RowsOf(target.pixels, target.height, target.rowStride, target.bottomUp),
                        source.width,
                        forward.yx,
                        forward.xy < 0 ? source.height - 1 : 0,
                        forward.xy};
#ifdef IMAGING_HAS_AVX2_TILES
    const bool tiles = use == VectorUse::Best && CanUseAvx2();
#else
    const bool tiles = false;
    (void)use;
#endif
    for (int bandY = 0; bandY < target.height; bandY += kBandRows) {
        const int endY = std::min(bandY + kBandRows, target.height);
        for (int bandX = 0; bandX < target.width; bandX += kBandColumns) {
            const int endX = std::min(bandX + kBandColumns, target.width);
            int y = bandY;
#ifdef IMAGING_HAS_AVX2_TILES
            for (; tiles && y + kTile <= endY; y += kTile) {
                const int rest = TurnTiles(walk, y, bandX, endX, target.width);
                TurnPixels(walk, y, y + kTile, rest, endX);
            }
#endif
            TurnPixels(walk, y, endY, bandX, endX);
        }
    }
}

}  // namespace imaging
