// Pictures and movies for the thumbnail tests: four coloured quadrants, so a test can tell
// a picture that is upright, unmirrored and whole from one that is not.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/imaging/Imaging.h"

namespace testing_pictures {

struct Bgr {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
};

// Top left, top right, bottom left, bottom right.
using Quadrants = std::array<Bgr, 4>;
inline constexpr Quadrants kQuadrants{
    {{20, 40, 220}, {40, 200, 40}, {220, 60, 30}, {30, 220, 230}}};
// The same places in other colours, for a later movie frame.
inline constexpr Quadrants kOtherQuadrants{
    {{200, 200, 200}, {10, 10, 10}, {120, 20, 120}, {20, 120, 120}}};

imaging::BgrBitmap QuadrantPicture(int width, int height, const Quadrants& colours = kQuadrants);

// The colour at the centre of each quadrant of `picture`.
Quadrants QuadrantCentres(const imaging::BgrBitmap& picture);

// True when every channel of every quadrant is within `tolerance` of `expected`.
bool QuadrantsNear(const Quadrants& found, const Quadrants& expected, int tolerance);

// An AVI of `frames` (all of one size) as MPEG-4 Part 2 key frames with the tag "XVID", like
// the program's recordings; with no frames, a file with a video stream and nothing in it.
bool WriteTestMovie(const std::string& path, const std::vector<imaging::BgrBitmap>& frames,
                    int width, int height);

}  // namespace testing_pictures
