// What the settings dialog uses of the main window while it is open: the device list, the
// previewed device and the sizes it offers, whether a capture is under way, and the
// preview itself (device switches and the wireless camera take effect at once).
#pragma once

#include <string>

#include "Skelvane/capture/DeviceChoice.h"
#include "Skelvane/capture/Resolution.h"

class ISettingDlgOwner {
public:
    virtual ~ISettingDlgOwner() = default;

    virtual const DeviceTable& Devices() const = 0;
    // The previewed device's path, "wifi device", or empty.
    virtual const std::string& DeviceIdentity() const = 0;
    virtual const ResolutionList& Resolutions() const = 0;
    // A photo request, a timed shot or a recording is under way.
    virtual bool CaptureBusy() const = 0;
    // True when the requested device now shows live video.
    virtual bool StartPreview(PreviewRequest request) = 0;
    virtual void ClearPreview() = 0;
    // Stops and releases the running graph.
    virtual void TearDownPreview() = 0;
    // The previewed device's own property pages, modal; without a device a box says so.
    virtual void ShowDeviceProperties() = 0;
};
