#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <tuple>
#include <vector>

#include "platform/imaging/DrawBilinear.h"
#include "platform/imaging/Imaging.h"
#include "platform/imaging/RotateFlipCopy.h"

namespace {

// A picture in bytes of exactly its size, so that a read past its last row is caught by the
// address sanitizer; rows are `padding` bytes longer than their pixels.
struct Picture {
    int width, height, padding;
    bool bottomUp;
    std::vector<uint8_t> bytes;

    Picture(int w, int h, int pad, bool up)
        : width(w),
          height(h),
          padding(pad),
          bottomUp(up),
          bytes(static_cast<size_t>(w * 3 + pad) * h, 0xA5) {}
    int Stride() const { return width * 3 + padding; }
    // Offset of byte `channel` of the pixel at (x, y) as seen, top row first.
    size_t Offset(int x, int y, int channel) const {
        const int row = bottomUp ? height - 1 - y : y;
        return static_cast<size_t>(row) * Stride() + x * 3 + channel;
    }
    uint8_t& At(int x, int y, int channel) { return bytes[Offset(x, y, channel)]; }
    uint8_t At(int x, int y, int channel) const { return bytes[Offset(x, y, channel)]; }
    imaging::BgrImageView View() const { return {bytes.data(), width, height, Stride(), bottomUp}; }
    imaging::BgrImageSpan Span() { return {bytes.data(), width, height, Stride(), bottomUp}; }
    bool PaddingUntouched() const {
        for (int row = 0; row < height; ++row) {
            const auto end = bytes.begin() + static_cast<ptrdiff_t>(row + 1) * Stride();
            if (!std::all_of(end - padding, end, [](uint8_t b) { return b == 0xA5; })) return false;
        }
        return true;
    }
};

// Every byte tells its pixel and channel apart from its neighbours.
Picture Labelled(int width, int height, bool bottomUp) {
    Picture picture(width, height, 0, bottomUp);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c)
                picture.At(x, y, c) = static_cast<uint8_t>(x * 3 + y * 101 + c * 71);
        }
    }
    return picture;
}

// The quarter turns cut a picture into 8 x 8 tiles where they can and walk the rest pixel by
// pixel; both must put every pixel where the type says, and write nothing past the pixels.
TEST(QuarterTurnTest, TilesAndPixelLoopPutEveryPixelInPlace) {
    // Where target (x, y) reads a w x h source.
    using Source = std::function<std::pair<int, int>(int x, int y, int w, int h)>;
    const struct {
        Gdiplus::RotateFlipType type;
        Source source;
    } types[] = {
        {Gdiplus::Rotate90FlipNone,
         [](int x, int y, int, int h) {
             return std::pair{y, h - 1 - x};
         }},
        {Gdiplus::Rotate270FlipNone,
         [](int x, int y, int w, int) {
             return std::pair{w - 1 - y, x};
         }},
        {Gdiplus::Rotate90FlipX,
         [](int x, int y, int, int) {
             return std::pair{y, x};
         }},
        {Gdiplus::Rotate270FlipX,
         [](int x, int y, int w, int h) {
             return std::pair{w - 1 - y, h - 1 - x};
         }},
    };
    // Tiles need two pixels to spare: 10 is one tile exactly, 9 none; 37 x 23 leaves rests in
    // both directions; 140 x 70 crosses the bands the turn writes in; 1-pixel sides never tile.
    // The 16-pixel tiles need none: 16 is one exactly, 17 one and a rest; 48 x 40 is three
    // bands of them with a rest of 8 columns.
    const struct {
        int width, height;
    } sizes[] = {{10, 10}, {9, 9}, {37, 23}, {23, 37}, {140, 70}, {1, 40},
                 {40, 1},  {1, 1}, {16, 16}, {17, 17}, {48, 40},  {40, 48}};
    for (const auto& size : sizes) {
        for (const bool bottomUp : {true, false}) {
            const Picture source = Labelled(size.width, size.height, bottomUp);
            for (const auto& [type, from] : types) {
                for (const imaging::VectorUse use :
                     {imaging::VectorUse::Plain, imaging::VectorUse::Avx2,
                      imaging::VectorUse::Best}) {
                    Picture target(size.height, size.width, 5, !bottomUp);
                    imaging::RotateFlipCopy(source.View(), target.Span(), type, use);
                    int wrong = 0;
                    for (int y = 0; y < target.height; ++y) {
                        for (int x = 0; x < target.width; ++x) {
                            const auto [sx, sy] = from(x, y, size.width, size.height);
                            for (int c = 0; c < 3; ++c)
                                wrong += target.At(x, y, c) != source.At(sx, sy, c);
                        }
                    }
                    const char* const useName = use == imaging::VectorUse::Plain  ? " plain"
                                                : use == imaging::VectorUse::Avx2 ? " avx2"
                                                                                  : " best";
                    EXPECT_EQ(wrong, 0)
                        << size.width << "x" << size.height << " type " << type << useName;
                    EXPECT_TRUE(target.PaddingUntouched())
                        << size.width << "x" << size.height << " type " << type << useName;
                }
            }
        }
    }
}

// Target row i mixes the two source rows nearest (i + 0.5) * s / t - 0.5, clamped to the
// picture; every byte must be within one level of that, the row padding left alone.
TEST(ScaleHeightTest, EachRowMixesTheTwoNearestSourceRows) {
    const struct {
        int width, sourceHeight, targetHeight;
    } cases[] = {
        {5, 7, 3},                     // rows of 15 bytes: no whole vector
        {11, 64, 36},                  // 33 bytes: one vector and a rest
        {32, 1920, 1080}, {13, 5, 1},  // one row from the middle
        {4, 1, 4},                     // one row stretched
        {3, 2, 5},                     // stretched, ends held
        {1, 9, 9},                     // same height: copied
    };
    for (const auto& c : cases) {
        for (const bool bottomUp : {true, false}) {
            Picture source(c.width, c.sourceHeight, 0, bottomUp);
            for (int y = 0; y < c.sourceHeight; ++y) {
                for (int x = 0; x < c.width; ++x) {
                    for (int ch = 0; ch < 3; ++ch)
                        source.At(x, y, ch) =
                            static_cast<uint8_t>((x * 37 + y * y * 11 + ch * 90) % 256);
                }
            }
            Picture target(c.width, c.targetHeight, 3, !bottomUp);
            ASSERT_TRUE(imaging::ScaleHeightBilinear(source.View(), target.Span()));
            double worst = 0;
            for (int y = 0; y < c.targetHeight; ++y) {
                const double at = std::clamp((y + 0.5) * c.sourceHeight / c.targetHeight - 0.5, 0.0,
                                             c.sourceHeight - 1.0);
                const int upper = static_cast<int>(at);
                const int lower = std::min(upper + 1, c.sourceHeight - 1);
                const double weight = at - upper;
                for (int x = 0; x < c.width; ++x) {
                    for (int ch = 0; ch < 3; ++ch) {
                        const double expected = source.At(x, upper, ch) * (1 - weight) +
                                                source.At(x, lower, ch) * weight;
                        worst = std::max(worst, std::abs(target.At(x, y, ch) - expected));
                    }
                }
            }
            EXPECT_LE(worst, 1.0) << c.width << " wide, " << c.sourceHeight << " to "
                                  << c.targetHeight;
            EXPECT_TRUE(target.PaddingUntouched()) << c.sourceHeight << " to " << c.targetHeight;
        }
    }
}

// Bytes spread over the whole range, 0 and 255 included, with no pattern the mixing could
// happen to get right by accident.
Picture Scrambled(int width, int height, int padding, bool bottomUp) {
    Picture picture(width, height, padding, bottomUp);
    uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                state = state * 1103515245 + 12345;
                const uint8_t value = static_cast<uint8_t>(state >> 16);
                picture.At(x, y, c) = value < 16 ? 0 : value > 240 ? 255 : value;
            }
        }
    }
    return picture;
}

// The vector mixing works on 32 bytes at a time and leaves the rest of a row to the byte
// loop; both must give exactly the integer sum (a * (256 - w) + b * w + 128) >> 8.
TEST(ScaleHeightTest, EveryByteIsTheRoundedIntegerMix) {
    const struct {
        int width, sourceHeight, targetHeight;
    } cases[] = {
        {5, 7, 3},     // 15 bytes: the byte loop only
        {11, 64, 36},  // 33 bytes: one vector and one byte
        {32, 19, 40},  // 96 bytes: vectors only, stretched
        {43, 50, 9},   // 129 bytes
        {1, 9, 9},     // same height: copied
    };
    for (const auto& c : cases) {
        for (const bool bottomUp : {true, false}) {
            const Picture source = Scrambled(c.width, c.sourceHeight, 0, bottomUp);
            Picture target(c.width, c.targetHeight, 3, !bottomUp);
            ASSERT_TRUE(imaging::ScaleHeightBilinear(source.View(), target.Span()));
            int wrong = 0;
            for (int y = 0; y < c.targetHeight; ++y) {
                const int64_t s = c.sourceHeight;
                const int64_t t = c.targetHeight;
                const int64_t at =
                    std::max<int64_t>(0, (((2 * y + 1) * s - t) * 256 + t) / (2 * t));
                const int upper = static_cast<int>(std::min<int64_t>(at >> 8, s - 1));
                const int lower = std::min(upper + 1, c.sourceHeight - 1);
                const int weight = static_cast<int>(at & 255);
                for (int x = 0; x < c.width; ++x) {
                    for (int ch = 0; ch < 3; ++ch) {
                        const int expected = (source.At(x, upper, ch) * (256 - weight) +
                                              source.At(x, lower, ch) * weight + 128) >>
                                             8;
                        wrong += target.At(x, y, ch) != expected;
                    }
                }
            }
            EXPECT_EQ(wrong, 0) << c.width << " wide, " << c.sourceHeight << " to "
                                << c.targetHeight;
            EXPECT_TRUE(target.PaddingUntouched()) << c.sourceHeight << " to " << c.targetHeight;
        }
    }
}

TEST(ScaleHeightTest, PicturesOfDifferentWidthsAreRefusedUntouched) {
    const Picture source = Labelled(6, 4, true);
    Picture target(5, 2, 0, true);
    const std::vector<uint8_t> before = target.bytes;
    EXPECT_FALSE(imaging::ScaleHeightBilinear(source.View(), target.Span()));
    EXPECT_EQ(target.bytes, before);
}

// The live pane's drawing, pixel by pixel from its definition: the centre of target pixel i
// falls at (i + 0.5) * s / t - 0.5 source pixels (in 1/256ths, held inside the picture); the
// two source pixels around it are mixed across (cut to whole levels), then the two rows
// down (rounded). Every path must give these bytes exactly, the row padding left alone.
TEST(DrawBilinearTest, EveryPathDrawsTheSameBytesAsThePixelByPixelMix) {
    const auto around = [](int i, int source, int target) {
        const int64_t centre = std::clamp<int64_t>(
            (int64_t{2 * i + 1} * source * 256) / (2 * target) - 128, 0, (source - 1) * 256LL);
        const int first = static_cast<int>(centre >> 8);
        return std::tuple{first, std::min(first + 1, source - 1), static_cast<int>(centre & 255)};
    };
    // Same size, halved, enlarged, odd widths around the 8-pixel vector step, one pixel.
    const struct {
        int sourceWidth, sourceHeight, width, height;
    } sizes[] = {{16, 9, 16, 9},  {32, 18, 16, 9},      {37, 21, 37, 21}, {37, 21, 18, 10},
                 {13, 7, 61, 29}, {100, 60, 57, 31},    {9, 9, 15, 3},    {1, 1, 9, 5},
                 {7, 5, 1, 1},    {640, 360, 1280, 720}};
    constexpr int kTargetPadding = 12;
    for (const auto& size : sizes) {
        for (const bool bottomUp : {true, false}) {
            Picture source(size.sourceWidth, size.sourceHeight, bottomUp ? 0 : 5, bottomUp);
            uint32_t noise = 12345;
            for (uint8_t& byte : source.bytes) {
                noise = noise * 1103515245u + 12345u;
                byte = static_cast<uint8_t>(noise >> 23);
            }
            const int stride = size.width * 4 + kTargetPadding;
            std::vector<uint8_t> expected(static_cast<size_t>(stride) * size.height, 0xA5);
            for (int y = 0; y < size.height; ++y) {
                const auto [upper, lower, down] = around(y, size.sourceHeight, size.height);
                for (int x = 0; x < size.width; ++x) {
                    const auto [left, right, across] = around(x, size.sourceWidth, size.width);
                    const auto mix = [&](int row, int c) {
                        return (source.At(left, row, c) * (256 - across) +
                                source.At(right, row, c) * across) >>
                               8;
                    };
                    uint8_t* out = &expected[static_cast<size_t>(y) * stride + x * 4];
                    for (int c = 0; c < 3; ++c)
                        out[c] = static_cast<uint8_t>(
                            (mix(upper, c) * (256 - down) + mix(lower, c) * down + 128) >> 8);
                    out[3] = 255;
                }
            }
            for (const imaging::VectorUse use :
                 {imaging::VectorUse::Plain, imaging::VectorUse::Avx2, imaging::VectorUse::Best}) {
                std::vector<uint8_t> drawn(expected.size(), 0xA5);
                imaging::DrawBilinearRgb32(source.View(), drawn.data(), size.width, size.height,
                                           stride, use);
                EXPECT_TRUE(drawn == expected)
                    << size.sourceWidth << "x" << size.sourceHeight << " to " << size.width << "x"
                    << size.height << (bottomUp ? " bottom-up" : " top-down") << " use "
                    << static_cast<int>(use);
            }
        }
    }
}

}  // namespace
