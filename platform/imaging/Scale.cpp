#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <span>
#include <vector>

#include "platform/imaging/DrawBilinear.h"
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

// Byte i of `out` is byte i of `upper` and of `lower` mixed in the ratio
// (256 - weight) : weight, rounded. Also finishes the bytes the AVX2 loop below leaves.
__attribute__((always_inline)) inline void MixRows(const uint8_t* upper, const uint8_t* lower,
                                                   unsigned weight, uint8_t* out, size_t count) {
    if (weight == 0) {
        std::memcpy(out, upper, count);
        return;
    }
    using Bytes = uint8_t __attribute__((vector_size(32)));
    using Words = uint16_t __attribute__((vector_size(64)));
    const uint16_t upperWeight = static_cast<uint16_t>(256 - weight);
    const uint16_t lowerWeight = static_cast<uint16_t>(weight);
    size_t at = 0;
    for (; at + sizeof(Bytes) <= count; at += sizeof(Bytes)) {
        Bytes a, b;
        std::memcpy(&a, upper + at, sizeof a);
        std::memcpy(&b, lower + at, sizeof b);
        const Words mixed = (__builtin_convertvector(a, Words) * upperWeight +
                             __builtin_convertvector(b, Words) * lowerWeight + 128) >>
                            8;
        const Bytes result = __builtin_convertvector(mixed, Bytes);
        std::memcpy(out + at, &result, sizeof result);
    }
    for (; at < count; ++at)
        out[at] =
            static_cast<uint8_t>((upper[at] * upperWeight + lower[at] * lowerWeight + 128) >> 8);
}

// Chosen at run time by a plain check, not by the compiler's function clones: their
// resolver runs while the program is loaded, before the sanitizers' runtimes are ready.
#if defined(__x86_64__) || defined(__i386__)
// The same sums with every byte less 128, as a signed byte: one multiply-add then forms
// a * (256 - weight) + b * weight for each pair of bytes. The weights add up to 256, so the
// sum stays within 16 signed bits, and adding 128 back after the shift rounds as the plain
// sum does.
__attribute__((target("avx2"))) inline __m256i MixPairs(__m256i pairs, __m256i weights,
                                                        __m256i rounding) {
    return _mm256_srai_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(weights, pairs), rounding), 8);
}

__attribute__((target("avx2"))) void MixRowsAvx2(const uint8_t* upper, const uint8_t* lower,
                                                 unsigned weight, uint8_t* out, size_t count) {
    size_t at = 0;
    if (weight != 0) {
        // Byte pairs of the upper row's weight and the lower row's, both within 1..255 here.
        const __m256i weights =
            _mm256_set1_epi16(static_cast<int16_t>(weight << 8 | (256 - weight)));
        const __m256i offset = _mm256_set1_epi8(-128);
        const __m256i rounding = _mm256_set1_epi16(128);
        for (; at + sizeof(__m256i) <= count; at += sizeof(__m256i)) {
            const __m256i a = _mm256_xor_si256(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper + at)), offset);
            const __m256i b = _mm256_xor_si256(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower + at)), offset);
            const __m256i mixed =
                _mm256_packs_epi16(MixPairs(_mm256_unpacklo_epi8(a, b), weights, rounding),
                                   MixPairs(_mm256_unpackhi_epi8(a, b), weights, rounding));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + at),
                                _mm256_xor_si256(mixed, offset));
        }
    }
    MixRows(upper + at, lower + at, weight, out + at, count - at);
}
#endif

void BlendRows(const uint8_t* upper, const uint8_t* lower, unsigned weight, uint8_t* out,
               size_t count) {
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return MixRowsAvx2(upper, lower, weight, out, count);
#endif
    MixRows(upper, lower, weight, out, count);
}

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
    int sourceStep = 0;
    int targetStep = 0;
    const uint8_t* const sourceTop = TopRow(source, &sourceStep);
    uint8_t* const targetTop = const_cast<uint8_t*>(TopRow(target.View(), &targetStep));
    const size_t rowBytes = static_cast<size_t>(source.width) * 3;
    // Row centres line up: target row i samples the source at (i + 0.5) * s / t - 0.5,
    // kept in 1/256ths of a row and held inside the picture at both ends.
    const int64_t sourceHeight = source.height;
    const int64_t targetHeight = target.height;
    for (int row = 0; row < target.height; ++row) {
        const int64_t at = std::max<int64_t>(
            0, (((2 * row + 1) * sourceHeight - targetHeight) * 256 + targetHeight) /
                   (2 * targetHeight));
        const int64_t upper = std::min<int64_t>(at >> 8, sourceHeight - 1);
        const int64_t lower = std::min<int64_t>(upper + 1, sourceHeight - 1);
        BlendRows(sourceTop + upper * sourceStep, sourceTop + lower * sourceStep,
                  static_cast<unsigned>(at & 255), targetTop + ptrdiff_t{row} * targetStep,
                  rowBytes);
    }
    return true;
}

namespace {

// Where a target pixel's centre falls between two source pixels: the first one's index and
// the second's weight out of 256, clamped at the edges.
struct Tap {
    int first = 0;
    int second = 0;
    uint32_t weight = 0;
};

constexpr uint64_t kLaneMask = 0x00FF00FF00FFull;
constexpr uint64_t kOpaque = uint64_t{255} << 48;
constexpr uint64_t kLaneHalf = 0x0080008000800080ull;

// Blue, green and red of the pixel at `pixel` in the low 8 bits of three 16-bit lanes.
inline uint64_t Lanes(const uint8_t* pixel) {
    return pixel[0] | uint64_t{pixel[1]} << 16 | uint64_t{pixel[2]} << 32;
}

std::vector<Tap> BilinearTaps(int sourceLength, int targetLength) {
    std::vector<Tap> taps(static_cast<size_t>(targetLength));
    for (int i = 0; i < targetLength; ++i) {
        // In 1/256 of a source pixel.
        const int64_t centre =
            (static_cast<int64_t>(2 * i + 1) * sourceLength * 256) / (2 * targetLength) - 128;
        const int64_t clamped = std::clamp<int64_t>(centre, 0, (sourceLength - 1) * int64_t{256});
        const int first = static_cast<int>(clamped >> 8);
        taps[i] = {first, std::min(first + 1, sourceLength - 1),
                   static_cast<uint32_t>(clamped & 255)};
    }
    return taps;
}

// Source row `row` mixed across into the target pixels of `columns`: per pixel blue, green,
// red and 255 in four 16-bit lanes. A weighted sum of two pixels (weights adding up to 256)
// stays within each lane.
void MixAcross(const uint8_t* row, std::span<const Tap> columns, uint64_t* out) {
    for (const Tap& column : columns) {
        const uint64_t across = column.weight;
        *out++ = ((Lanes(row + column.first * 3) * (256 - across) +
                   Lanes(row + column.second * 3) * across) >>
                      8 &
                  kLaneMask) |
                 kOpaque;
    }
}

// Two rows from MixAcross mixed down into `count` pixels of 4 bytes, rounded.
void MixDown(const uint64_t* upper, const uint64_t* lower, uint64_t down, uint8_t* out,
             size_t count) {
    for (size_t x = 0; x < count; ++x, out += 4) {
        const uint64_t mixed = (upper[x] * (256 - down) + lower[x] * down + kLaneHalf) >> 8;
        for (int c = 0; c < 4; ++c) out[c] = static_cast<uint8_t>(mixed >> (16 * c));
    }
}

#if defined(__x86_64__) || defined(__i386__)
// The same sums 16 lanes at a time: each product and their sum stay below 65536, so the
// low 16 bits of the multiplies are exact.
__attribute__((target("avx2"))) inline __m256i MixDownLanes(const uint64_t* upper,
                                                            const uint64_t* lower, __m256i up,
                                                            __m256i down) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(upper));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lower));
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(a, up), _mm256_mullo_epi16(b, down));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, _mm256_set1_epi16(128)), 8);
}

__attribute__((target("avx2"))) void MixDownAvx2(const uint64_t* upper, const uint64_t* lower,
                                                 uint64_t down, uint8_t* out, size_t count) {
    const __m256i upWeight = _mm256_set1_epi16(static_cast<int16_t>(256 - down));
    const __m256i downWeight = _mm256_set1_epi16(static_cast<int16_t>(down));
    size_t x = 0;
    for (; x + 8 <= count; x += 8) {
        // Packing works within each 128-bit half; the 64-bit quarters are put back in order.
        const __m256i packed =
            _mm256_packus_epi16(MixDownLanes(upper + x, lower + x, upWeight, downWeight),
                                MixDownLanes(upper + x + 4, lower + x + 4, upWeight, downWeight));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                            _mm256_permute4x64_epi64(packed, 0xD8));
    }
    MixDown(upper + x, lower + x, down, out + 4 * x, count - x);
}

// The leading columns, in groups of 4, whose two source pixels lie side by side and can be
// read as 8 bytes without passing the row's end.
struct VectorColumns {
    std::vector<int32_t> offsets;   // of the first pixel, in bytes
    std::vector<uint64_t> weights;  // of the second pixel, in each 16-bit lane
};

VectorColumns ColumnsForVectors(const std::vector<Tap>& columns, int sourceWidth) {
    VectorColumns vector;
    for (const Tap& column : columns) {
        if (column.first * 3 + 8 > sourceWidth * 3 || column.second != column.first + 1) break;
        vector.offsets.push_back(column.first * 3);
        vector.weights.push_back(column.weight * 0x0001000100010001ull);
    }
    vector.offsets.resize(vector.offsets.size() & ~size_t{3});
    vector.weights.resize(vector.offsets.size());
    return vector;
}

// MixAcross four target pixels at a time: one gather reads both source pixels of each.
__attribute__((target("avx2"))) void MixAcrossAvx2(const uint8_t* row, const VectorColumns& vector,
                                                   std::span<const Tap> columns, uint64_t* out) {
    constexpr char kNone = -128;
    const __m256i firstPixel = _mm256_setr_epi8(
        0, kNone, 1, kNone, 2, kNone, kNone, kNone, 8, kNone, 9, kNone, 10, kNone, kNone, kNone, 0,
        kNone, 1, kNone, 2, kNone, kNone, kNone, 8, kNone, 9, kNone, 10, kNone, kNone, kNone);
    const __m256i secondPixel = _mm256_setr_epi8(
        3, kNone, 4, kNone, 5, kNone, kNone, kNone, 11, kNone, 12, kNone, 13, kNone, kNone, kNone,
        3, kNone, 4, kNone, 5, kNone, kNone, kNone, 11, kNone, 12, kNone, 13, kNone, kNone, kNone);
    const __m256i whole = _mm256_set1_epi16(256);
    const __m256i opaque = _mm256_set1_epi64x(static_cast<long long>(kOpaque));
    const size_t count = vector.offsets.size();
    for (size_t x = 0; x < count; x += 4) {
        const __m256i pairs = _mm256_i32gather_epi64(
            reinterpret_cast<const long long*>(row),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(&vector.offsets[x])), 1);
        const __m256i second =
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&vector.weights[x]));
        const __m256i sum =
            _mm256_add_epi16(_mm256_mullo_epi16(_mm256_shuffle_epi8(pairs, firstPixel),
                                                _mm256_sub_epi16(whole, second)),
                             _mm256_mullo_epi16(_mm256_shuffle_epi8(pairs, secondPixel), second));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x),
                            _mm256_or_si256(_mm256_srli_epi16(sum, 8), opaque));
    }
    MixAcross(row, columns.subspan(count), out + count);
}
#endif

// The source rows mixed across, two at a time: a row shared by neighbouring target rows (as
// when enlarging) is mixed once.
class AcrossRows {
public:
    AcrossRows(const BgrImageView& source, int width, [[maybe_unused]] VectorUse use)
        : source_(source), columns_(BilinearTaps(source.width, width)) {
        for (std::vector<uint64_t>& row : rows_) row.resize(static_cast<size_t>(width));
#if defined(__x86_64__) || defined(__i386__)
        static const bool avx2 = __builtin_cpu_supports("avx2");
        if (use != VectorUse::Plain && avx2) vector_ = ColumnsForVectors(columns_, source.width);
#endif
    }

    // Source row `wanted` mixed across, kept beside row `kept` if that one is held.
    const uint64_t* Get(int wanted, int kept) {
        for (int slot = 0; slot < 2; ++slot)
            if (held_[slot] == wanted) return rows_[slot].data();
        const int slot = held_[0] == kept ? 1 : 0;
        const int stored = source_.bottomUp ? source_.height - 1 - wanted : wanted;
        const uint8_t* row = source_.pixels + static_cast<ptrdiff_t>(stored) * source_.rowStride;
#if defined(__x86_64__) || defined(__i386__)
        if (!vector_.offsets.empty())
            MixAcrossAvx2(row, vector_, columns_, rows_[slot].data());
        else
#endif
            MixAcross(row, columns_, rows_[slot].data());
        held_[slot] = wanted;
        return rows_[slot].data();
    }

private:
    const BgrImageView& source_;
    const std::vector<Tap> columns_;
#if defined(__x86_64__) || defined(__i386__)
    VectorColumns vector_;
#endif
    std::vector<uint64_t> rows_[2];
    int held_[2] = {-1, -1};
};

}  // namespace

void DrawBilinearRgb32(const BgrImageView& source, uint8_t* target, int width, int height,
                       int targetStride, VectorUse use) {
    if (source.pixels == nullptr || source.width <= 0 || source.height <= 0 || target == nullptr ||
        width <= 0 || height <= 0 || targetStride < width * 4)
        return;
    auto mixDown = MixDown;
#if defined(__x86_64__) || defined(__i386__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (use != VectorUse::Plain && avx2) mixDown = MixDownAvx2;
#endif
    AcrossRows across(source, width, use);
    const std::vector<Tap> rows = BilinearTaps(source.height, height);
    for (int y = 0; y < height; ++y) {
        const Tap& row = rows[y];
        const uint64_t* upper = across.Get(row.first, row.second);
        // A row that falls on a source row needs no second one.
        const uint64_t* lower = row.weight == 0 ? upper : across.Get(row.second, row.first);
        mixDown(upper, lower, row.weight, target + static_cast<ptrdiff_t>(y) * targetStride,
                static_cast<size_t>(width));
    }
}

void DrawBilinearRgb32(const BgrImageView& source, uint8_t* target, int width, int height,
                       int targetStride) {
    DrawBilinearRgb32(source, target, width, height, targetStride, VectorUse::Best);
}

}  // namespace imaging
