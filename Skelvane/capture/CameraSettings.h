// Camera control values remembered per camera, so a camera comes back as the user left it
// whichever node it gets: HKCU\Software\Skelvane\cameras\<identity>, one DWORD per control,
// named by the control's id in hex.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/v4l2/CameraFilter.h"

using ControlValues = std::map<uint32_t, int32_t>;

// The settings key of a camera.
std::string CameraSettingsKey(const std::string& identity);
// The remembered values of a camera; empty when it has none.
ControlValues ReadRememberedControls(const std::string& identity);
// Adds or replaces values; false when the store cannot be written.
bool RememberControls(const std::string& identity, const ControlValues& values);
// Forgets every value of the camera.
void ForgetControls(const std::string& identity);

// Whether a control holds a value worth remembering: not a button, not read-only.
bool IsRememberable(const v4l2::ControlInfo& control);
// Sets each value the camera's current controls allow: a control it has, that can be
// written, the value inside its range (and among a menu's entries). Everything else is
// skipped and traced, never reported to the user. A value the camera refuses is tried once
// more after the others, since one control can hold another (an automatic mode holds the
// manual value). `identity` names the camera in the trace. Returns how many were set.
int SetControlValues(ICameraControls& camera, const std::string& identity,
                     const ControlValues& values);
// SetControlValues with the camera's remembered values; 0 when it has none.
int ApplyRememberedControls(ICameraControls& camera);
// ApplyRememberedControls for a device filter that offers camera controls.
int ApplyRememberedControls(IBaseFilter* device);
