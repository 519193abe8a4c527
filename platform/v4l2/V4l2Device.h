// The one door through which the camera layer reaches the kernel. Every V4L2 request,
// every buffer mapping, the sysfs look-ups and the snapshot-button input go through these
// two interfaces, so enumeration, negotiation and conversion can run against recorded
// device answers as well as against real nodes.
#pragma once

#include <linux/videodev2.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace v4l2 {

// An ioctl on an open descriptor, repeated when a signal interrupts it: 0 or the errno
// value. The kernel nodes below use it, and so do tools that talk to a device directly.
int Ioctl(int fd, unsigned long request, void* argument);

// One opened video node. Every call returns 0 or the errno value of the failed request.
class IDeviceNode {
public:
    virtual ~IDeviceNode() = default;

    virtual int QueryCap(v4l2_capability& cap) = 0;
    virtual int EnumFormat(v4l2_fmtdesc& desc) = 0;
    virtual int EnumFrameSizes(v4l2_frmsizeenum& size) = 0;
    virtual int EnumFrameIntervals(v4l2_frmivalenum& interval) = 0;
    virtual int GetFormat(v4l2_format& format) = 0;
    virtual int SetFormat(v4l2_format& format) = 0;
    virtual int SetStreamParm(v4l2_streamparm& parm) = 0;

    // Memory-mapped streaming. MapBuffer maps the buffer that QueryBuffer described; the
    // node keeps the mapping until UnmapBuffers or its destruction.
    virtual int RequestBuffers(v4l2_requestbuffers& request) = 0;
    virtual int QueryBuffer(v4l2_buffer& buffer) = 0;
    virtual int MapBuffer(const v4l2_buffer& buffer, std::span<uint8_t>& mapped) = 0;
    virtual void UnmapBuffers() = 0;
    virtual int QueueBuffer(v4l2_buffer& buffer) = 0;
    virtual int DequeueBuffer(v4l2_buffer& buffer) = 0;
    virtual int StreamOn() = 0;
    virtual int StreamOff() = 0;
    // Waits until a filled buffer can be dequeued: 0 ready, ETIMEDOUT, or the errno.
    virtual int WaitFrame(int timeoutMs) = 0;

    virtual int QueryControl(v4l2_queryctrl& control) = 0;
    virtual int QueryMenu(v4l2_querymenu& item) = 0;
    virtual int GetControl(v4l2_control& control) = 0;
    virtual int SetControl(v4l2_control& control) = 0;
};

// Key presses of a camera's snapshot button.
class IButtonInput {
public:
    virtual ~IButtonInput() = default;
    // Waits for the next press: 1 pressed, 0 nothing within the time, negative errno.
    virtual int WaitPress(int timeoutMs) = 0;
};

// The USB identity of a node's device, from sysfs.
struct UsbIdentity {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint8_t interfaceNumber = 0;
    std::string serial;  // empty when the device reports none
};

// The machine's video nodes.
class IDeviceSystem {
public:
    virtual ~IDeviceSystem() = default;

    // Video nodes ("/dev/video0" ...) in a stable order.
    virtual std::vector<std::string> ListVideoNodes() = 0;
    // Opens a node for streaming; 0 or errno.
    virtual int Open(const std::string& node, std::unique_ptr<IDeviceNode>& opened) = 0;
    // USB vendor, product, interface and serial number of the node's device; nothing for
    // other buses.
    virtual std::optional<UsbIdentity> UsbIdentityOf(const std::string& node) = 0;
    // Opens the input device of the same USB device that reports KEY_CAMERA; ENOENT when
    // the camera has no snapshot button.
    virtual int OpenSnapshotButton(const std::string& node,
                                   std::unique_ptr<IButtonInput>& opened) = 0;
};

// The kernel itself.
IDeviceSystem& KernelDeviceSystem();

// The system the camera layer uses; the kernel unless a test installed another.
IDeviceSystem& CurrentDeviceSystem();
// Installs the system used from now on (nullptr = the kernel); returns the previous one.
IDeviceSystem* SetDeviceSystem(IDeviceSystem* system);

}  // namespace v4l2
