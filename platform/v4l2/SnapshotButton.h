// Watches a camera's snapshot button (the KEY_CAMERA input device of the same USB device)
// on a thread of its own and reports each press.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/v4l2/V4l2Device.h"

namespace v4l2 {

class SnapshotButton {
public:
    SnapshotButton();
    ~SnapshotButton();
    SnapshotButton(const SnapshotButton&) = delete;
    SnapshotButton& operator=(const SnapshotButton&) = delete;

    // Finds the button of the node's camera and starts watching it; the callback runs on the
    // watching thread. False when the camera has no button that can be read.
    bool Start(IDeviceSystem& system, const std::string& node, std::function<void()> onPress);
    void Stop();
    bool Running() const { return thread_.joinable(); }

private:
    static constexpr int kPollMs = 100;  // how soon Stop() is noticed

    std::unique_ptr<IButtonInput> input_;
    std::atomic<bool> running_{false};
    std::thread thread_;
};

}  // namespace v4l2
