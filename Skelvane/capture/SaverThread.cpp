#include "Skelvane/capture/SaverThread.h"

#include <system_error>

CSaverThread::~CSaverThread() { Stop({}); }

bool CSaverThread::Start(std::function<void()> proc) {
    if (thread_.joinable()) return false;
    running_.store(true, std::memory_order_relaxed);
    try {
        thread_ = std::thread(std::move(proc));
    } catch (const std::system_error&) {
        running_.store(false, std::memory_order_relaxed);
        return false;
    }
    return true;
}

void CSaverThread::Stop(const std::function<void()>& wake) {
    running_.store(false, std::memory_order_relaxed);
    if (wake) wake();
    if (thread_.joinable()) thread_.join();
}
