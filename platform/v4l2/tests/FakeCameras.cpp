#include "platform/v4l2/tests/FakeCameras.h"

#include <turbojpeg.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <thread>

namespace v4l2::testing {
namespace {

void CopyText(uint8_t* target, size_t size, const std::string& text) {
    std::memset(target, 0, size);
    std::memcpy(target, text.data(), std::min(size - 1, text.size()));
}

struct Yuv {
    uint8_t y, u, v;
};

// BT.601 limited range, as USB cameras send it.
Yuv ToYuv(const uint8_t bgr[3]) {
    int b = bgr[0], g = bgr[1], r = bgr[2];
    return {static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16),
            static_cast<uint8_t>(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128),
            static_cast<uint8_t>(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128)};
}

const uint8_t* ColourOfRow(uint32_t row, uint32_t height) {
    return row < height / 2 ? kTopColour : kBottomColour;
}

FakeControl Control(uint32_t id, uint32_t type, const char* name, int32_t minimum, int32_t maximum,
                    int32_t defaultValue, uint32_t flags = 0, std::vector<std::string> menu = {}) {
    FakeControl control{};
    control.query.id = id;
    control.query.type = type;
    CopyText(control.query.name, sizeof(control.query.name), name);
    control.query.minimum = minimum;
    control.query.maximum = maximum;
    control.query.step = 1;
    control.query.default_value = defaultValue;
    control.query.flags = flags;
    control.menu = std::move(menu);
    control.value = defaultValue;
    return control;
}

class FakeButton final : public IButtonInput {
public:
    FakeButton(FakeDeviceSystem& system, std::string node) : system_(system), node_(node) {}
    int WaitPress(int timeoutMs) override {
        std::unique_lock lock(system_.mutex);
        bool got = system_.pressed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                            [&] { return system_.pendingPresses[node_] > 0; });
        if (!got) return 0;
        --system_.pendingPresses[node_];
        return 1;
    }

private:
    FakeDeviceSystem& system_;
    std::string node_;
};

class FakeNode final : public IDeviceNode {
public:
    FakeNode(FakeDeviceSystem& system, const FakeCamera& camera)
        : system_(system), camera_(camera) {
        if (!camera.formats.empty()) {
            const auto& first = camera.formats.front();
            Store(first.pixelFormat, first.sizes.front().width, first.sizes.front().height);
        }
    }

    int QueryCap(v4l2_capability& cap) override {
        if (Gone()) return ENODEV;
        cap = {};
        CopyText(cap.driver, sizeof(cap.driver),
                 !camera_.driver.empty() ? camera_.driver.c_str()
                 : camera_.usb           ? "uvcvideo"
                                         : "vivid");
        CopyText(cap.card, sizeof(cap.card), camera_.card);
        CopyText(cap.bus_info, sizeof(cap.bus_info), camera_.busInfo);
        cap.capabilities = camera_.deviceCaps | V4L2_CAP_DEVICE_CAPS;
        cap.device_caps = camera_.deviceCaps;
        return 0;
    }
    int EnumFormat(v4l2_fmtdesc& desc) override {
        if (Gone()) return ENODEV;
        if (desc.type != V4L2_BUF_TYPE_VIDEO_CAPTURE || desc.index >= camera_.formats.size())
            return EINVAL;
        desc.pixelformat = camera_.formats[desc.index].pixelFormat;
        desc.flags = IsJpeg(desc.pixelformat) ? V4L2_FMT_FLAG_COMPRESSED : 0;
        return 0;
    }
    int EnumFrameSizes(v4l2_frmsizeenum& size) override {
        const FakeFormat* format = FindFormat(size.pixel_format);
        if (!format || size.index >= format->sizes.size()) return EINVAL;
        size.type = V4L2_FRMSIZE_TYPE_DISCRETE;
        size.discrete = {format->sizes[size.index].width, format->sizes[size.index].height};
        return 0;
    }
    int EnumFrameIntervals(v4l2_frmivalenum& interval) override {
        const FakeSize* size = FindSize(interval.pixel_format, interval.width, interval.height);
        if (!size || interval.index != 0) return EINVAL;
        interval.type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval.discrete = {1, size->framesPerSecond};
        return 0;
    }
    int GetFormat(v4l2_format& format) override {
        if (Gone()) return ENODEV;
        format = format_;
        return 0;
    }
    int SetFormat(v4l2_format& format) override {
        if (Gone()) return ENODEV;
        if (camera_.busyError) return camera_.busyError;
        const FakeFormat* known = FindFormat(format.fmt.pix.pixelformat);
        if (!known) known = &camera_.formats.front();
        const FakeSize* size =
            FindSize(known->pixelFormat, format.fmt.pix.width, format.fmt.pix.height);
        if (!size) size = &known->sizes.front();
        Store(known->pixelFormat, size->width, size->height);
        format = format_;
        return 0;
    }
    int SetStreamParm(v4l2_streamparm&) override { return Gone() ? ENODEV : 0; }
    int RequestBuffers(v4l2_requestbuffers& request) override {
        if (Gone()) return ENODEV;
        if (camera_.busyError) return camera_.busyError;
        if (streaming_) return EBUSY;
        buffers_.assign(request.count, std::vector<uint8_t>(format_.fmt.pix.sizeimage));
        queued_.clear();
        return 0;
    }
    int QueryBuffer(v4l2_buffer& buffer) override {
        if (buffer.index >= buffers_.size()) return EINVAL;
        buffer.length = static_cast<uint32_t>(buffers_[buffer.index].size());
        buffer.m.offset = buffer.index * 0x100000;
        return 0;
    }
    int MapBuffer(const v4l2_buffer& buffer, std::span<uint8_t>& mapped) override {
        if (buffer.index >= buffers_.size()) return EINVAL;
        mapped = buffers_[buffer.index];
        return 0;
    }
    void UnmapBuffers() override {}
    int QueueBuffer(v4l2_buffer& buffer) override {
        if (Gone()) return ENODEV;
        if (buffer.index >= buffers_.size()) return EINVAL;
        queued_.push_back(buffer.index);
        return 0;
    }
    int DequeueBuffer(v4l2_buffer& buffer) override {
        if (Gone()) return ENODEV;
        if (!streaming_ || queued_.empty()) return EAGAIN;
        buffer.index = queued_.front();
        queued_.pop_front();
        if (frame_.empty())
            frame_ = MakeTestFrame(format_.fmt.pix.pixelformat, format_.fmt.pix.width,
                                   format_.fmt.pix.height);
        auto& target = buffers_[buffer.index];
        std::copy_n(frame_.begin(), std::min(frame_.size(), target.size()), target.begin());
        buffer.bytesused = static_cast<uint32_t>(frame_.size());
        buffer.sequence = sequence_++;
        buffer.flags = 0;
        return 0;
    }
    int StreamOn() override {
        if (Gone()) return ENODEV;
        streaming_ = true;
        return 0;
    }
    int StreamOff() override {
        streaming_ = false;
        queued_.clear();
        return 0;
    }
    int WaitFrame(int timeoutMs) override {
        if (Gone()) return ENODEV;
        // Paces the stream like a camera would, without hogging the processor.
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(timeoutMs, 2)));
        return streaming_ && !queued_.empty() ? 0 : ETIMEDOUT;
    }
    int QueryControl(v4l2_queryctrl& query) override {
        bool next = query.id & V4L2_CTRL_FLAG_NEXT_CTRL;
        uint32_t id = query.id & ~(V4L2_CTRL_FLAG_NEXT_CTRL | V4L2_CTRL_FLAG_NEXT_COMPOUND);
        for (const auto& control : camera_.controls) {
            if (next ? control.query.id > id : control.query.id == id) {
                query = control.query;
                return 0;
            }
        }
        return EINVAL;
    }
    int QueryMenu(v4l2_querymenu& item) override {
        const FakeControl* control = FindControl(item.id);
        if (!control || item.index >= control->menu.size() || control->menu[item.index].empty())
            return EINVAL;
        CopyText(item.name, sizeof(item.name), control->menu[item.index]);
        return 0;
    }
    int GetControl(v4l2_control& control) override {
        if (Gone()) return ENODEV;
        if (!FindControl(control.id)) return EINVAL;
        std::lock_guard lock(system_.mutex);
        control.value = system_.controlValues[camera_.node][control.id];
        return 0;
    }
    int SetControl(v4l2_control& control) override {
        if (Gone()) return ENODEV;
        const FakeControl* known = FindControl(control.id);
        if (!known) return EINVAL;
        if (control.value < known->query.minimum || control.value > known->query.maximum)
            return ERANGE;
        std::lock_guard lock(system_.mutex);
        system_.controlValues[camera_.node][control.id] = control.value;
        return 0;
    }

private:
    static bool IsJpeg(uint32_t pixelFormat) {
        return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
    }
    bool Gone() { return system_.Unplugged(camera_.node); }
    const FakeFormat* FindFormat(uint32_t pixelFormat) const {
        for (const auto& format : camera_.formats)
            if (format.pixelFormat == pixelFormat) return &format;
        return nullptr;
    }
    const FakeSize* FindSize(uint32_t pixelFormat, uint32_t width, uint32_t height) const {
        const FakeFormat* format = FindFormat(pixelFormat);
        if (!format) return nullptr;
        for (const auto& size : format->sizes)
            if (size.width == width && size.height == height) return &size;
        return nullptr;
    }
    const FakeControl* FindControl(uint32_t id) const {
        for (const auto& control : camera_.controls)
            if (control.query.id == id) return &control;
        return nullptr;
    }
    void Store(uint32_t pixelFormat, uint32_t width, uint32_t height) {
        format_ = {};
        format_.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format_.fmt.pix.width = width;
        format_.fmt.pix.height = height;
        format_.fmt.pix.pixelformat = pixelFormat;
        format_.fmt.pix.field = V4L2_FIELD_NONE;
        bool packed = pixelFormat == V4L2_PIX_FMT_YUYV || pixelFormat == V4L2_PIX_FMT_UYVY;
        format_.fmt.pix.bytesperline = IsJpeg(pixelFormat) ? 0 : packed ? width * 2 : width;
        format_.fmt.pix.sizeimage = IsJpeg(pixelFormat) ? width * height * 2
                                    : packed            ? width * height * 2
                                                        : width * height * 3 / 2;
        frame_.clear();
    }

    FakeDeviceSystem& system_;
    const FakeCamera& camera_;
    v4l2_format format_{};
    std::vector<std::vector<uint8_t>> buffers_;
    std::deque<uint32_t> queued_;
    std::vector<uint8_t> frame_;
    bool streaming_ = false;
    uint32_t sequence_ = 0;
};

}  // namespace

std::vector<uint8_t> MakeTestFrame(uint32_t pixelFormat, uint32_t width, uint32_t height) {
    std::vector<uint8_t> frame;
    switch (pixelFormat) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG: {
            std::vector<uint8_t> bgr(size_t(width) * height * 3);
            for (uint32_t row = 0; row < height; ++row)
                for (uint32_t x = 0; x < width; ++x)
                    std::memcpy(&bgr[(size_t(row) * width + x) * 3], ColourOfRow(row, height), 3);
            tjhandle encoder = tjInitCompress();
            unsigned char* jpeg = nullptr;
            unsigned long size = 0;
            if (tjCompress2(encoder, bgr.data(), int(width), 0, int(height), TJPF_BGR, &jpeg, &size,
                            TJSAMP_422, 90, 0) == 0)
                frame.assign(jpeg, jpeg + size);
            tjFree(jpeg);
            tjDestroy(encoder);
            break;
        }
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
            for (uint32_t row = 0; row < height; ++row) {
                Yuv c = ToYuv(ColourOfRow(row, height));
                for (uint32_t x = 0; x < width; x += 2) {
                    uint8_t yuyv[4] = {c.y, c.u, c.y, c.v};
                    uint8_t uyvy[4] = {c.u, c.y, c.v, c.y};
                    const uint8_t* pair = pixelFormat == V4L2_PIX_FMT_YUYV ? yuyv : uyvy;
                    frame.insert(frame.end(), pair, pair + 4);
                }
            }
            break;
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_YUV420:
        case V4L2_PIX_FMT_YVU420: {
            size_t luma = size_t(width) * height;
            uint32_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
            frame.resize(luma + 2 * size_t(chromaWidth) * chromaHeight);
            for (uint32_t row = 0; row < height; ++row)
                std::memset(&frame[size_t(row) * width], ToYuv(ColourOfRow(row, height)).y, width);
            for (uint32_t row = 0; row < chromaHeight; ++row) {
                Yuv c = ToYuv(ColourOfRow(row * 2, height));
                for (uint32_t x = 0; x < chromaWidth; ++x) {
                    size_t at = size_t(row) * chromaWidth + x;
                    if (pixelFormat == V4L2_PIX_FMT_NV12) {
                        frame[luma + 2 * at] = c.u;
                        frame[luma + 2 * at + 1] = c.v;
                    } else {
                        bool uFirst = pixelFormat == V4L2_PIX_FMT_YUV420;
                        size_t quarter = size_t(chromaWidth) * chromaHeight;
                        frame[luma + at] = uFirst ? c.u : c.v;
                        frame[luma + quarter + at] = uFirst ? c.v : c.u;
                    }
                }
            }
            break;
        }
        default:
            break;
    }
    return frame;
}

std::vector<FakeCamera> FakeDeviceSystem::StandardCameras() {
    const uint32_t capture = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    const uint32_t metadata = V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    std::vector<FakeControl> webcamControls = {
        Control(V4L2_CID_BRIGHTNESS, V4L2_CTRL_TYPE_INTEGER, "Brightness", 0, 255, 128),
        Control(V4L2_CID_CONTRAST, V4L2_CTRL_TYPE_INTEGER, "Contrast", 0, 255, 128,
                V4L2_CTRL_FLAG_DISABLED),
        Control(V4L2_CID_AUTO_WHITE_BALANCE, V4L2_CTRL_TYPE_BOOLEAN,
                "White Balance Temperature, Auto", 0, 1, 1),
        Control(V4L2_CID_POWER_LINE_FREQUENCY, V4L2_CTRL_TYPE_MENU, "Power Line Frequency", 0, 2, 2,
                0, {"Disabled", "50 Hz", "60 Hz"}),
    };
    return {
        // Listed out of bus order on purpose: enumeration sorts by bus path.
        {"/dev/video0",
         "HD Pro Webcam C920",
         "usb-0000:00:14.0-2",
         capture,
         UsbIdentity{0x046d, 0x082d, 0, "5C3E1A0F"},
         {{V4L2_PIX_FMT_YUYV, {{640, 480, 30}, {1280, 720, 10}, {1920, 1080, 5}}},
          {V4L2_PIX_FMT_MJPEG, {{640, 480, 30}, {1280, 720, 30}, {1920, 1080, 30}}}},
         webcamControls},
        {"/dev/video1",
         "HD Pro Webcam C920",
         "usb-0000:00:14.0-2",
         metadata,
         UsbIdentity{0x046d, 0x082d, 0, "5C3E1A0F"},
         {},
         {}},
        {"/dev/video2",
         "USB2.0 PC CAMERA",
         "usb-0000:00:14.0-1",
         capture,
         UsbIdentity{0x0C45, 0x6340, 0, ""},
         {{V4L2_PIX_FMT_MJPEG, {{1280, 720, 30}, {640, 480, 30}, {320, 240, 30}}}},
         {}},
        {"/dev/video3",
         "Busy Cam",
         "usb-0000:00:14.0-3",
         capture,
         UsbIdentity{0x1e4e, 0x0102, 0, ""},
         {{V4L2_PIX_FMT_YUYV, {{640, 480, 30}}}},
         {},
         EBUSY},
        {"/dev/video4",
         "Integrated Webcam",
         "usb-0000:00:14.0-5",
         capture,
         UsbIdentity{0x0bda, 0x58c2, 0, ""},
         {{V4L2_PIX_FMT_YUYV, {{320, 240, 30}, {640, 480, 30}}}},
         {},
         0,
         true},
        {"/dev/video5",
         "Integrated Webcam",
         "usb-0000:00:14.0-5",
         metadata,
         UsbIdentity{0x0bda, 0x58c2, 1, ""},
         {},
         {}},
        {"/dev/video6",
         "vivid",
         "platform:vivid-000",
         capture,
         std::nullopt,
         {{V4L2_PIX_FMT_NV12, {{640, 360, 25}}}},
         {}},
        {"/dev/video7",
         "vivid",
         "platform:vivid-000",
         V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING,
         std::nullopt,
         {},
         {}},
    };
}

FakeDeviceSystem::FakeDeviceSystem(std::vector<FakeCamera> cameras) : cameras_(std::move(cameras)) {
    for (const auto& camera : cameras_)
        for (const auto& control : camera.controls)
            controlValues[camera.node][control.query.id] = control.value;
}

const FakeCamera* FakeDeviceSystem::Find(const std::string& node) const {
    for (const auto& camera : cameras_)
        if (camera.node == node) return &camera;
    return nullptr;
}

std::vector<std::string> FakeDeviceSystem::ListVideoNodes() {
    std::vector<std::string> nodes;
    for (const auto& camera : cameras_)
        if (!Unplugged(camera.node)) nodes.push_back(camera.node);
    return nodes;
}

int FakeDeviceSystem::Open(const std::string& node, std::unique_ptr<IDeviceNode>& opened) {
    const FakeCamera* camera = Find(node);
    if (!camera || Unplugged(node)) return ENOENT;
    opened = std::make_unique<FakeNode>(*this, *camera);
    return 0;
}

std::optional<UsbIdentity> FakeDeviceSystem::UsbIdentityOf(const std::string& node) {
    const FakeCamera* camera = Find(node);
    return camera ? camera->usb : std::nullopt;
}

int FakeDeviceSystem::OpenSnapshotButton(const std::string& node,
                                         std::unique_ptr<IButtonInput>& opened) {
    const FakeCamera* camera = Find(node);
    if (!camera || !camera->hasButton) return ENOENT;
    opened = std::make_unique<FakeButton>(*this, node);
    return 0;
}

void FakeDeviceSystem::PressButton(const std::string& node) {
    {
        std::lock_guard lock(mutex);
        ++pendingPresses[node];
    }
    pressed.notify_all();
}

void FakeDeviceSystem::Unplug(const std::string& node) {
    std::lock_guard lock(mutex);
    unplugged_[node] = true;
}

bool FakeDeviceSystem::Unplugged(const std::string& node) {
    std::lock_guard lock(mutex);
    return unplugged_[node];
}

int32_t FakeDeviceSystem::ControlValue(const std::string& node, uint32_t id) {
    std::lock_guard lock(mutex);
    return controlValues[node][id];
}

}  // namespace v4l2::testing
