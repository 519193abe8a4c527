#include "platform/v4l2/DeviceMonitor.h"

#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sys/Sys.h"

namespace v4l2 {
namespace {

// Traces a failed set-up step with the errno it left; always false.
bool Failed(const char* step) {
    sys::DebugTraceF("v4l2 device monitor: %s failed: %s", step, sys::ErrnoText(errno).c_str());
    return false;
}

}  // namespace

DeviceMonitor::DeviceMonitor() = default;

DeviceMonitor::~DeviceMonitor() {
    Stop();
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
    if (wakeFd_ >= 0) close(wakeFd_);
}

bool DeviceMonitor::Open() {
    if (monitor_) return true;
    if (!udev_) udev_ = udev_new();
    if (!udev_) return Failed("udev_new");
    udev_monitor* monitor = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor) return Failed("udev_monitor_new_from_netlink");
    if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "video4linux", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        return Failed("udev monitor on video4linux");
    }
    monitor_ = monitor;
    return true;
}

int DeviceMonitor::Fd() const {
    return monitor_ ? udev_monitor_get_fd(monitor_) : -1;
}

void DeviceMonitor::Dispatch(const Callback& callback) {
    if (!monitor_) return;
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        const char* action = udev_device_get_action(device);
        const char* node = udev_device_get_devnode(device);
        if (action && callback) {
            if (std::strcmp(action, "add") == 0)
                callback(Action::Added, node ? node : "");
            else if (std::strcmp(action, "remove") == 0)
                callback(Action::Removed, node ? node : "");
        }
        udev_device_unref(device);
    }
}

bool DeviceMonitor::Start(Callback callback) {
    if (running_) return true;
    if (!Open()) return false;
    if (wakeFd_ < 0) wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) return Failed("eventfd");
    running_ = true;
    thread_ = std::thread(&DeviceMonitor::Run, this, std::move(callback));
    return true;
}

void DeviceMonitor::Stop() {
    if (!running_.exchange(false)) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof(one));
    thread_.join();
    uint64_t drained;
    [[maybe_unused]] ssize_t got = read(wakeFd_, &drained, sizeof(drained));
}

void DeviceMonitor::Run(Callback callback) {
    pollfd waits[2] = {{Fd(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (running_) {
        if (poll(waits, 2, -1) < 0) continue;  // EINTR
        if (waits[1].revents) break;
        if (waits[0].revents & POLLIN) Dispatch(callback);
    }
}

}  // namespace v4l2
