#include "Stravo/CFrameManager.h"

CFrameManager::~CFrameManager() {
    Clear();
}

int32_t CFrameManager::GetCount() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return static_cast<int32_t>(frames_.size());
}

void CFrameManager::PushFrame(int32_t width, int32_t height, uint8_t* data, int32_t size) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (GetCount() > kMaxQueued - 1) {
        QueuedFrame oldest;
        bool owned = false;
        if (TakeHead(oldest, owned) && owned) {
            if (oldest.data == lent_) {
                delete[] retired_;
                retired_ = oldest.data;
                lent_ = nullptr;
            } else {
                delete[] oldest.data;
            }
        }
    }
    if (data != nullptr) {
        frames_.push_back(QueuedFrame{width, height, data, size});
    }
}

bool CFrameManager::TakeFrame(QueuedFrame& out, bool& owned) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    // A new take means the consumer finished with whatever it was lent before.
    delete[] retired_;
    retired_ = nullptr;
    lent_ = nullptr;
    if (!TakeHead(out, owned)) {
        return false;
    }
    if (!owned) {
        lent_ = out.data;
    }
    return true;
}

bool CFrameManager::TakeHead(QueuedFrame& out, bool& owned) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (frames_.empty()) {
        return false;
    }
    out = frames_.front();
    if (frames_.size() == 1) {
        owned = false;
    } else {
        frames_.pop_front();
        owned = true;
    }
    return true;
}

void CFrameManager::Clear() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    for (QueuedFrame& frame : frames_) {
        delete[] frame.data;
    }
    frames_.clear();
    delete[] retired_;
    retired_ = nullptr;
    lent_ = nullptr;
}
