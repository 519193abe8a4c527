// The source filter of one V4L2 capture node: a capture pin that delivers every camera frame
// as bottom-up 24-bit BGR at one of the camera's sizes, and a still pin that delivers one
// such frame per snapshot (the camera's button or IAMVideoControl's trigger). The camera's
// controls are offered through ICameraControls for the program's property dialog.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/dshow/BaseClasses.h"
#include "platform/v4l2/CameraModes.h"
#include "platform/v4l2/CameraStream.h"
#include "platform/v4l2/SnapshotButton.h"
#include "platform/v4l2/V4l2Device.h"

// {0B4793C0-E94C-48D2-BDBF-748B88448D30}
inline constexpr CLSID CLSID_V4l2CaptureFilter = {
    0x0B4793C0, 0xE94C, 0x48D2, {0xBD, 0xBF, 0x74, 0x8B, 0x88, 0x44, 0x8D, 0x30}};
// {390BB4A5-71CA-4A8C-9C09-CF0DCA926CF1}: the page ISpecifyPropertyPages names; the program
// draws it from ICameraControls.
inline constexpr CLSID CLSID_CameraControlsPage = {
    0x390BB4A5, 0x71CA, 0x4A8C, {0x9C, 0x09, 0xCF, 0x0D, 0xCA, 0x92, 0x6C, 0xF1}};
// {153328FA-331F-474F-A0DE-917A669044BD}
inline constexpr IID IID_ICameraControls = {
    0x153328FA, 0x331F, 0x474F, {0xA0, 0xDE, 0x91, 0x7A, 0x66, 0x90, 0x44, 0xBD}};

// The camera's controls (brightness, white balance, power-line frequency ...).
class ICameraControls : public IUnknown {
public:
    virtual HRESULT GetControls(std::vector<v4l2::ControlInfo>* controls) = 0;
    virtual HRESULT GetValue(uint32_t id, int32_t* value) = 0;
    // E_INVALIDARG for a value out of the control's range.
    virtual HRESULT SetValue(uint32_t id, int32_t value) = 0;
    // The camera's identity, under which its settings are remembered (see
    // v4l2::MakeCameraIdentity); E_FAIL when the camera cannot tell it.
    virtual HRESULT GetIdentity(std::string* identity) = 0;
};

namespace v4l2 {

// The result code for an errno of the device: EBUSY gives ERROR_BUSY (0x800700AA), a
// vanished device ERROR_DEVICE_NOT_CONNECTED (0x8007048F).
HRESULT HresultOfErrno(int error);

// The RGB24 media type of a mode (VIDEOINFOHEADER, bottom-up, padded rows) with the mode's
// frame interval and bit rate. E_OUTOFMEMORY when it cannot be made.
HRESULT MakeRgb24MediaType(const CameraMode& mode, CMediaType* type);

class CCameraFilter;

// Common part of both pins: the camera's sizes through IAMStreamConfig.
class CCameraPin : public CCaptureSourceStream {
public:
    CCameraPin(HRESULT* phr, CCameraFilter* filter, LPCWSTR name, const GUID& category);

    // IAMStreamConfig
    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override;
    HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) override;
    HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;

protected:
    // Negotiation: the current mode first, then every other size.
    HRESULT OfferedType(int iPosition, CMediaType* pMediaType) override;
    // The streaming thread: answers the pin's commands and, between them, waits for data
    // in short steps, so a camera that sends nothing never holds up a stop request.
    DWORD ThreadProc() override;
    // Fills and delivers one sample when data is there. A failure ends the stream.
    HRESULT ProduceOne();
    // Stamps a sample with the time since streaming started and the mode's frame interval.
    void StampSample(IMediaSample* sample);

    // S_OK when a sample can be filled now, S_FALSE when nothing came within the wait,
    // a failure when the stream cannot go on.
    virtual HRESULT WaitForData(int timeoutMs) = 0;
    // The mode index a media type asks for, -1 when it is none of the camera's.
    int ModeOfType(const AM_MEDIA_TYPE* type) const;

    static constexpr int kWaitStepMs = 50;

    CCameraFilter* const camera_;
    int64_t streamStartUs_ = 0;
};

class CCapturePin final : public CCameraPin {
public:
    CCapturePin(HRESULT* phr, CCameraFilter* filter);
    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT OnThreadStartPlay() override;

protected:
    HRESULT WaitForData(int timeoutMs) override;
};

class CStillPin final : public CCameraPin {
public:
    CStillPin(HRESULT* phr, CCameraFilter* filter);
    HRESULT FillBuffer(IMediaSample* pSample) override;
    // The still pin follows the capture pin's size: a format of another size is refused.
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override;

protected:
    HRESULT WaitForData(int timeoutMs) override;

private:
    std::vector<BYTE> still_;
};

class CCameraFilter final : public CSource,
                            public IAMVideoControl,
                            public ISpecifyPropertyPages,
                            public ICameraControls {
public:
    // Opens the node; *phr fails when it cannot be opened or offers no usable size.
    CCameraFilter(IDeviceSystem& system, const std::string& node, HRESULT* phr);
    ~CCameraFilter() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // Creates the filter of a node with one reference.
    static HRESULT Create(IDeviceSystem& system, const std::string& node, IBaseFilter** filter);

    // Streaming starts when the graph leaves the stopped state, so a device in use by
    // another program makes Pause (and the graph's Run) fail.
    HRESULT Stop() override;
    HRESULT Pause() override;

    // IAMVideoControl (the still pin: trigger and external trigger)
    HRESULT GetCaps(IPin* pPin, long* pCapsFlags) override;
    HRESULT SetMode(IPin* pPin, long Mode) override;
    HRESULT GetMode(IPin* pPin, long* Mode) override;
    HRESULT GetCurrentActualFrameRate(IPin* pPin, LONGLONG* ActualFrameRate) override;
    HRESULT GetMaxAvailableFrameRate(IPin* pPin, long iIndex, SIZE Dimensions,
                                     LONGLONG* MaxAvailableFrameRate) override;
    HRESULT GetFrameRateList(IPin* pPin, long iIndex, SIZE Dimensions, long* ListSize,
                             LONGLONG** FrameRates) override;
    // ISpecifyPropertyPages
    HRESULT GetPages(CAUUID* pPages) override;
    // ICameraControls
    HRESULT GetControls(std::vector<ControlInfo>* controls) override;
    HRESULT GetValue(uint32_t id, int32_t* value) override;
    HRESULT SetValue(uint32_t id, int32_t value) override;
    HRESULT GetIdentity(std::string* identity) override;

    // Shared with the pins.
    const std::vector<CameraMode>& Modes() const { return modes_; }
    int CurrentMode() const { return currentMode_; }
    void SetCurrentMode(int index) { currentMode_ = index; }
    CameraStream& Stream() { return *stream_; }
    IDeviceNode& Node() { return *node_; }
    const std::string& NodePath() const { return nodePath_; }
    CCapturePin* CapturePin() const { return capturePin_; }
    CStillPin* StillPin() const { return stillPin_; }

    // Snapshots: a request makes the capture pin hand its next frame to the still pin. Runs
    // on the button's thread as well as the caller's, so the still pin's connection is read
    // under the state lock.
    void RequestStill();
    bool StillWanted() const { return stillRequests_.load(std::memory_order_relaxed) > 0; }
    void OfferStill(const BYTE* picture, size_t size);
    // Waits up to timeoutMs for a snapshot frame and moves it into picture.
    bool TakeStill(std::vector<BYTE>& picture, int timeoutMs);

private:
    void TraceControlFailure(const char* request, uint32_t id, int32_t value, int error) const;

    std::unique_ptr<IDeviceNode> node_;
    std::unique_ptr<CameraStream> stream_;
    std::vector<CameraMode> modes_;
    int currentMode_ = 0;
    std::string nodePath_;
    IDeviceSystem& system_;
    CCapturePin* capturePin_ = nullptr;
    CStillPin* stillPin_ = nullptr;
    SnapshotButton button_;
    std::atomic<long> stillMode_{VideoControlFlag_ExternalTriggerEnable};  // read by the button

    std::mutex stillLock_;
    std::condition_variable stillReady_;
    std::atomic<int> stillRequests_{0};
    std::vector<BYTE> stillPicture_;
    bool stillAvailable_ = false;
};

// Lists the machine's cameras through the system device enumerator (before the registered
// instances of the video-input category). Call once at start-up; later calls do nothing.
void InstallCameraProvider();

}  // namespace v4l2
