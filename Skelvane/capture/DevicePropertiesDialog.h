// The device's property pages: one row per camera control, changed on the device as the
// user moves it.
#pragma once

#include <QDialog>

#include "platform/v4l2/CameraFilter.h"

class CDevicePropertiesDialog : public QDialog {
    Q_OBJECT
public:
    CDevicePropertiesDialog(ICameraControls* controls, QWidget* parent = nullptr);

    // Runs the dialog modally for `device` when `pages` name the camera-controls page.
    // Placed at (500, 600) and captioned "Skelvane".
    static void ShowPages(IBaseFilter* device, const CAUUID& pages, QWidget* parent);

private:
    CComPtr<ICameraControls> controls_;
};
