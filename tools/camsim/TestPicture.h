// Draws the simulator's test pictures and encodes them as JPEG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <turbojpeg.h>

namespace camsim {

enum class Pattern {
    kQuadrants,  // flat quadrant colours
    kDetail,     // quadrant colours with fine texture, closer to a real scene's JPEG size
};

// A plain grey picture of any size a JPEG can state, encoded row by row so that even a huge
// one takes little memory to make; empty when encoding failed.
std::string EncodePlain(int width, int height);

class TestPicture {
public:
    TestPicture(int width, int height, Pattern pattern);
    ~TestPicture();
    TestPicture(const TestPicture&) = delete;
    TestPicture& operator=(const TestPicture&) = delete;

    // The JPEG of the picture showing `counter`; empty when encoding failed.
    std::string Encode(uint32_t counter);

private:
    void DrawCounter(uint32_t counter);
    void Fill(int left, int top, int width, int height, uint8_t value);

    int width_;
    int height_;
    std::vector<uint8_t> background_;  // RGB, top row first
    std::vector<uint8_t> picture_;
    tjhandle encoder_;
};

}  // namespace camsim
