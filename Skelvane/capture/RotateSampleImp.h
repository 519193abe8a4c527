// The turns and mirrors chosen in the flip menu: a growing list of operation codes that
// every frame of the preview and still streams goes through, emptied at each preview start.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "Skelvane/capture/FrameBuffer.h"
#include "common/Singleton.h"

// Operation codes as the flip menu appends them.
enum RotateOperation : int32_t {
    kRotate90Cw = 1,
    kRotate90Ccw = 2,
    kRotate180 = 3,
    kFlipVertical = 4,
    kFlipHorizontal = 5,
};

class RotateSampleImp : public Tolm::Singleton<RotateSampleImp> {
    friend class Tolm::Singleton<RotateSampleImp>;

public:
    void AddOperation(int32_t code);
    void ClearOperations();
    int32_t OperationCount() const;
    // Turns and mirrors the picture of `frame` in place by the whole list, in order, as one
    // turn and mirror. The frame keeps its size: a quarter turn of a frame that is not
    // square is squeezed into a black frame, centred. False when the frame stays as
    // delivered: its bytes do not cover every row, or memory or the scaler failed.
    bool TransformFrame(const FrameBuffer& frame);

private:
    RotateSampleImp() = default;

    // Changed on the UI thread, read by the streaming threads.
    mutable std::mutex lock_;
    std::vector<int32_t> operations_;
};
