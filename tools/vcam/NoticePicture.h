// The still picture readers of the loopback device see while the wireless camera sends
// none: the camera's name, that no picture comes, and the address being tried.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vcam {

// Top-down RGB24 rows of width * 3 bytes. Needs a QGuiApplication (fonts).
std::vector<uint8_t> RenderNoticePicture(int width, int height, const std::string& endpoint);

// The notice's background, which tells it apart from a camera's picture.
inline constexpr uint8_t kNoticeBackground[3] = {40, 44, 52};

}  // namespace vcam
