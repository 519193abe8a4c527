#include "Skelvane/capture/SaverThread.h"

#include <system_error>

CSaverThread::~CSaverThread() { Stop({}); }

std::atomic<bool>& CSaverThread::RunFlag() {
    static std::atomic<bool> running{true};
    return running;
}

bool CSaverThread::Start(std::function<void()> proc) {
    if (thread_.joinable()) return false;
    RunFlag().store(true, std::memory_order_relaxed);
    try {
        thread_ = std::thread(std::move(proc));
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void CSaverThread::Stop(const std::function<void()>& wake) {
    RunFlag().store(false, std::memory_order_relaxed);
    if (wake) wake();
    if (thread_.joinable()) thread_.join();
}
