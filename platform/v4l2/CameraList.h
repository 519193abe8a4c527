// The capture cameras of the machine as the device enumerator lists them.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/v4l2/V4l2Device.h"

namespace v4l2 {

struct CameraInfo {
    std::string node;          // "/dev/videoN", valid until the next plug event
    std::string friendlyName;  // the driver's card name
    std::string devicePath;    // stable: built from the bus path, never from the node name
    std::string busInfo;
};

// "usb#vid_xxxx&pid_yyyy&mi_nn#BUSINFO" (lower-case hex) for USB devices, else "v4l2#BUSINFO".
std::string MakeDevicePath(const std::string& busInfo, const std::optional<UsbIdentity>& usb);

// The camera's identity for remembering its settings: stable across replug, reboot and a
// change of /dev/videoN. The device path, followed by "#sn_SERIAL" when the USB device has
// a serial number, so two cameras of one model keep their own settings. Characters that
// cannot stand in a settings key name become '_'.
std::string MakeCameraIdentity(const std::string& busInfo, const std::optional<UsbIdentity>& usb);
// The identity of an opened node; empty when the node does not answer QUERYCAP.
std::string CameraIdentityOf(IDeviceSystem& system, const std::string& node, IDeviceNode& opened);

// Video-capture nodes that stream through memory mapping and offer at least one frame size
// this layer can convert; metadata and output nodes are left out. Sorted by bus path, then
// by node, so the order does not depend on the order the kernel numbered the nodes in.
std::vector<CameraInfo> EnumerateCameras(IDeviceSystem& system);

// The node's capabilities as a capture camera: the device caps when the driver reports them.
uint32_t NodeCapabilities(const v4l2_capability& cap);

}  // namespace v4l2
