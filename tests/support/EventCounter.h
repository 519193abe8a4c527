// Counts events signalled from any thread (a callback, a repaint request) and lets a test
// or a benchmark wait until a number of them have come.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace support {

class EventCounter {
public:
    void Signal() {
        std::lock_guard<std::mutex> guard(lock_);
        ++count_;
        changed_.notify_all();
    }
    // A callback that signals this counter; the counter must outlive its callers.
    std::function<void()> Callback() {
        return [this] { Signal(); };
    }
    long Count() const {
        std::lock_guard<std::mutex> guard(lock_);
        return count_;
    }
    // True once at least `count` events have come; false when `patience` ran out first.
    bool WaitFor(long count, std::chrono::milliseconds patience = std::chrono::hours(1)) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, patience, [&] { return count_ >= count; });
    }

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    long count_ = 0;
};

}  // namespace support
