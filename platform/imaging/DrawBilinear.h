// The live pane's bilinear drawing with a choice of how it moves pixels.
#pragma once

#include "platform/imaging/Imaging.h"
#include "platform/imaging/VectorUse.h"

namespace imaging {

// DrawBilinearRgb32, mixing pixels as `use` says (its widest path is 256 bits).
void DrawBilinearRgb32(const BgrImageView& source, uint8_t* target, int width, int height,
                       int targetStride, VectorUse use);

}  // namespace imaging
