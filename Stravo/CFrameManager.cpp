#include "Stravo/CFrameManager.h"

#include <algorithm>

CFrameManager::~CFrameManager() {
    Clear();
    delete[] retired_;
}

int32_t CFrameManager::GetCount() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return static_cast<int32_t>(frames_.size());
}

void CFrameManager::PushFrame(int32_t width, int32_t height, uint8_t* data, int32_t size) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (GetCount() > kMaxQueued - 1) {
        DropHead();
    }
    if (data == nullptr) {
        return;
    }
    size = std::max(size, 0);
    while (!frames_.empty() && bytes_ + size > kMaxQueuedBytes) {
        DropHead();
    }
    frames_.push_back(QueuedFrame{width, height, data, size});
    bytes_ += size;
}

void CFrameManager::DropHead() {
    QueuedFrame oldest = frames_.front();
    frames_.pop_front();
    bytes_ -= oldest.size;
    if (oldest.data == lent_) {
        // The consumer may still be copying it: freed at its next take.
        delete[] retired_;
        retired_ = oldest.data;
        lent_ = nullptr;
    } else {
        delete[] oldest.data;
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

bool CFrameManager::TakeLiveFrame(QueuedFrame& out, bool& owned) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (GetCount() > kMostWaitingForLive) {
        while (GetCount() > 1) {
            DropHead();
        }
    }
    return TakeFrame(out, owned);
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
        bytes_ -= out.size;
        owned = true;
    }
    return true;
}

void CFrameManager::Clear() {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    while (!frames_.empty()) {
        DropHead();
    }
}
