// What the frame callbacks and the timed-shot saving thread need of the main window.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

class ICaptureOwner {
public:
    virtual ~ICaptureOwner() = default;

    // Activity flags (1 = set), written by the window's commands and read without a lock
    // by the streaming threads; takePhoto is also cleared by the preview callback.
    virtual std::atomic<int32_t>& TakePhoto() = 0;
    virtual std::atomic<int32_t>& TimedShotRunning() = 0;
    virtual std::atomic<int32_t>& Recording() = 0;

    // The running timed-shot run's period and length, fixed before TimedShotRunning is set.
    virtual int32_t ShotPeriodMs() const = 0;
    virtual float TimedShotHours() const = 0;

    // Posts one of the WindowEvents.h events to the window; any thread, never blocks.
    virtual void PostEvent(int eventNumber) = 0;

    // Announces a stored file to the media browser when its folder-tree pane exists.
    // Called on the thread that stored the file.
    virtual void RevealFile(const std::string& path) = 0;
};
