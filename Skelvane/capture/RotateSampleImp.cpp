#include "Skelvane/capture/RotateSampleImp.h"

void RotateSampleImp::AddOperation(int32_t code) {
    std::lock_guard<std::mutex> guard(lock_);
    operations_.push_back(code);
}

void RotateSampleImp::ClearOperations() {
    std::lock_guard<std::mutex> guard(lock_);
    operations_.clear();
}

int32_t RotateSampleImp::OperationCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return static_cast<int32_t>(operations_.size());
}
