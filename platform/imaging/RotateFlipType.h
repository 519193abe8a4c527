// The eight turns and mirrors of a picture, with the names and numbers of the GDI+
// RotateFlipType values: a clockwise turn by 0, 90, 180 or 270 degrees, then with FlipX a
// mirror left to right. They act on the picture as seen, top row at the top.
#pragma once

namespace Gdiplus {

enum RotateFlipType : int {
    RotateNoneFlipNone = 0,
    Rotate90FlipNone = 1,
    Rotate180FlipNone = 2,
    Rotate270FlipNone = 3,
    RotateNoneFlipX = 4,
    Rotate90FlipX = 5,
    Rotate180FlipX = 6,
    Rotate270FlipX = 7,
};

}  // namespace Gdiplus
