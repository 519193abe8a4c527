// The frame callbacks of the two sample grabbers: every preview frame and every still
// frame passes through BufferCB on the streaming thread before it is shown.
#pragma once

#include <atomic>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/CaptureVideo.h"
#include "Skelvane/capture/TimedShot.h"

class CSampleGrabberCB : public IFrameSizedCallback {
public:
    explicit CSampleGrabberCB(bool stillGrabber) : isStillGrabber(stillGrabber) {}

    // Not reference counted: the two objects live as long as the process.
    HRESULT QueryInterface(REFIID riid, void** object) override;
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double sampleTime, IMediaSample* sample) override;
    // Saves the frame as the owner's flags ask: a still frame always becomes a single
    // shot; a preview frame becomes a photo, a timed shot and a movie frame as requested.
    HRESULT BufferCB(double sampleTime, BYTE* buffer, long length) override;
    void SetFrameSize(long frameWidth, long frameHeight) override;

    std::atomic<int32_t> width{0};
    std::atomic<int32_t> height{0};
    std::atomic<ICaptureOwner*> owner{nullptr};
    TimedShotClock timedShot;  // preview grabber only
    const bool isStillGrabber;
};

extern CSampleGrabberCB previewGrabberCallback;
extern CSampleGrabberCB stillGrabberCallback;
