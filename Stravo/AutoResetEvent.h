// An event that releases one waiter per Set and then clears itself.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

class AutoResetEvent {
public:
    void Set() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            signalled_ = true;
        }
        changed_.notify_one();
    }

    // Returns true when signalled, false on time-out; either way the event is clear after.
    bool Wait(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> guard(lock_);
        bool signalled = changed_.wait_for(guard, timeout, [this] { return signalled_; });
        signalled_ = false;
        return signalled;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool signalled_ = false;
};
