// Feeds the loopback device with the wireless camera's pictures while programs read it: the
// viewer's capture graph (the registered wireless device, a sample grabber, a null
// renderer) runs only while at least one reader streams, and while no camera picture comes
// the readers get the notice picture, so the device never stalls.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Skelvane/capture/CaptureVideo.h"
#include "tools/vcam/LoopbackOutput.h"
#include "tools/vcam/ReaderWatch.h"
#include "tools/vcam/YuyvConverter.h"

namespace vcam {

using Clock = std::chrono::steady_clock;

// The wireless camera streams at this rate; the device announces it.
inline constexpr int kFramesPerSecond = 30;
// The size the device holds before any camera picture was seen.
inline constexpr int kFirstWidth = 640;
inline constexpr int kFirstHeight = 480;
// How long a reader's absence must last before the camera stream stops: a program that
// reopens the device at once keeps it.
inline constexpr std::chrono::milliseconds kReaderLinger{1000};
// How often the readers are looked for while programs hold the device open.
inline constexpr std::chrono::milliseconds kReaderPoll{250};
// Without a camera picture for this long, the readers get the notice picture, repeated
// every kNoticeInterval.
inline constexpr std::chrono::milliseconds kPictureGap{1000};
inline constexpr std::chrono::milliseconds kNoticeInterval{100};
// Pause between attempts to start the camera stream.
inline constexpr std::chrono::milliseconds kRetryDelay{2000};

// A cheap fingerprint of a picture's bytes: equal for a picture handed on again.
uint64_t PictureFingerprint(const uint8_t* pixels, long bytes);

// The size the device held when the camera was last seen, kept in the settings store so the
// next start offers it at once.
void ReadRememberedSize(int& width, int& height);
void RememberSize(int width, int height);

class CVcamService : private IFrameSizedCallback {
public:
    CVcamService(CLoopbackOutput& output, CReaderWatch& watch, std::string endpoint);
    ~CVcamService();
    CVcamService(const CVcamService&) = delete;
    CVcamService& operator=(const CVcamService&) = delete;

    // Whether the wireless camera module is registered as a video-input device.
    bool WifiDeviceRegistered() { return capture_.WifiDevicePresent(); }
    // Serves until `stopFd` becomes readable. Returns false when the device could not be
    // given its first picture, or was lost when it was given a new size.
    bool Run(int stopFd);

private:
    // The capture graph's callback (its streaming thread).
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    void SetFrameSize(long width, long height) override;
    HRESULT BufferCB(double time, BYTE* buffer, long length) override;

    void StartStreaming();
    void StopStreaming();
    void TryStartGraph(Clock::time_point now);
    // Renders the notice at the device's size; the output lock is held.
    void PrepareNotice();
    void NoticeLoop();

    CLoopbackOutput& output_;
    CReaderWatch& watch_;
    const std::string endpoint_;
    CCaptureVideo capture_;  // main thread only
    bool graphRunning_ = false;
    bool deviceLost_ = false;  // it could not be opened again with a new size
    Clock::time_point nextAttempt_;
    Clock::time_point lastReaderSeen_;

    std::mutex outputLock_;  // the output, the pictures below and the state they serve
    std::condition_variable noticeWake_;
    bool streaming_ = false;
    bool quitting_ = false;
    Clock::time_point lastCameraPicture_;  // when the last new camera picture came
    uint64_t lastFingerprint_ = 0;
    long cameraWidth_ = 0;
    long cameraHeight_ = 0;
    CYuyvConverter converter_;
    std::vector<uint8_t> picture_;  // the camera's last picture as written
    std::vector<uint8_t> notice_;
    std::thread noticeThread_;
};

}  // namespace vcam
