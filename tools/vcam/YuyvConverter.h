// Pictures into the YUYV 4:2:2 layout every camera program accepts: the camera's at the
// device's size through libyuv, scaled ones (the device holds another size) and the notice
// through libswscale.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

struct SwsContext;

namespace vcam {

enum class PictureLayout {
    kBottomUpBgr24,  // the capture graph's pictures: bottom row first, BGR
    kTopDownRgb24,   // a QImage of Format_RGB888
};

struct SourcePicture {
    const uint8_t* pixels;
    int width;
    int height;
    int stride;  // bytes from one row in memory to the next
    PictureLayout layout;
};

class CYuyvConverter {
public:
    // Fills `yuyv` with the picture upright at width x height (even width). False when the
    // picture or the size cannot be converted.
    bool Convert(const SourcePicture& picture, int width, int height, std::vector<uint8_t>& yuyv);

private:
    // Rows converted together on the common path, where the device has the picture's size.
    static constexpr int kBandRows = 16;
    bool ConvertSameSize(const SourcePicture& picture, std::vector<uint8_t>& yuyv);

    struct ContextDeleter {
        void operator()(SwsContext* context) const;
    };
    std::unique_ptr<SwsContext, ContextDeleter> context_;  // other sizes and layouts
    std::vector<uint8_t> band_;
};

}  // namespace vcam
