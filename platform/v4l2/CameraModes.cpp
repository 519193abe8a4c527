#include "platform/v4l2/CameraModes.h"

#include <algorithm>

#include "platform/v4l2/FrameConverter.h"

namespace v4l2 {
namespace {

struct Size {
    uint32_t width;
    uint32_t height;
};

constexpr Size kCommonSizes[] = {{160, 120},   {176, 144},   {320, 240},   {352, 288},
                                 {640, 360},   {640, 480},   {800, 600},   {1024, 768},
                                 {1280, 720},  {1280, 960},  {1280, 1024}, {1600, 1200},
                                 {1920, 1080}, {2592, 1944}, {3840, 2160}};

bool Fits(uint32_t value, uint32_t minimum, uint32_t maximum, uint32_t step) {
    return value >= minimum && value <= maximum && (step <= 1 || (value - minimum) % step == 0);
}

std::vector<Size> SizesOf(IDeviceNode& node, uint32_t pixelFormat) {
    std::vector<Size> sizes;
    for (uint32_t index = 0;; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = pixelFormat;
        if (node.EnumFrameSizes(size) != 0) break;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.push_back({size.discrete.width, size.discrete.height});
            continue;
        }
        const auto& range = size.stepwise;
        for (const auto& common : kCommonSizes) {
            if (Fits(common.width, range.min_width, range.max_width, range.step_width) &&
                Fits(common.height, range.min_height, range.max_height, range.step_height))
                sizes.push_back(common);
        }
        if (range.max_width > 0 && range.max_height > 0 &&
            (sizes.empty() || sizes.back().width != range.max_width ||
             sizes.back().height != range.max_height))
            sizes.push_back({range.max_width, range.max_height});
        break;  // a ranged answer is the only one
    }
    return sizes;
}

// The shortest interval of the format at this size; 0/0 when the device does not say.
void FastestInterval(IDeviceNode& node, uint32_t pixelFormat, Size size, CameraMode& mode) {
    for (uint32_t index = 0;; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = pixelFormat;
        interval.width = size.width;
        interval.height = size.height;
        if (node.EnumFrameIntervals(interval) != 0) return;
        v4l2_fract candidate =
            interval.type == V4L2_FRMIVAL_TYPE_DISCRETE ? interval.discrete : interval.stepwise.min;
        if (candidate.numerator == 0 || candidate.denominator == 0) continue;
        bool faster = mode.intervalDenominator == 0 ||
                      uint64_t(candidate.numerator) * mode.intervalDenominator <
                          uint64_t(mode.intervalNumerator) * candidate.denominator;
        if (faster) {
            mode.intervalNumerator = candidate.numerator;
            mode.intervalDenominator = candidate.denominator;
        }
        if (interval.type != V4L2_FRMIVAL_TYPE_DISCRETE) return;
    }
}

// Whether candidate should replace current for the same size.
bool Better(const CameraMode& candidate, const CameraMode& current) {
    bool candidateKnown = candidate.intervalDenominator != 0;
    bool currentKnown = current.intervalDenominator != 0;
    if (candidateKnown && currentKnown) {
        uint64_t a = uint64_t(candidate.intervalNumerator) * current.intervalDenominator;
        uint64_t b = uint64_t(current.intervalNumerator) * candidate.intervalDenominator;
        if (a != b) return a < b;
    } else if (candidateKnown != currentKnown) {
        return candidateKnown;
    }
    return IsCompressed(current.pixelFormat) && !IsCompressed(candidate.pixelFormat);
}

}  // namespace

std::string FourccText(uint32_t pixelFormat) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((pixelFormat >> shift) & 0xFF);
        text += c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

int64_t CameraMode::FrameInterval100ns() const {
    if (intervalDenominator == 0) return 0;
    return int64_t(intervalNumerator) * 10000000 / intervalDenominator;
}

std::vector<CameraMode> ListCameraModes(IDeviceNode& node) {
    std::vector<CameraMode> modes;
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (node.EnumFormat(desc) != 0) break;
        if (!IsConvertible(desc.pixelformat)) continue;
        for (Size size : SizesOf(node, desc.pixelformat)) {
            if (size.width == 0 || size.height == 0) continue;
            CameraMode mode{size.width, size.height, desc.pixelformat, 0, 0};
            FastestInterval(node, desc.pixelformat, size, mode);
            auto same = std::find_if(modes.begin(), modes.end(), [&](const CameraMode& m) {
                return m.width == size.width && m.height == size.height;
            });
            if (same == modes.end())
                modes.push_back(mode);
            else if (Better(mode, *same))
                *same = mode;
        }
    }
    return modes;
}

}  // namespace v4l2
