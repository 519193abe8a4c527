// The device's property pages: one row per camera control, changed on the device as the
// user moves it. What the user changes is remembered for the camera when the dialog closes;
// "Camera defaults" puts every control back to its default and forgets the camera's values.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "Skelvane/capture/CameraSettings.h"
#include "platform/v4l2/CameraFilter.h"

class CDevicePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    CDevicePropertiesDialog(ICameraControls* controls, QWidget* parent = nullptr);

    // Runs the dialog modally for `device` when `pages` name the camera-controls page.
    // Placed at (500, 600) and captioned "Skelvane".
    static void ShowPages(IBaseFilter* device, const CAUUID& pages, QWidget* parent);

    void done(int result) override;

private:
    void SetControl(uint32_t id, int value);
    void RestoreDefaults();

    CComPtr<ICameraControls> controls_;
    std::string identity_;
    std::vector<v4l2::ControlInfo> list_;
    // Values changed since the dialog opened, remembered when it closes.
    ControlValues changed_;
    // Each editor showing its control's value as the camera holds it, without side effects.
    std::vector<std::function<void()>> showCurrent_;
};
