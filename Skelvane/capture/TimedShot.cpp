#include "Skelvane/capture/TimedShot.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <thread>

#include "Skelvane/capture/SaverThread.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/StillPicture.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/Sys.h"

namespace {

constexpr int64_t kMsPerDay = 86400000;
constexpr double kMsPerHour = 3600.0 * 1000.0;
constexpr auto kPauseAfterFile = std::chrono::milliseconds(1);
constexpr auto kPauseBeforeDiscard = std::chrono::milliseconds(10);

}  // namespace

int32_t TimedShotPeriodMs(int64_t shotsPerDay) {
    return shotsPerDay > 0 ? static_cast<int32_t>(kMsPerDay / shotsPerDay) : 0;
}

float TimedShotHoursOf(int64_t durationMinutes) {
    return static_cast<float>(static_cast<double>(durationMinutes) / 60.0);
}

void StartTimedShotClock(TimedShotClock& clock) {
    clock.timedShotStart.store(sys::CurrentTimeMs(), std::memory_order_relaxed);
    clock.lastShotTime.store(0, std::memory_order_relaxed);
    clock.shotsTaken.store(0, std::memory_order_relaxed);
}

bool TimedShotStep(TimedShotClock& clock, ICaptureOwner& owner, const FrameBuffer& frame) {
    const int64_t now = sys::CurrentTimeMs();
    const int64_t period = owner.ShotPeriodMs();
    const int64_t start = clock.timedShotStart.load(std::memory_order_relaxed);
    const int64_t lastShot = clock.lastShotTime.load(std::memory_order_relaxed);
    const int64_t taken = clock.shotsTaken.load(std::memory_order_relaxed);

    const bool due = now - lastShot >= period || now - start > taken * period || lastShot == 0;
    bool queued = false;
    if (due && frame.data != nullptr && frame.length > 0) {
        // A frame that cannot be copied is skipped; the schedule catches up on the next one.
        TimedShotEntry entry{std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[frame.length]),
                             frame.length, frame.width, frame.height};
        if (entry.bytes) {
            std::memcpy(entry.bytes.get(), frame.data, static_cast<size_t>(frame.length));
            TimedShotQueue().Push(std::move(entry));
            clock.shotsTaken.store(static_cast<int32_t>(taken + 1), std::memory_order_relaxed);
            clock.lastShotTime.store(now, std::memory_order_relaxed);
            queued = true;
        }
    }
    if (static_cast<double>(now - start) > static_cast<double>(owner.TimedShotHours()) * kMsPerHour)
        owner.PostEvent(UM_TIMED_SHOT_END);
    return queued;
}

void CTimedShotQueue::Push(TimedShotEntry entry) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        entries_.push_back(std::move(entry));
    }
    changed_.notify_all();
}

std::optional<TimedShotEntry> CTimedShotQueue::Pop() {
    std::lock_guard<std::mutex> guard(lock_);
    if (entries_.empty()) return std::nullopt;
    TimedShotEntry entry = std::move(entries_.front());
    entries_.pop_front();
    return entry;
}

size_t CTimedShotQueue::Size() const {
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

void CTimedShotQueue::Clear() {
    std::deque<TimedShotEntry> dropped;
    {
        std::lock_guard<std::mutex> guard(lock_);
        dropped.swap(entries_);
    }
}

void CTimedShotQueue::WaitForWork(const std::atomic<bool>& runFlag) {
    std::unique_lock<std::mutex> guard(lock_);
    changed_.wait(guard,
                  [&] { return !entries_.empty() || !runFlag.load(std::memory_order_relaxed); });
}

void CTimedShotQueue::Wake() {
    // Taking the lock orders this wake after a waiter's look at the flag, so it is not lost.
    { std::lock_guard<std::mutex> guard(lock_); }
    changed_.notify_all();
}

CTimedShotQueue& TimedShotQueue() {
    static CTimedShotQueue queue;
    return queue;
}

void ClearTimedShotQueue() {
    TimedShotQueue().Clear();
}

void WakeTimedShotSaver() {
    TimedShotQueue().Wake();
}

int TimedShotSaverProc(ICaptureOwner& owner, const std::atomic<bool>& running) {
    CTimedShotQueue& queue = TimedShotQueue();
    while (running.load(std::memory_order_relaxed)) {
        while (std::optional<TimedShotEntry> entry = queue.Pop()) {
            const std::string folder =
                CSettingParamManage::Instance()->GetCurrent().GetTimedShotsFolder();
            std::string path;
            bool saved = false;
            if (CSavingLoactionManage::Instance()->NextTimedShotFile(folder, path)) {
                const FrameBuffer frame{entry->bytes.get(), entry->length, entry->width,
                                        entry->height};
                saved = SaveFrameAsJpeg(frame, path);
                if (saved) owner.RevealFile(path);
            }
            if (!saved) {
                owner.PostEvent(UM_TIMED_SHOT_END);
                std::this_thread::sleep_for(kPauseBeforeDiscard);
                ClearTimedShotQueue();
            }
            std::this_thread::sleep_for(kPauseAfterFile);
        }
        queue.WaitForWork(running);
    }
    return 0;
}
