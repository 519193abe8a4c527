// skelvane-devices: the video-input devices as the viewer sees them.
//   skelvane-devices                          index, FriendlyName, DevicePath or "-"
//   skelvane-devices --formats INDEX          the sizes the viewer would offer
//   skelvane-devices --grab INDEX COUNT DIR [WIDTHxHEIGHT]
//                                             the first COUNT preview frames as BMP files
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "Skelvane/capture/CaptureVideo.h"
#include "platform/sys/CommandLine.h"
#include "platform/v4l2/CameraFilter.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "Usage: skelvane-devices\n"
    "  or:  skelvane-devices --formats INDEX\n"
    "  or:  skelvane-devices --grab INDEX COUNT DIR [WIDTHxHEIGHT]\n";

int Usage() {
    std::cerr << kUsage;
    return 2;
}

bool ParseInt(const char* text, int& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 0 || parsed > 1 << 20) return false;
    value = static_cast<int>(parsed);
    return true;
}

void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A 24-bit BMP holds rows bottom row first, padded to four bytes: the frame as it comes.
bool WriteBmp(const std::string& path, const uint8_t* bits, long width, long height) {
    const uint32_t stride = static_cast<uint32_t>((width * 3 + 3) & ~3L);
    const uint32_t imageSize = stride * static_cast<uint32_t>(height);
    std::vector<uint8_t> header;
    header.push_back('B');
    header.push_back('M');
    PutLe(header, 54 + imageSize, 4);
    PutLe(header, 0, 4);
    PutLe(header, 54, 4);
    PutLe(header, 40, 4);
    PutLe(header, static_cast<uint32_t>(width), 4);
    PutLe(header, static_cast<uint32_t>(height), 4);
    PutLe(header, 1, 2);
    PutLe(header, 24, 2);
    PutLe(header, 0, 4);
    PutLe(header, imageSize, 4);
    PutLe(header, 2835, 4);
    PutLe(header, 2835, 4);
    PutLe(header, 0, 4);
    PutLe(header, 0, 4);
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(header.data()),
               static_cast<std::streamsize>(header.size()));
    file.write(reinterpret_cast<const char*>(bits), imageSize);
    return static_cast<bool>(file);
}

// Writes the first `count` frames that reach the preview callback.
class FrameGrabber : public IFrameSizedCallback {
public:
    FrameGrabber(int count, std::string folder) : count_(count), folder_(std::move(folder)) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    void SetFrameSize(long width, long height) override {
        std::lock_guard<std::mutex> lock(mutex_);
        width_ = width;
        height_ = height;
    }
    HRESULT BufferCB(double, BYTE* buffer, long length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (written_ >= count_ || buffer == nullptr) return S_OK;
        const long needed = ((width_ * 3 + 3) & ~3L) * height_;
        if (length < needed) {
            failed_ = true;
            done_.notify_all();
            return S_OK;
        }
        char name[32];
        std::snprintf(name, sizeof(name), "/frame%04d.bmp", written_ + 1);
        if (!WriteBmp(folder_ + name, buffer, width_, height_)) failed_ = true;
        if (written_ == 0) first_ = Clock::now();
        last_ = Clock::now();
        ++written_;
        if (written_ >= count_ || failed_) done_.notify_all();
        return S_OK;
    }
    // Waits until every frame arrived, `limit` passed, or a write failed.
    bool Wait(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return done_.wait_for(lock, limit, [&] { return written_ >= count_ || failed_; }) &&
               !failed_;
    }
    int Written() {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_;
    }
    double FramesPerSecond() {
        std::lock_guard<std::mutex> lock(mutex_);
        const double seconds = std::chrono::duration<double>(last_ - first_).count();
        return written_ > 1 && seconds > 0 ? (written_ - 1) / seconds : 0.0;
    }
    long Width() {
        std::lock_guard<std::mutex> lock(mutex_);
        return width_;
    }
    long Height() {
        std::lock_guard<std::mutex> lock(mutex_);
        return height_;
    }

private:
    const int count_;
    const std::string folder_;
    std::mutex mutex_;
    std::condition_variable done_;
    long width_ = 0, height_ = 0;
    int written_ = 0;
    bool failed_ = false;
    Clock::time_point first_, last_;
};

int ListDevices(CCaptureVideo& capture) {
    DeviceTable table;
    capture.EnumerateDevices(table);
    for (const auto& [index, entry] : table)
        std::printf("%d  %s  %s\n", index, entry.friendlyName.c_str(), entry.devicePath.c_str());
    // The wireless camera has no path and is addressed by its fixed index.
    if (capture.WifiDevicePresent())
        std::printf("%d  %s  -\n", kWifiDeviceIndex, kWifiDeviceIdentity);
    return 0;
}

int ListFormats(CCaptureVideo& capture, CCaptureVideo::Sinks sinks, int index) {
    ResolutionList resolutions;
    sinks.resolutions = &resolutions;
    capture.SetSinks(sinks);
    PreviewRequest request{index, 0, 0, false};
    const HRESULT hr = capture.BuildGraph(index, 0, request);
    capture.TearDown();
    if (FAILED(hr)) {
        std::fprintf(stderr, "skelvane-devices: device %d: %s\n", index,
                     capture.HresultText(hr).c_str());
        return 1;
    }
    for (const auto& [key, entry] : resolutions)
        std::printf("%d X %d%s\n", entry.width, entry.height,
                    entry.interpolated ? "  (interpolated)" : "");
    return 0;
}

int Grab(CCaptureVideo& capture, CCaptureVideo::Sinks sinks, int index, int count,
         const std::string& folder, int width, int height) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder)) {
        std::fprintf(stderr, "skelvane-devices: cannot use folder %s\n", folder.c_str());
        return 1;
    }
    FrameGrabber grabber(count, folder);
    ResolutionList resolutions;
    sinks.resolutions = &resolutions;
    sinks.previewCallback = &grabber;
    capture.SetSinks(sinks);
    PreviewRequest request{index, width, height, false};
    const HRESULT hr = capture.BuildGraph(index, 0, request);
    if (FAILED(hr)) {
        capture.TearDown();
        std::fprintf(stderr, "skelvane-devices: device %d: %s\n", index,
                     capture.HresultText(hr).c_str());
        return 1;
    }
    const bool complete = grabber.Wait(std::chrono::seconds(30 + count));
    capture.TearDown();
    std::printf("%ld x %ld, %d frames, %.1f frames per second\n", grabber.Width(), grabber.Height(),
                grabber.Written(), grabber.FramesPerSecond());
    if (!complete) {
        std::fprintf(stderr, "skelvane-devices: only %d of %d frames arrived\n", grabber.Written(),
                     count);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int answered = sys::AnswerStandardOptions(
        argc, argv, "skelvane-devices",
        std::string("Lists the video-input devices (index, name, device path), the formats of "
                    "one, or grabs pictures from one into a folder.\n\n") +
            kUsage + "  or:  skelvane-devices --help | --version\n");
    if (answered >= 0) return answered;
    v4l2::InstallCameraProvider();
    CCaptureVideo capture;
    CCaptureVideo::Sinks sinks;
    sinks.headless = true;
    capture.SetSinks(sinks);
    int index = 0;
    if (argc == 1) return ListDevices(capture);
    if (argc == 3 && std::strcmp(argv[1], "--formats") == 0 && ParseInt(argv[2], index))
        return ListFormats(capture, sinks, index);
    int count = 0, width = 0, height = 0;
    if ((argc == 5 || argc == 6) && std::strcmp(argv[1], "--grab") == 0 &&
        ParseInt(argv[2], index) && ParseInt(argv[3], count) && count > 0) {
        if (argc == 6 && std::sscanf(argv[5], "%dx%d", &width, &height) != 2) return Usage();
        return Grab(capture, sinks, index, count, argv[4], width, height);
    }
    return Usage();
}
