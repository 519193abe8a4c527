// The quarter turn with a choice of how it moves pixels, so that tests can hold the vector
// path against the plain one on any processor.
#pragma once

#include "platform/imaging/Imaging.h"

namespace imaging {

enum class VectorUse {
    Plain,  // pixel by pixel
    Avx2,   // 256-bit vectors where the processor has them, even if it has wider ones
    Best,   // the widest vector instructions the processor has
};

// RotateFlipCopy, moving pixels as `use` says.
void RotateFlipCopy(const BgrImageView& source, const BgrImageSpan& target,
                    Gdiplus::RotateFlipType type, VectorUse use);

}  // namespace imaging
