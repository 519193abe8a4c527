// Timed shots: the schedule that picks frames of the preview stream, the queue that hands
// copies of them to the saving thread, and the saving thread's routine.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/FrameBuffer.h"

// Shot period for a rate given in shots per day (integer division of one day).
int32_t TimedShotPeriodMs(int64_t shotsPerDay);
// Run length in hours, stored as a 32-bit float like the window keeps it.
float TimedShotHoursOf(int64_t durationMinutes);

// Where the preview stream stands in the running timed-shot run. Written by the run start
// (user-interface thread) before the run flag is set, then only by the streaming thread.
struct TimedShotClock {
    std::atomic<int64_t> lastShotTime{0};  // ms; 0 = no shot yet
    std::atomic<int64_t> timedShotStart{0};
    std::atomic<int32_t> shotsTaken{0};
};

// Starts a run's clock: the start is now, no shot yet.
void StartTimedShotClock(TimedShotClock& clock);

// One preview frame while a run is active: queues a copy of the frame when it is due
// (a period has passed since the last shot, the run is behind its schedule, or it is the
// run's first frame) and posts UM_TIMED_SHOT_END once the run's length has passed (again on
// every frame until the window ends the run). All arithmetic is 64-bit. True when queued.
bool TimedShotStep(TimedShotClock& clock, ICaptureOwner& owner, const FrameBuffer& frame);

// A private copy of one frame waiting to be written. The frame size travels with the bytes,
// so a graph rebuilt with another size cannot make the saver misread them.
struct TimedShotEntry {
    std::unique_ptr<uint8_t[]> bytes;
    int32_t length = 0;
    int32_t width = 0;
    int32_t height = 0;
};

// First in, first out; the lock is held for list operations only.
class CTimedShotQueue {
public:
    void Push(TimedShotEntry entry);
    std::optional<TimedShotEntry> Pop();
    size_t Size() const;
    void Clear();
    // Returns once an entry waits or `runFlag` is false.
    void WaitForWork(const std::atomic<bool>& runFlag);
    // Makes WaitForWork look at the run flag again.
    void Wake();

private:
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<TimedShotEntry> entries_;
};

// The process-wide queue between the preview stream and the saving thread.
CTimedShotQueue& TimedShotQueue();
void ClearTimedShotQueue();

// The saving thread's routine: writes every queued frame as the next timed shot and hands
// it to owner.RevealFile. When a name cannot be made or a file not written it posts
// UM_TIMED_SHOT_END and throws the queued frames away. Runs while `running` is set and
// returns 0. The window starts it with
//     saverThread.Start([this] { TimedShotSaverProc(*this, saverThread.RunFlag()); });
// and ends it with saverThread.Stop(WakeTimedShotSaver).
int TimedShotSaverProc(ICaptureOwner& owner, const std::atomic<bool>& running);
// Wakes the saving thread so it sees a cleared run flag.
void WakeTimedShotSaver();
