// Turns and mirrors of 24-bit pictures by row and column walks, without the library that
// scales: they move whole pixels, so they are exact.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <span>

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
    if (x >= endX) return;  // the tiles did it all, as they mostly do
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

bool CanUseAvx512() {
    static const bool can = __builtin_cpu_supports("avx512f") &&
                            __builtin_cpu_supports("avx512bw") &&
                            __builtin_cpu_supports("avx512vbmi");
    return can;
}

// Tiles of 16 x 16 pixels the same way in 512-bit registers, where one byte permutation
// widens or narrows a whole row. Loads and stores are masked to the row's 48 bytes, so
// these tiles need nothing to spare.
constexpr int kWideTile = 16;

// Byte permutations of a 512-bit register: pixel k of 16 to 32-bit lane k and back. The
// fourth byte of a lane repeats the third; narrowing drops it.
struct alignas(64) ByteIndex {
    uint8_t bytes[64];
};

constexpr ByteIndex WidenIndex() {
    ByteIndex index{};
    for (int k = 0; k < 64; ++k)
        index.bytes[k] = static_cast<uint8_t>(k / 4 * 3 + std::min(k % 4, 2));
    return index;
}

constexpr ByteIndex NarrowIndex() {
    ByteIndex index{};
    for (int k = 0; k < kWideTile * 3; ++k)
        index.bytes[k] = static_cast<uint8_t>(k / 3 * 4 + k % 3);
    return index;
}

constexpr ByteIndex kWidenIndex = WidenIndex();
constexpr ByteIndex kNarrowIndex = NarrowIndex();

// GCC 12's headers fill the unused operand of the unmasked AVX-512 forms with a register
// they leave undefined on purpose, and then warn about it (its bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"

#define IMAGING_AVX512_TARGET __attribute__((target("avx512f,avx512bw,avx512vbmi")))

IMAGING_AVX512_TARGET inline void TurnWideTile(const uint8_t* in, ptrdiff_t rowStep, uint8_t* out,
                                               ptrdiff_t outStep) {
    const __m512i widen = _mm512_load_si512(kWidenIndex.bytes);
    const __m512i narrow = _mm512_load_si512(kNarrowIndex.bytes);
    constexpr __mmask64 kRowBytes = (__mmask64{1} << (kWideTile * 3)) - 1;
    __m512i rows[kWideTile];
#pragma GCC unroll 16
    for (int k = 0; k < kWideTile; ++k, in += rowStep)
        rows[k] = _mm512_permutexvar_epi8(widen, _mm512_maskz_loadu_epi8(kRowBytes, in));
    __m512i pairs[kWideTile];
#pragma GCC unroll 8
    for (int k = 0; k < kWideTile; k += 2) {
        pairs[k] = _mm512_unpacklo_epi32(rows[k], rows[k + 1]);
        pairs[k + 1] = _mm512_unpackhi_epi32(rows[k], rows[k + 1]);
    }
    // quads[4 * g + c] holds, in 128-bit lane l, column 4 * l + c of source rows 4g..4g+3.
    __m512i quads[kWideTile];
#pragma GCC unroll 4
    for (int k = 0; k < kWideTile; k += 4) {
        quads[k] = _mm512_unpacklo_epi64(pairs[k], pairs[k + 2]);
        quads[k + 1] = _mm512_unpackhi_epi64(pairs[k], pairs[k + 2]);
        quads[k + 2] = _mm512_unpacklo_epi64(pairs[k + 1], pairs[k + 3]);
        quads[k + 3] = _mm512_unpackhi_epi64(pairs[k + 1], pairs[k + 3]);
    }
#pragma GCC unroll 4
    for (int c = 0; c < 4; ++c) {
        // Lanes 0 and 2 (even) or 1 and 3 (odd) of rows 0..7 and of rows 8..15.
        const __m512i evenTop = _mm512_shuffle_i32x4(quads[c], quads[4 + c], 0x88);
        const __m512i oddTop = _mm512_shuffle_i32x4(quads[c], quads[4 + c], 0xDD);
        const __m512i evenBottom = _mm512_shuffle_i32x4(quads[8 + c], quads[12 + c], 0x88);
        const __m512i oddBottom = _mm512_shuffle_i32x4(quads[8 + c], quads[12 + c], 0xDD);
        const __m512i columns[4] = {_mm512_shuffle_i32x4(evenTop, evenBottom, 0x88),
                                    _mm512_shuffle_i32x4(oddTop, oddBottom, 0x88),
                                    _mm512_shuffle_i32x4(evenTop, evenBottom, 0xDD),
                                    _mm512_shuffle_i32x4(oddTop, oddBottom, 0xDD)};
#pragma GCC unroll 4
        for (int l = 0; l < 4; ++l) {
            _mm512_mask_storeu_epi8(out + (4 * l + c) * outStep, kRowBytes,
                                    _mm512_permutexvar_epi8(narrow, columns[l]));
        }
    }
}

IMAGING_AVX512_TARGET void TurnWideTileRun(const uint8_t* in, ptrdiff_t rowStep, uint8_t* out,
                                           ptrdiff_t outStep, int count) {
    for (int tile = 0; tile < count; ++tile, in += kWideTile * rowStep, out += kWideTile * 3)
        TurnWideTile(in, rowStep, out, outStep);
}

#pragma GCC diagnostic pop

// A size of square tiles, the pixels each needs to spare to its right, and what turns a run
// of them.
struct Tiles {
    int size;
    int spare;
    void (*turnRun)(const uint8_t* in, ptrdiff_t rowStep, uint8_t* out, ptrdiff_t outStep,
                    int count);
};
constexpr Tiles kAvx2Tiles{kTile, kTileSpare, TurnTileRun};
constexpr Tiles kAvx512Tiles{kWideTile, 0, TurnWideTileRun};

// Target rows [y, y + tiles.size) from column x to endX, in tiles while they have room;
// returns the first column left for the pixel loop.
int TurnTiles(const Tiles& tiles, const TurnWalk& walk, int y, int x, int endX, int targetWidth) {
    const int last = y + tiles.size - 1;
    const int firstColumn = walk.columnSign < 0 ? walk.Column(last) : walk.Column(y);
    if (firstColumn + tiles.size + tiles.spare > walk.sourceWidth) return x;
    // Tile row j is source column firstColumn + j, which is target row y + j, or
    // last - j when the columns are walked backwards.
    const bool backwards = walk.columnSign < 0;
    uint8_t* const out = walk.to.Row(backwards ? last : y);
    const auto turnFrom = [&](int column, int count) {
        tiles.turnRun(walk.Row(column) + firstColumn * 3, walk.rowSign * walk.from.step,
                      out + column * 3, backwards ? -walk.to.step : walk.to.step, count);
    };
    const int count = std::max(0, std::min(endX - x, targetWidth - tiles.spare - x) / tiles.size);
    turnFrom(x, count);
    const int done = x + count * tiles.size;
    // A rest narrower than a tile gets one more tile ending at endX, over the end of the one
    // before: writing some pixels twice costs less than the pixel loop.
    if (done == endX || endX - tiles.size < x || endX + tiles.spare > targetWidth) return done;
    turnFrom(endX - tiles.size, 1);
    return endX;
}

// The tiles `use` asks for that this processor has, largest first: the rows of a band that
// are too few for one size may still fill the next. None: pixel by pixel.
std::span<const Tiles> ChooseTiles(VectorUse use) {
    static constexpr Tiles kWideThenNarrow[] = {kAvx512Tiles, kAvx2Tiles};
    if (use == VectorUse::Plain || !CanUseAvx2()) return {};
    if (use == VectorUse::Best && CanUseAvx512()) return kWideThenNarrow;
    return {&kAvx2Tiles, 1};
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
    const std::span<const Tiles> tileSizes = ChooseTiles(use);
#else
    (void)use;
#endif
    for (int bandY = 0; bandY < target.height; bandY += kBandRows) {
        const int endY = std::min(bandY + kBandRows, target.height);
        for (int bandX = 0; bandX < target.width; bandX += kBandColumns) {
            const int endX = std::min(bandX + kBandColumns, target.width);
            int y = bandY;
#ifdef IMAGING_HAS_AVX2_TILES
            for (const Tiles& tiles : tileSizes) {
                for (; y + tiles.size <= endY; y += tiles.size) {
                    const int rest = TurnTiles(tiles, walk, y, bandX, endX, target.width);
                    TurnPixels(walk, y, y + tiles.size, rest, endX);
                }
            }
#endif
            TurnPixels(walk, y, endY, bandX, endX);
        }
    }
}

}  // namespace imaging
