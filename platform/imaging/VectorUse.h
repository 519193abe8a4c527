// How a picture operation with a vector path moves pixels, so that tests can hold the vector
// path against the plain one on any processor.
#pragma once

namespace imaging {

enum class VectorUse {
    Plain,  // pixel by pixel
    Avx2,   // 256-bit vectors where the processor has them, even if it has wider ones
    Best,   // the widest vector instructions the processor has
};

}  // namespace imaging
