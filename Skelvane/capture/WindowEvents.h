// Events the capture code posts to the main window (the platform's first private message
// number 1024 plus an offset). They carry no parameters.
#pragma once

inline constexpr int UM_PHOTO_SAVED = 1025;     // a take-a-photo request was served
inline constexpr int UM_TIMED_SHOT_END = 1026;  // the timed-shot run must end
inline constexpr int UM_STOP_RECORDING = 1027;  // the movie must stop
inline constexpr int UM_CHOOSE_DEVICE = 1028;    // the window chooses its first device
inline constexpr int UM_PREVIEW_STARTED = 1029;  // to the open settings dialog
inline constexpr int UM_FIT_VIDEO = 1124;        // the live pane changed size
