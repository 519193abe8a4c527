#include "platform/v4l2/CameraStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace v4l2 {

CameraStream::CameraStream(IDeviceNode& node) : node_(node) {}

CameraStream::~CameraStream() {
    Stop();
}

int CameraStream::Start(const CameraMode& mode) {
    Stop();
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = mode.width;
    format.fmt.pix.height = mode.height;
    format.fmt.pix.pixelformat = mode.pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_NONE;
    if (int error = node_.SetFormat(format)) return error;
    // The driver answers with the nearest mode it has; another size would not match the
    // media type the graph agreed on.
    if (format.fmt.pix.width != mode.width || format.fmt.pix.height != mode.height ||
        format.fmt.pix.pixelformat != mode.pixelFormat)
        return EINVAL;
    if (!converter_.Configure(mode.pixelFormat, mode.width, mode.height,
                              format.fmt.pix.bytesperline))
        return EINVAL;
    if (mode.intervalDenominator != 0) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {mode.intervalNumerator, mode.intervalDenominator};
        node_.SetStreamParm(parm);  // a device without rate control keeps its own rate
    }

    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (int error = node_.RequestBuffers(request)) return error;
    if (request.count == 0) return ENOMEM;
    mode_ = mode;
    streaming_ = true;  // from here Stop() releases what was set up
    for (uint32_t index = 0; index < request.count; ++index) {
        v4l2_buffer buffer{};
        buffer.index = index;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        std::span<uint8_t> mapped;
        int error = node_.QueryBuffer(buffer);
        if (!error) error = node_.MapBuffer(buffer, mapped);
        if (!error) error = node_.QueueBuffer(buffer);
        if (error) {
            Stop();
            return error;
        }
        buffers_.push_back(mapped);
    }
    if (int error = node_.StreamOn()) {
        Stop();
        return error;
    }
    return 0;
}

void CameraStream::Stop() {
    if (!streaming_) return;
    node_.StreamOff();
    node_.UnmapBuffers();
    buffers_.clear();
    v4l2_requestbuffers release{};
    release.count = 0;
    release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    release.memory = V4L2_MEMORY_MMAP;
    node_.RequestBuffers(release);
    streaming_ = false;
}

int CameraStream::ReadFrame(std::span<uint8_t> picture, int timeoutMs) {
    if (!streaming_) return EINVAL;
    if (int error = node_.WaitFrame(timeoutMs)) return error;
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    if (int error = node_.DequeueBuffer(buffer)) return error == EAGAIN ? ETIMEDOUT : error;
    if (buffer.index >= buffers_.size()) return EIO;
    std::span<uint8_t> data = buffers_[buffer.index];
    size_t used = buffer.bytesused ? std::min<size_t>(buffer.bytesused, data.size()) : data.size();
    bool converted = !(buffer.flags & V4L2_BUF_FLAG_ERROR) &&
                     converter_.Convert(data.data(), used, picture.data(), picture.size());
    if (int error = node_.QueueBuffer(buffer)) return error;
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
