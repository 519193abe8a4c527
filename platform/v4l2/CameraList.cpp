#include "platform/v4l2/CameraList.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/sys/Sys.h"
#include "platform/v4l2/CameraModes.h"
#include "platform/v4l2/LoopbackCamera.h"

namespace v4l2 {
namespace {

std::string FixedText(const uint8_t* text, size_t size) {
    const char* chars = reinterpret_cast<const char*>(text);
    return std::string(chars, strnlen(chars, size));
}

}  // namespace

uint32_t NodeCapabilities(const v4l2_capability& cap) {
    return (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
}

std::string MakeDevicePath(const std::string& busInfo, const std::optional<UsbIdentity>& usb) {
    if (!usb) return "v4l2#" + busInfo;
    char prefix[40];
    std::snprintf(prefix, sizeof(prefix), "usb#vid_%04x&pid_%04x&mi_%02x#", usb->vendorId,
                  usb->productId, usb->interfaceNumber);
    return prefix + busInfo;
}

std::string MakeCameraIdentity(const std::string& busInfo, const std::optional<UsbIdentity>& usb) {
    std::string identity = MakeDevicePath(busInfo, usb);
    if (usb && !usb->serial.empty()) identity += "#sn_" + usb->serial;
    // A backslash would split the key; control characters would break the file's lines.
    for (char& c : identity)
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '_';
    return identity;
}

std::string CameraIdentityOf(IDeviceSystem& system, const std::string& node, IDeviceNode& opened) {
    v4l2_capability cap{};
    if (int error = opened.QueryCap(cap)) {
        sys::DebugTraceF("v4l2 %s: VIDIOC_QUERYCAP failed: %s", node.c_str(),
                         sys::ErrnoText(error).c_str());
        return {};
    }
    std::string busInfo = FixedText(cap.bus_info, sizeof(cap.bus_info));
    return MakeCameraIdentity(busInfo.empty() ? node : busInfo, system.UsbIdentityOf(node));
}

std::vector<CameraInfo> EnumerateCameras(IDeviceSystem& system) {
    std::vector<CameraInfo> cameras;
    for (const auto& node : system.ListVideoNodes()) {
        std::unique_ptr<IDeviceNode> device;
        if (int error = system.Open(node, device)) {
            sys::DebugTraceF("v4l2 %s: open failed: %s", node.c_str(),
                             sys::ErrnoText(error).c_str());
            continue;
        }
        v4l2_capability cap{};
        if (int error = device->QueryCap(cap)) {
            sys::DebugTraceF("v4l2 %s: VIDIOC_QUERYCAP failed: %s", node.c_str(),
                             sys::ErrnoText(error).c_str());
            continue;
        }
        // Metadata and output nodes are not cameras: left out without a word.
        uint32_t caps = NodeCapabilities(cap);
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) continue;
        if (IsWirelessCameraLoopback(cap)) {
            sys::DebugTraceF("v4l2 %s: the wireless camera's loopback device, left out",
                             node.c_str());
            continue;
        }
        if (ListCameraModes(*device).empty()) {
            sys::DebugTraceF("v4l2 %s: no frame size in a pixel format that can be converted",
                             node.c_str());
            continue;
        }
        CameraInfo camera;
        camera.node = node;
        camera.friendlyName = FixedText(cap.card, sizeof(cap.card));
        camera.busInfo = FixedText(cap.bus_info, sizeof(cap.bus_info));
        if (camera.busInfo.empty()) camera.busInfo = node;
        cameras.push_back(std::move(camera));
    }
    std::stable_sort(cameras.begin(), cameras.end(), [](const CameraInfo& a, const CameraInfo& b) {
        return a.busInfo < b.busInfo;
    });
    std::vector<std::string> basePaths;
    for (auto& camera : cameras) {
        std::string path = MakeDevicePath(camera.busInfo, system.UsbIdentityOf(camera.node));
        // Two nodes on one bus path (a driver that reports no interface) stay apart.
        auto copies = std::count(basePaths.begin(), basePaths.end(), path);
        basePaths.push_back(path);
        camera.devicePath = copies ? path + "#" + std::to_string(copies + 1) : path;
    }
    return cameras;
}

}  // namespace v4l2
