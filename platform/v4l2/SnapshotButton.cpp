#include "platform/v4l2/SnapshotButton.h"

#include <cerrno>

#include "platform/sys/Sys.h"

namespace v4l2 {

SnapshotButton::SnapshotButton() = default;

SnapshotButton::~SnapshotButton() {
    Stop();
}

bool SnapshotButton::Start(IDeviceSystem& system, const std::string& node,
                           std::function<void()> onPress) {
    Stop();
    if (int error = system.OpenSnapshotButton(node, input_)) {
        // Most cameras have no button; one that cannot be opened is worth a line.
        if (error != ENOENT)
            sys::DebugTraceF("v4l2 %s: the snapshot button cannot be opened: %s", node.c_str(),
                             sys::ErrnoText(error).c_str());
        return false;
    }
    if (!input_) return false;
    running_ = true;
    thread_ = std::thread([this, node, onPress = std::move(onPress)] {
        while (running_) {
            int pressed = input_->WaitPress(kPollMs);
            if (pressed < 0) {  // the camera went away
                sys::DebugTraceF("v4l2 %s: reading the snapshot button failed: %s", node.c_str(),
                                 sys::ErrnoText(-pressed).c_str());
                break;
            }
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
