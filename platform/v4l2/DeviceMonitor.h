// Arrival and removal of video4linux devices, from udev. The callback runs on the monitor's
// own thread; handing the notice to the window thread is the program's business.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

struct udev;
struct udev_monitor;

namespace v4l2 {

class DeviceMonitor {
public:
    enum class Action { Added, Removed };
    // node: "/dev/videoN" (may be empty for a device without a node).
    using Callback = std::function<void(Action action, const std::string& node)>;

    DeviceMonitor();
    ~DeviceMonitor();
    DeviceMonitor(const DeviceMonitor&) = delete;
    DeviceMonitor& operator=(const DeviceMonitor&) = delete;

    // Subscribes to the kernel's video4linux events. False when udev is unavailable.
    bool Open();
    // The descriptor that becomes readable when events wait (for a caller's own poll loop).
    int Fd() const;
    // Reads every waiting event and reports the adds and removes; never blocks.
    void Dispatch(const Callback& callback);

    // Alternatively: a thread of its own that dispatches until Stop(). Opens when needed.
    bool Start(Callback callback);
    void Stop();

private:
    void Run(Callback callback);

    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    int wakeFd_ = -1;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace v4l2
