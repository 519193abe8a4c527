// The timed-shot saving thread: started when the main window is built, stopped through
// its own run flag and joined without a time limit when the window goes. Each saver has
// its own flag, so stopping one never stops another.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

class CSaverThread {
public:
    CSaverThread() = default;
    ~CSaverThread();
    CSaverThread(const CSaverThread&) = delete;
    CSaverThread& operator=(const CSaverThread&) = delete;

    // Sets the run flag and starts `proc` on a new thread. False when no thread can be made.
    bool Start(std::function<void()> proc);
    // Clears the run flag, wakes the thread through `wake` and waits for it to end.
    void Stop(const std::function<void()>& wake);
    bool IsRunning() const { return thread_.joinable(); }

    // The run flag the saving procedure polls; set while the thread should run.
    const std::atomic<bool>& RunFlag() const { return running_; }

private:
    std::atomic<bool> running_{false};
    std::thread thread_;
};
