#include "tools/camsim/TestPicture.h"

#include <jpeglib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tools/camsim/TestPattern.h"

namespace camsim {

namespace {

constexpr int kJpegQuality = 85;

// 3 x 5 digit shapes, one row per 3 bits, top row first.
constexpr uint16_t kDigitShapes[10] = {
    0b111101101101111, 0b010110010010111, 0b111001111100111, 0b111001111001111, 0b101101111001001,
    0b111100111001111, 0b111100111101111, 0b111001001001001, 0b111101111101111, 0b111101111001111,
};

}  // namespace

std::string EncodePlain(int width, int height) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(width);
    info.image_height = static_cast<JDIMENSION>(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kJpegQuality, TRUE);
    info.dct_method = JDCT_IFAST;
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(static_cast<size_t>(width) * 3, 128);
    JSAMPROW rows[1] = {row.data()};
    while (info.next_scanline < info.image_height) {
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    std::string jpeg(reinterpret_cast<const char*>(buffer), size);
    jpeg_destroy_compress(&info);
    free(buffer);
    return jpeg;
}

TestPicture::TestPicture(int width, int height, Pattern pattern)
    : width_(width),
      height_(height),
      background_(static_cast<size_t>(width) * height * 3),
      encoder_(tjInitCompress()) {
    uint32_t noise = 0x12345678u;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool top = y < height / 2;
            bool left = x < width / 2;
            Rgb colour = top ? (left ? kTopLeftColour : kTopRightColour)
                             : (left ? kBottomLeftColour : kBottomRightColour);
            uint8_t* pixel = &background_[(static_cast<size_t>(y) * width + x) * 3];
            pixel[0] = colour.red;
            pixel[1] = colour.green;
            pixel[2] = colour.blue;
            if (pattern == Pattern::kDetail) {
                // A fixed pseudo-random texture of +-40 around the quadrant colour.
                noise = noise * 1664525u + 1013904223u;
                int offset = static_cast<int>((noise >> 24) % 81) - 40;
                for (int c = 0; c < 3; ++c) {
                    pixel[c] = static_cast<uint8_t>(std::clamp(pixel[c] + offset, 0, 255));
                }
            }
        }
    }
    picture_ = background_;
}

TestPicture::~TestPicture() {
    if (encoder_ != nullptr) {
        tjDestroy(encoder_);
    }
}

void TestPicture::Fill(int left, int top, int width, int height, uint8_t value) {
    int right = std::min(left + width, width_);
    int bottom = std::min(top + height, height_);
    for (int y = std::max(top, 0); y < bottom; ++y) {
        uint8_t* row = &picture_[static_cast<size_t>(y) * width_ * 3];
        for (int x = std::max(left, 0); x < right; ++x) {
            memset(row + x * 3, value, 3);
        }
    }
}

void TestPicture::DrawCounter(uint32_t counter) {
    CounterStrip strip = CounterStripOf(width_, height_);
    for (int bit = 0; bit < kCounterBits; ++bit) {
        bool set = (counter >> (kCounterBits - 1 - bit)) & 1u;
        Fill(bit * strip.cellWidth, strip.top, strip.cellWidth, strip.height, set ? 255 : 0);
    }
    // The same number in digits below the strip, for people watching.
    std::string digits = std::to_string(counter);
    int scale = std::max(strip.height / 4, 1);
    int digitWidth = 4 * scale;
    int boxWidth = static_cast<int>(digits.size()) * digitWidth + scale;
    int boxLeft = (width_ - boxWidth) / 2;
    int boxTop = strip.top + strip.height;
    Fill(boxLeft, boxTop, boxWidth, 7 * scale, 0);
    for (size_t i = 0; i < digits.size(); ++i) {
        uint16_t shape = kDigitShapes[digits[i] - '0'];
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if ((shape >> (14 - row * 3 - column)) & 1u) {
                    Fill(boxLeft + scale + static_cast<int>(i) * digitWidth + column * scale,
                         boxTop + scale + row * scale, scale, scale, 255);
                }
            }
        }
    }
}

std::string TestPicture::Encode(uint32_t counter) {
    if (encoder_ == nullptr) {
        return {};
    }
    CounterStrip strip = CounterStripOf(width_, height_);
    // Only the strip and the digits below it change from picture to picture.
    size_t rowBytes = static_cast<size_t>(width_) * 3;
    int firstRow = strip.top;
    int lastRow = std::min(strip.top + strip.height + 7 * std::max(strip.height / 4, 1), height_);
    memcpy(&picture_[firstRow * rowBytes], &background_[firstRow * rowBytes],
           (lastRow - firstRow) * rowBytes);
    DrawCounter(counter);

    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (tjCompress2(encoder_, picture_.data(), width_, 0, height_, TJPF_RGB, &jpeg, &jpegSize,
                    TJSAMP_420, kJpegQuality, TJFLAG_FASTDCT) != 0) {
        tjFree(jpeg);
        return {};
    }
    std::string result(reinterpret_cast<const char*>(jpeg), jpegSize);
    tjFree(jpeg);
    return result;
}

}  // namespace camsim
