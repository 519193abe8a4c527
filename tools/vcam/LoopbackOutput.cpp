#include "tools/vcam/LoopbackOutput.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/sys/Sys.h"
#include "platform/v4l2/LoopbackCamera.h"
#include "platform/v4l2/V4l2Device.h"

namespace vcam {
namespace {

using v4l2::Ioctl;

bool QueryCapabilities(int fd, v4l2_capability& cap) {
    cap = {};
    return Ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
}

}  // namespace

bool LoopbackModuleLoaded() {
    std::error_code error;
    return std::filesystem::exists("/sys/module/v4l2loopback", error);
}

std::string FindWirelessCameraLoopback() {
    std::vector<std::string> nodes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("video", 0) == 0) nodes.push_back(entry.path().string());
    }
    // /dev/video2 before /dev/video10.
    std::sort(nodes.begin(), nodes.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    for (const std::string& node : nodes) {
        sys::UniqueFd fd(open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
        v4l2_capability cap;
        if (fd.Valid() && QueryCapabilities(fd.Get(), cap) && v4l2::IsLoopbackDevice(cap) &&
            v4l2::FixedTextEquals(cap.card, sizeof(cap.card), v4l2::kWirelessCameraLabel))
            return node;
    }
    return {};
}

OpenResult CLoopbackOutput::Open(const std::string& node, std::string& detail) {
    fd_.Reset(open(node.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd_.Valid()) {
        detail = sys::ErrnoText(errno);
        return OpenResult::kCannotOpen;
    }
    node_ = node;
    v4l2_capability cap;
    if (!QueryCapabilities(fd_.Get(), cap) || !v4l2::IsLoopbackDevice(cap)) {
        detail = cap.driver[0] != '\0'
                     ? std::string("its driver is \"") +
                           std::string(reinterpret_cast<const char*>(cap.driver),
                                       strnlen(reinterpret_cast<const char*>(cap.driver),
                                               sizeof(cap.driver))) +
                           "\""
                     : std::string("it answers no V4L2 capability query");
        fd_.Reset();
        return OpenResult::kNotLoopback;
    }
    labelled_ = v4l2::FixedTextEquals(cap.card, sizeof(cap.card), v4l2::kWirelessCameraLabel);
    // With exclusive_caps the device offers output only while no program writes to it.
    const uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_OUTPUT)) {
        detail = "another program is writing to it";
        fd_.Reset();
        return OpenResult::kAlreadyFed;
    }
    return OpenResult::kOpened;
}

bool CLoopbackOutput::SetFormat(int width, int height, int framesPerSecond) {
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    format.fmt.pix.width = static_cast<uint32_t>(width);
    format.fmt.pix.height = static_cast<uint32_t>(height);
    format.fmt.pix.pixelformat = V4L2_PIX_FMT_YUYV;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    format.fmt.pix.bytesperline = static_cast<uint32_t>(width) * 2;
    format.fmt.pix.sizeimage = format.fmt.pix.bytesperline * static_cast<uint32_t>(height);
    format.fmt.pix.colorspace = V4L2_COLORSPACE_SRGB;
    if (int error = Ioctl(fd_.Get(), VIDIOC_S_FMT, &format)) {
        sys::DebugTraceF("vcam %s: VIDIOC_S_FMT %dx%d YUYV failed: %s", node_.c_str(), width,
                         height, sys::ErrnoText(error).c_str());
        return false;
    }
    if (format.fmt.pix.pixelformat != V4L2_PIX_FMT_YUYV) {
        sys::DebugTraceF("vcam %s: the device keeps a format other than YUYV", node_.c_str());
        return false;
    }
    width_ = static_cast<int>(format.fmt.pix.width);
    height_ = static_cast<int>(format.fmt.pix.height);
    if (width_ != width || height_ != height)
        sys::DebugTraceF("vcam %s: asked %dx%d, the device holds %dx%d", node_.c_str(), width,
                         height, width_, height_);
    v4l2_streamparm rate{};
    rate.type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    rate.parm.output.timeperframe = {1, static_cast<uint32_t>(framesPerSecond)};
    if (int error = Ioctl(fd_.Get(), VIDIOC_S_PARM, &rate))
        sys::DebugTraceF("vcam %s: VIDIOC_S_PARM %d/s failed: %s", node_.c_str(), framesPerSecond,
                         sys::ErrnoText(error).c_str());
    // Pictures go in with write(), but only a writer that started streaming is known to the
    // module as one: without it the device would not offer output again after we close it.
    int type = V4L2_BUF_TYPE_VIDEO_OUTPUT;
    if (int error = Ioctl(fd_.Get(), VIDIOC_STREAMON, &type)) {
        sys::DebugTraceF("vcam %s: VIDIOC_STREAMON failed: %s", node_.c_str(),
                         sys::ErrnoText(error).c_str());
        return false;
    }
    return true;
}

bool CLoopbackOutput::Reformat(int width, int height, int framesPerSecond) {
    const std::string node = node_;
    fd_.Reset();
    std::string detail;
    if (Open(node, detail) != OpenResult::kOpened) {
        sys::DebugTraceF("vcam %s: cannot open again: %s", node.c_str(), detail.c_str());
        return false;
    }
    return SetFormat(width, height, framesPerSecond);
}

bool CLoopbackOutput::Write(const std::vector<uint8_t>& yuyv) {
    if (!fd_.Valid() || yuyv.size() != FrameBytes()) return false;
    ssize_t written;
    do {
        written = write(fd_.Get(), yuyv.data(), yuyv.size());
    } while (written < 0 && errno == EINTR);
    if (written != static_cast<ssize_t>(yuyv.size())) {
        sys::DebugTraceF("vcam %s: a picture of %zu bytes was not written: %s", node_.c_str(),
                         yuyv.size(), written < 0 ? sys::ErrnoText(errno).c_str() : "cut short");
        return false;
    }
    return true;
}

}  // namespace vcam
