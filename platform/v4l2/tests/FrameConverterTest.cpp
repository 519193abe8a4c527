#include "platform/v4l2/FrameConverter.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/v4l2/tests/FakeCameras.h"

namespace v4l2 {
namespace {

using testing::kBottomColour;
using testing::kTopColour;
using testing::MakeTestFrame;

struct ConversionCase {
    const char* name;
    uint32_t pixelFormat;
    uint32_t width;
    uint32_t height;
};

class FrameConversion : public ::testing::TestWithParam<ConversionCase> {};

void ExpectPixel(const std::vector<uint8_t>& picture, uint32_t pitch, uint32_t memoryRow,
                 uint32_t x, const uint8_t expected[3], const char* where) {
    const uint8_t* pixel = &picture[size_t(memoryRow) * pitch + x * 3];
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(pixel[c], expected[c], 10) << where << " channel " << c;
}

// The picture is red above and blue below; in memory the first row is the bottom one, so it
// is blue, and rows start at padded pitches.
TEST_P(FrameConversion, GivesBottomUpBgrWithPaddedRows) {
    const auto& param = GetParam();
    std::vector<uint8_t> frame = MakeTestFrame(param.pixelFormat, param.width, param.height);
    ASSERT_FALSE(frame.empty());
    FrameConverter converter;
    ASSERT_TRUE(converter.Configure(param.pixelFormat, param.width, param.height, 0));
    uint32_t pitch = Rgb24Pitch(param.width);
    std::vector<uint8_t> picture(Rgb24ImageSize(param.width, param.height), 0xEE);
    ASSERT_TRUE(converter.Convert(frame.data(), frame.size(), picture.data(), picture.size()));
    for (uint32_t x : {0u, param.width / 2, param.width - 1}) {
        ExpectPixel(picture, pitch, 0, x, kBottomColour, "first stored row");
        ExpectPixel(picture, pitch, param.height / 4, x, kBottomColour, "lower quarter");
        ExpectPixel(picture, pitch, param.height * 3 / 4, x, kTopColour, "upper quarter");
        ExpectPixel(picture, pitch, param.height - 1, x, kTopColour, "last stored row");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FrameConversion,
    ::testing::Values(ConversionCase{"Mjpeg", V4L2_PIX_FMT_MJPEG, 64, 48},
                      // 150 bytes per row: two bytes of padding.
                      ConversionCase{"MjpegOddPitch", V4L2_PIX_FMT_MJPEG, 50, 32},
                      ConversionCase{"Yuyv", V4L2_PIX_FMT_YUYV, 64, 48},
                      ConversionCase{"YuyvOddPitch", V4L2_PIX_FMT_YUYV, 50, 32},
                      ConversionCase{"Uyvy", V4L2_PIX_FMT_UYVY, 64, 48},
                      ConversionCase{"Nv12", V4L2_PIX_FMT_NV12, 64, 48},
                      ConversionCase{"Yuv420", V4L2_PIX_FMT_YUV420, 64, 48},
                      ConversionCase{"Yvu420", V4L2_PIX_FMT_YVU420, 50, 32}),
    [](const auto& info) { return std::string(info.param.name); });

// A driver whose lines are longer than the pixels (bytesperline) must be read by its lines.
TEST(FrameConverter, HonoursDriverLineLength) {
    const uint32_t width = 32, height = 16, line = 96;
    std::vector<uint8_t> packed = MakeTestFrame(V4L2_PIX_FMT_YUYV, width, height);
    std::vector<uint8_t> padded(size_t(line) * height, 0);
    for (uint32_t row = 0; row < height; ++row)
        std::copy_n(&packed[row * width * 2], width * 2, &padded[row * line]);
    FrameConverter converter;
    ASSERT_TRUE(converter.Configure(V4L2_PIX_FMT_YUYV, width, height, line));
    std::vector<uint8_t> picture(Rgb24ImageSize(width, height));
    ASSERT_TRUE(converter.Convert(padded.data(), padded.size(), picture.data(), picture.size()));
    ExpectPixel(picture, Rgb24Pitch(width), 0, width - 1, kBottomColour, "bottom");
    ExpectPixel(picture, Rgb24Pitch(width), height - 1, width - 1, kTopColour, "top");
}

// Frames the camera got wrong are refused rather than read past their end or decoded into
// a picture of another size.
TEST(FrameConverter, RefusesShortBrokenOrMisSizedFrames) {
    FrameConverter yuyv;
    ASSERT_TRUE(yuyv.Configure(V4L2_PIX_FMT_YUYV, 64, 48, 0));
    std::vector<uint8_t> picture(Rgb24ImageSize(64, 48));
    std::vector<uint8_t> frame = MakeTestFrame(V4L2_PIX_FMT_YUYV, 64, 48);
    EXPECT_FALSE(yuyv.Convert(frame.data(), frame.size() - 1, picture.data(), picture.size()));
    EXPECT_FALSE(yuyv.Convert(frame.data(), frame.size(), picture.data(), picture.size() - 1));

    FrameConverter mjpeg;
    ASSERT_TRUE(mjpeg.Configure(V4L2_PIX_FMT_MJPEG, 64, 48, 0));
    std::vector<uint8_t> larger = MakeTestFrame(V4L2_PIX_FMT_MJPEG, 128, 96);
    EXPECT_FALSE(mjpeg.Convert(larger.data(), larger.size(), picture.data(), picture.size()));
    std::vector<uint8_t> garbage(4000, 0x5A);
    EXPECT_FALSE(mjpeg.Convert(garbage.data(), garbage.size(), picture.data(), picture.size()));
    EXPECT_FALSE(mjpeg.Convert(garbage.data(), 0, picture.data(), picture.size()));

    FrameConverter h264;
    EXPECT_FALSE(h264.Configure(V4L2_PIX_FMT_H264, 64, 48, 0));
    EXPECT_FALSE(h264.Convert(frame.data(), frame.size(), picture.data(), picture.size()));
}

}  // namespace
}  // namespace v4l2
