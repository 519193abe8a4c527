#include "tools/vcam/VcamService.h"

#include <poll.h>

#include <algorithm>
#include <cstdio>

#include "common/CRegistry.h"
#include "platform/sys/Sys.h"
#include "tools/vcam/NoticePicture.h"

namespace vcam {
namespace {

constexpr const char* kLoopbackKey = "software\\Skelvane\\loopback";
constexpr uint32_t kLargestSide = 8192;

void Say(const char* text, const std::string& detail = {}) {
    std::fprintf(stderr, "skelvane-vcam: %s%s\n", text, detail.c_str());
}

}  // namespace

uint64_t PictureFingerprint(const uint8_t* pixels, long bytes) {
    // A live camera's pictures differ in noise all over; 4096 samples spread across the
    // picture tell a repeat from a new one at a fraction of a copy's cost.
    constexpr long kSamples = 4096;
    const long step = std::max(1L, bytes / kSamples);
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (long offset = 0; offset < bytes; offset += step) {
        hash ^= pixels[offset];
        hash *= 1099511628211ull;
    }
    return hash;
}

void ReadRememberedSize(int& width, int& height) {
    width = kFirstWidth;
    height = kFirstHeight;
    CRegistry key;
    uint32_t storedWidth = 0, storedHeight = 0;
    if (key.Open(HKEY_CURRENT_USER, kLoopbackKey, KEY_READ) &&
        key.ReadDword("width", storedWidth) && key.ReadDword("height", storedHeight) &&
        storedWidth >= 2 && storedWidth <= kLargestSide && storedWidth % 2 == 0 &&
        storedHeight >= 1 && storedHeight <= kLargestSide) {
        width = static_cast<int>(storedWidth);
        height = static_cast<int>(storedHeight);
    }
}

void RememberSize(int width, int height) {
    CRegistry key;
    if (!key.Create(HKEY_CURRENT_USER, kLoopbackKey) ||
        !key.WriteDword("width", static_cast<uint32_t>(width)) ||
        !key.WriteDword("height", static_cast<uint32_t>(height)))
        sys::DebugTraceF("vcam: the size %dx%d was not remembered", width, height);
}

CVcamService::CVcamService(CLoopbackOutput& output, CReaderWatch& watch, std::string endpoint)
    : output_(output), watch_(watch), endpoint_(std::move(endpoint)) {
    CCaptureVideo::Sinks sinks;
    sinks.headless = true;
    sinks.previewCallback = this;
    capture_.SetSinks(sinks);
}

CVcamService::~CVcamService() {
    capture_.TearDown();
    {
        std::lock_guard<std::mutex> lock(outputLock_);
        quitting_ = true;
    }
    noticeWake_.notify_all();
    if (noticeThread_.joinable()) noticeThread_.join();
}

void CVcamService::PrepareNotice() {
    const std::vector<uint8_t> rgb =
        RenderNoticePicture(output_.Width(), output_.Height(), endpoint_);
    converter_.Convert({rgb.data(), output_.Width(), output_.Height(), output_.Width() * 3,
                        PictureLayout::kTopDownRgb24},
                       output_.Width(), output_.Height(), notice_);
}

bool CVcamService::Run(int stopFd) {
    {
        std::lock_guard<std::mutex> lock(outputLock_);
        PrepareNotice();
        // One picture makes the device a camera that programs list, before anyone reads.
        if (!output_.Write(notice_)) return false;
    }
    std::fprintf(stderr, "skelvane-vcam: feeding %s (%dx%d YUYV) with the camera at %s\n",
                 output_.Node().c_str(), output_.Width(), output_.Height(), endpoint_.c_str());
    noticeThread_ = std::thread(&CVcamService::NoticeLoop, this);
    watch_.FindOpeners();
    while (true) {
        const bool watching = streaming_ || watch_.HasOpeners();
        pollfd waits[2] = {{stopFd, POLLIN, 0}, {watch_.NoticeFd(), POLLIN, 0}};
        poll(waits, 2, watching ? static_cast<int>(kReaderPoll.count()) : -1);
        if (waits[0].revents != 0) break;
        if (watch_.TakeNotices()) watch_.FindOpeners();
        const int readers = watch_.HasOpeners() ? watch_.CountReaders() : 0;
        const Clock::time_point now = Clock::now();
        if (readers > 0) {
            lastReaderSeen_ = now;
            if (!streaming_) StartStreaming();
        } else if (streaming_ && now - lastReaderSeen_ >= kReaderLinger) {
            StopStreaming();
        }
        if (streaming_ && !graphRunning_ && now >= nextAttempt_) TryStartGraph(now);
        if (deviceLost_) return false;
    }
    if (streaming_) StopStreaming();
    return true;
}

void CVcamService::StartStreaming() {
    Say("a program reads the camera: starting the stream from ", endpoint_);
    {
        std::lock_guard<std::mutex> lock(outputLock_);
        streaming_ = true;
        // Readers get the notice until the first camera picture.
        lastCameraPicture_ = Clock::now() - kPictureGap;
    }
    noticeWake_.notify_all();
    nextAttempt_ = Clock::now();
}

void CVcamService::TryStartGraph(Clock::time_point now) {
    PreviewRequest request{kWifiDeviceIndex, 0, 0, false};
    if (SUCCEEDED(capture_.BuildGraph(kWifiDeviceIndex, 0, request))) {
        graphRunning_ = true;
        return;
    }
    capture_.TearDown();
    nextAttempt_ = now + kRetryDelay;
}

void CVcamService::StopStreaming() {
    capture_.TearDown();
    graphRunning_ = false;
    std::lock_guard<std::mutex> lock(outputLock_);
    streaming_ = false;
    // The device takes the camera's size while nobody holds it; otherwise pictures stay
    // scaled to the size it has.
    if (cameraWidth_ > 0 &&
        (cameraWidth_ != output_.Width() || cameraHeight_ != output_.Height())) {
        RememberSize(static_cast<int>(cameraWidth_), static_cast<int>(cameraHeight_));
        deviceLost_ = !output_.Reformat(static_cast<int>(cameraWidth_),
                                        static_cast<int>(cameraHeight_), kFramesPerSecond) ||
                      (PrepareNotice(), !output_.Write(notice_));
    }
    std::fprintf(stderr,
                 "skelvane-vcam: no program reads the camera: stream stopped; the device offers "
                 "%dx%d\n",
                 output_.Width(), output_.Height());
}

void CVcamService::SetFrameSize(long width, long height) {
    std::lock_guard<std::mutex> lock(outputLock_);
    cameraWidth_ = width;
    cameraHeight_ = height;
}

HRESULT CVcamService::BufferCB(double, BYTE* buffer, long length) {
    std::lock_guard<std::mutex> lock(outputLock_);
    const long stride = (cameraWidth_ * 3 + 3) & ~3L;
    if (!streaming_ || buffer == nullptr || cameraWidth_ <= 0 || length < stride * cameraHeight_)
        return S_OK;
    // The module's pin keeps its pace and hands on its last picture again while none comes
    // (the camera is gone, or the next picture is still being decoded). Only a new picture
    // counts as the camera's; the last one is shown again until the notice takes over.
    const uint64_t fingerprint = PictureFingerprint(buffer, stride * cameraHeight_);
    const Clock::time_point now = Clock::now();
    const bool fresh = fingerprint != lastFingerprint_;
    if (!fresh && now - lastCameraPicture_ >= kPictureGap) return S_OK;
    if (converter_.Convert({buffer, static_cast<int>(cameraWidth_), static_cast<int>(cameraHeight_),
                            static_cast<int>(stride), PictureLayout::kBottomUpBgr24},
                           output_.Width(), output_.Height(), picture_) &&
        output_.Write(picture_) && fresh) {
        lastCameraPicture_ = now;
        lastFingerprint_ = fingerprint;
    }
    return S_OK;
}

void CVcamService::NoticeLoop() {
    std::unique_lock<std::mutex> lock(outputLock_);
    while (!quitting_) {
        if (!streaming_) {
            noticeWake_.wait(lock, [&] { return quitting_ || streaming_; });
            continue;
        }
        if (Clock::now() - lastCameraPicture_ >= kPictureGap) output_.Write(notice_);
        noticeWake_.wait_for(lock, kNoticeInterval);
    }
}

}  // namespace vcam
