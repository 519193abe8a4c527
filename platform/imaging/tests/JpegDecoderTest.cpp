#include "platform/imaging/JpegDecoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <vector>

#include "platform/imaging/tests/TestPictures.h"

namespace {

using namespace testing_pictures;

constexpr int kWidth = 320;
constexpr int kHeight = 240;

std::vector<uint8_t> EncodeQuadrants(int width, int height) {
    const imaging::BgrBitmap picture = QuadrantPicture(width, height);
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(encoder, picture.pixels.data(), width, 0, height, TJPF_BGR, &jpeg, &size,
                          TJSAMP_422, 90, 0),
              0);
    std::vector<uint8_t> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return bytes;
}

// The target's rows read back top row first, tight.
imaging::BgrBitmap Upright(const std::vector<uint8_t>& memory, const imaging::BgrImageSpan& span) {
    imaging::BgrBitmap picture{span.width, span.height, {}};
    for (int row = 0; row < span.height; ++row) {
        const int stored = span.bottomUp ? span.height - 1 - row : row;
        const uint8_t* begin = memory.data() + static_cast<size_t>(stored) * span.rowStride;
        picture.pixels.insert(picture.pixels.end(), begin, begin + span.width * 3);
    }
    return picture;
}

TEST(JpegDecoderTest, DecodesUprightIntoEitherRowOrderAndReportsWhatItCouldNotShow) {
    const std::vector<uint8_t> whole = EncodeQuadrants(kWidth, kHeight);
    std::vector<uint8_t> cutShort = whole;
    cutShort.resize(whole.size() * 2 / 3);
    const std::vector<uint8_t> larger = EncodeQuadrants(kWidth * 2, kHeight);
    const std::vector<uint8_t> garbage(500, 0x5A);
    // Marked as lossless (SOF3), a process libjpeg-turbo 2 does not decode.
    std::vector<uint8_t> lossless = whole;
    for (size_t i = 0; i + 1 < lossless.size(); ++i) {
        if (lossless[i] == 0xFF && lossless[i + 1] == 0xC0) {
            lossless[i + 1] = 0xC3;
            break;
        }
    }
    struct Case {
        const char* name;
        const std::vector<uint8_t>& jpeg;
        bool bottomUp;
        imaging::JpegDecodeStatus expected;
    };
    const Case cases[] = {
        {"bottom up", whole, true, imaging::JpegDecodeStatus::kDecoded},
        {"top down", whole, false, imaging::JpegDecodeStatus::kDecoded},
        {"cut short", cutShort, true, imaging::JpegDecodeStatus::kWarning},
        {"another size", larger, true, imaging::JpegDecodeStatus::kOtherSize},
        {"not a JPEG", garbage, true, imaging::JpegDecodeStatus::kFailed},
        {"unsupported process", lossless, true, imaging::JpegDecodeStatus::kFailed},
        // A refused header must not leave the decoder refusing good pictures after it.
        {"after a refused one", whole, true, imaging::JpegDecodeStatus::kDecoded},
    };
    imaging::JpegDecoder decoder;
    ASSERT_TRUE(decoder.Ready());
    // Rows padded beyond the pixels, as bitmaps pad them.
    const int stride = kWidth * 3 + 8;
    for (const Case& decodeCase : cases) {
        SCOPED_TRACE(decodeCase.name);
        std::vector<uint8_t> memory(static_cast<size_t>(stride) * kHeight, 0);
        const imaging::BgrImageSpan target{memory.data(), kWidth, kHeight, stride,
                                           decodeCase.bottomUp};
        const imaging::JpegDecodeStatus status =
            decoder.Decode(decodeCase.jpeg.data(), decodeCase.jpeg.size(), target);
        EXPECT_EQ(status, decodeCase.expected) << decoder.LastError();
        if (status == imaging::JpegDecodeStatus::kDecoded) {
            EXPECT_TRUE(QuadrantsNear(QuadrantCentres(Upright(memory, target)), kQuadrants, 12));
        }
        if (status == imaging::JpegDecodeStatus::kWarning) {
            const Quadrants found = QuadrantCentres(Upright(memory, target));
            EXPECT_TRUE(
                QuadrantsNear({found[0], found[1], kQuadrants[2], kQuadrants[3]}, kQuadrants, 12))
                << "the top half, which the data covers, is shown";
        }
        for (int row = 0; row < kHeight; ++row)
            for (int pad = kWidth * 3; pad < stride; ++pad)
                ASSERT_EQ(memory[static_cast<size_t>(row) * stride + pad], 0) << "padding written";
    }
}

}  // namespace
