// The quarter turn with a choice of how it moves pixels.
#pragma once

#include "platform/imaging/Imaging.h"
#include "platform/imaging/VectorUse.h"

namespace imaging {

// RotateFlipCopy, moving pixels as `use` says.
void RotateFlipCopy(const BgrImageView& source, const BgrImageSpan& target,
                    Gdiplus::RotateFlipType type, VectorUse use);

}  // namespace imaging
