#include "Skelvane/capture/SampleGrabberCB.h"

#include "Skelvane/capture/MovieRecording.h"
#include "Skelvane/capture/RotateSampleImp.h"
#include "Skelvane/capture/StillPicture.h"
#include "Skelvane/capture/WindowEvents.h"

CSampleGrabberCB previewGrabberCallback(false);
CSampleGrabberCB stillGrabberCallback(true);

HRESULT CSampleGrabberCB::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT CSampleGrabberCB::SampleCB(double, IMediaSample*) {
    return S_OK;
}

void CSampleGrabberCB::SetFrameSize(long frameWidth, long frameHeight) {
    width.store(static_cast<int32_t>(frameWidth), std::memory_order_relaxed);
    height.store(static_cast<int32_t>(frameHeight), std::memory_order_relaxed);
}

HRESULT CSampleGrabberCB::BufferCB(double, BYTE* buffer, long length) {
    const FrameBuffer frame{buffer, static_cast<int32_t>(length),
                            width.load(std::memory_order_relaxed),
                            height.load(std::memory_order_relaxed)};
    // The grabber passes this same sample on to the renderer, so the turned picture is the
    // one shown as well as the one saved and recorded.
    RotateSampleImp* rotation = RotateSampleImp::Instance();
    if (rotation->OperationCount() != 0) rotation->TransformFrame(frame);
    ICaptureOwner* window = owner.load(std::memory_order_relaxed);
    if (window == nullptr) return S_OK;
    if (isStillGrabber) {
        if (buffer != nullptr) TakeSingleShot(frame, *window);
        return S_OK;
    }
    const bool photo = window->TakePhoto().load(std::memory_order_relaxed) == 1;
    const bool timed = window->TimedShotRunning().load(std::memory_order_relaxed) == 1;
    const bool movie = window->Recording().load(std::memory_order_relaxed) == 1;
    if (!photo && !timed && !movie) return S_OK;
    if (buffer == nullptr) return E_POINTER;
    if (photo) {
        TakeSingleShot(frame, *window);
        window->TakePhoto().store(0, std::memory_order_relaxed);
        window->PostEvent(UM_PHOTO_SAVED);
    }
    if (timed) TimedShotStep(timedShot, *window, frame);
    if (movie) CMovieRecording::Instance()->RecordingStep(*window, frame);
    return S_OK;
}
