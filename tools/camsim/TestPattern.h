// Layout of the simulator's test picture, shared with the code that checks it: four
// quadrants of distinct colours show which way is up, and a strip of 32 black or white
// cells across the middle carries the frame counter in binary, most significant bit left.
#pragma once

#include <cstdint>

namespace camsim {

struct Rgb {
    uint8_t red;
    uint8_t green;
    uint8_t blue;
};

inline constexpr Rgb kTopLeftColour{255, 0, 0};        // red
inline constexpr Rgb kTopRightColour{0, 255, 0};       // green
inline constexpr Rgb kBottomLeftColour{0, 0, 255};     // blue
inline constexpr Rgb kBottomRightColour{255, 255, 0};  // yellow

inline constexpr int kCounterBits = 32;

struct CounterStrip {
    int top;     // first row, counted from the top
    int height;  // rows
    int cellWidth;
};

inline CounterStrip CounterStripOf(int width, int height) {
    int stripHeight = height >= 64 ? 16 : 8;
    return CounterStrip{height / 2 - stripHeight / 2, stripHeight, width / kCounterBits};
}

// Reads the counter back from a 24-bit BGR picture. `bottomUp` tells whether the first row
// in memory is the picture's bottom row.
inline uint32_t ReadFrameCounter(const uint8_t* bgr, int width, int height, int stride,
                                 bool bottomUp) {
    CounterStrip strip = CounterStripOf(width, height);
    int row = strip.top + strip.height / 2;
    int memoryRow = bottomUp ? height - 1 - row : row;
    uint32_t counter = 0;
    for (int bit = 0; bit < kCounterBits; ++bit) {
        int x = bit * strip.cellWidth + strip.cellWidth / 2;
        const uint8_t* pixel = bgr + static_cast<long>(memoryRow) * stride + x * 3;
        int brightness = (pixel[0] + pixel[1] + pixel[2]) / 3;
        counter = (counter << 1) | (brightness > 127 ? 1u : 0u);
    }
    return counter;
}

}  // namespace camsim
