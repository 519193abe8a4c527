#include "platform/v4l2/SnapshotButton.h"

namespace v4l2 {

SnapshotButton::SnapshotButton() = default;

SnapshotButton::~SnapshotButton() {
    Stop();
}

bool SnapshotButton::Start(IDeviceSystem& system, const std::string& node,
                           std::function<void()> onPress) {
    Stop();
    if (system.OpenSnapshotButton(node, input_) != 0 || !input_) return false;
    running_ = true;
    thread_ = std::thread([this, onPress = std::move(onPress)] {
        while (running_) {
            int pressed = input_->WaitPress(kPollMs);
            if (pressed < 0) break;  // the camera went away
            if (pressed > 0 && running_ && onPress) onPress();
        }
    });
    return true;
}

void SnapshotButton::Stop() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    input_.reset();
}

}  // namespace v4l2
