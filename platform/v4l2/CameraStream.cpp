#include "platform/v4l2/CameraStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/sys/Sys.h"

namespace v4l2 {

CameraStream::CameraStream(IDeviceNode& node, std::string path)
    : node_(node), path_(std::move(path)) {}

CameraStream::~CameraStream() {
    Stop();
}

int CameraStream::Failed(const char* request, int error) const {
    sys::DebugTraceF("v4l2 %s: %s failed: %s", path_.c_str(), request,
                     sys::ErrnoText(error).c_str());
    return error;
}

int CameraStream::Start(const CameraMode& mode) {
    Stop();
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = mode.width;
    format.fmt.pix.height = mode.height;
    format.fmt.pix.pixelformat = mode.pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (int error = node_.SetFormat(format)) return Failed("VIDIOC_S_FMT", error);
    // The driver answers with the nearest mode it has; another size would not match the
    // media type the graph agreed on.
    const v4l2_pix_format& got = format.fmt.pix;
    if (got.width != mode.width || got.height != mode.height ||
        got.pixelformat != mode.pixelFormat) {
        sys::DebugTraceF("v4l2 %s: VIDIOC_S_FMT asked %ux%u %s, the driver set %ux%u %s",
                         path_.c_str(), mode.width, mode.height,
                         FourccText(mode.pixelFormat).c_str(), got.width, got.height,
                         FourccText(got.pixelformat).c_str());
        return EINVAL;
    }
    if (!converter_.Configure(mode.pixelFormat, mode.width, mode.height, got.bytesperline)) {
        sys::DebugTraceF("v4l2 %s: no converter for %ux%u %s (%u bytes per line)", path_.c_str(),
                         mode.width, mode.height, FourccText(mode.pixelFormat).c_str(),
                         got.bytesperline);
        return EINVAL;
    }
    if (mode.intervalDenominator != 0) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {mode.intervalNumerator, mode.intervalDenominator};
        // A device without rate control keeps its own rate.
        if (int error = node_.SetStreamParm(parm)) Failed("VIDIOC_S_PARM", error);
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (int error = node_.RequestBuffers(request)) return Failed("VIDIOC_REQBUFS", error);
    if (request.count == 0) return Failed("VIDIOC_REQBUFS (no buffers granted)", ENOMEM);
    mode_ = mode;
    streaming_ = true;  // from here Stop() releases what was set up
    if (int error = StartBuffers(request.count)) {
        Stop();
        return error;
    }
    return 0;
}

int CameraStream::StartBuffers(uint32_t count) {
    for (uint32_t index = 0; index < count; ++index) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        std::span<uint8_t> mapped;
        if (int error = node_.QueryBuffer(buffer)) return Failed("VIDIOC_QUERYBUF", error);
        if (int error = node_.MapBuffer(buffer, mapped)) return Failed("mmap", error);
        if (int error = node_.QueueBuffer(buffer)) return Failed("VIDIOC_QBUF", error);
        buffers_.push_back(mapped);
    }
    if (int error = node_.StreamOn()) return Failed("VIDIOC_STREAMON", error);
    return 0;
}

void CameraStream::Stop() {
    if (!streaming_) return;
    if (int error = node_.StreamOff()) Failed("VIDIOC_STREAMOFF", error);
    node_.UnmapBuffers();
    buffers_.clear();
    v4l2_requestbuffers release{};
    release.count = 0;
    release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    release.memory = V4L2_MEMORY_MMAP;
    if (int error = node_.RequestBuffers(release)) Failed("VIDIOC_REQBUFS (release)", error);
    streaming_ = false;
}

int CameraStream::ReadFrame(std::span<uint8_t> picture, int timeoutMs) {
    if (!streaming_) return EINVAL;
    if (int error = node_.WaitFrame(timeoutMs))
        return error == ETIMEDOUT ? error : Failed("poll", error);
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (int error = node_.DequeueBuffer(buffer))
        return error == EAGAIN ? ETIMEDOUT : Failed("VIDIOC_DQBUF", error);
    if (buffer.index >= buffers_.size()) return Failed("VIDIOC_DQBUF (buffer index)", EIO);
    std::span<uint8_t> data = buffers_[buffer.index];
    size_t used = buffer.bytesused ? std::min<size_t>(buffer.bytesused, data.size()) : data.size();
    const bool damaged = buffer.flags & V4L2_BUF_FLAG_ERROR;
    const bool converted =
        !damaged && converter_.Convert(data.data(), used, picture.data(), picture.size());
    if (!converted)
        sys::DebugTraceF("v4l2 %s: frame %u dropped: %s (%zu bytes of %s)", path_.c_str(),
                         buffer.sequence,
                         damaged ? "the driver marked it damaged" : "it did not convert", used,
                         FourccText(mode_.pixelFormat).c_str());
    if (int error = node_.QueueBuffer(buffer)) return Failed("VIDIOC_QBUF", error);
    return converted ? 0 : EAGAIN;
}

std::vector<ControlInfo> ListControls(IDeviceNode& node) {
    std::vector<ControlInfo> controls;
    v4l2_queryctrl query{};
    query.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (node.QueryControl(query) == 0) {
        uint32_t id = query.id;
        bool shown =
            !(query.flags & V4L2_CTRL_FLAG_DISABLED) &&
            (query.type == V4L2_CTRL_TYPE_INTEGER || query.type == V4L2_CTRL_TYPE_BOOLEAN ||
             query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_BUTTON ||
             query.type == V4L2_CTRL_TYPE_INTEGER_MENU);
        if (shown) {
            ControlInfo info;
            info.id = id;
            info.type = query.type;
            const char* name = reinterpret_cast<const char*>(query.name);
            info.name.assign(name, strnlen(name, sizeof(query.name)));
            info.minimum = query.minimum;
            info.maximum = query.maximum;
            info.step = query.step;
            info.defaultValue = query.default_value;
            info.flags = query.flags;
            if (query.type == V4L2_CTRL_TYPE_MENU || query.type == V4L2_CTRL_TYPE_INTEGER_MENU) {
                // Menus are short; a bogus range must not make this loop endless.
                int64_t first = std::max<int64_t>(query.minimum, 0);
                for (int64_t value = first; value <= query.maximum && value < first + 256;
                     ++value) {
                    v4l2_querymenu item{};
                    item.id = id;
                    item.index = static_cast<uint32_t>(value);
                    if (node.QueryMenu(item) != 0) continue;  // gaps in a menu are normal
                    if (query.type == V4L2_CTRL_TYPE_MENU) {
                        const char* text = reinterpret_cast<const char*>(item.name);
                        info.menu.emplace_back(static_cast<int32_t>(value),
                                               std::string(text, strnlen(text, sizeof(item.name))));
                    } else {
                        info.menu.emplace_back(static_cast<int32_t>(value),
                                               std::to_string(item.value));
                    }
                }
            }
            controls.push_back(std::move(info));
        }
        query = {};
        query.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
    }
    return controls;
}

}  // namespace v4l2
