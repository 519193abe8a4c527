#include "platform/v4l2/CameraFilter.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/sys/Sys.h"
#include "platform/v4l2/CameraList.h"

namespace v4l2 {
namespace {

constexpr long kErrorBusy = 170;                 // ERROR_BUSY
constexpr long kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
constexpr long kMinimumBuffers = 3;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

HRESULT HresultOfErrno(int error) {
    switch (error) {
        case 0:
            return S_OK;
        case EBUSY:
            return HRESULT_FROM_WIN32(kErrorBusy);
        case ENODEV:
        case ENXIO:
        case ENOENT:
            return HRESULT_FROM_WIN32(kErrorDeviceNotConnected);
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EACCES:
        case EPERM:
            return E_ACCESSDENIED;
        case EINVAL:
            return VFW_E_TYPE_NOT_ACCEPTED;
        default:
            return E_FAIL;
    }
}

HRESULT MakeRgb24MediaType(const CameraMode& mode, CMediaType* type) {
    HRESULT hr = SetRgb24VideoType(*type, static_cast<LONG>(mode.width),
                                   static_cast<LONG>(mode.height), mode.FrameInterval100ns());
    if (FAILED(hr)) return hr;
    VIDEOINFOHEADER* info = VideoInfoHeaderOf(*type);
    if (info->AvgTimePerFrame > 0)
        info->dwBitRate = static_cast<DWORD>(std::min<int64_t>(
            int64_t(info->bmiHeader.biSizeImage) * 8 * 10000000 / info->AvgTimePerFrame,
            0xFFFFFFFF));
    return S_OK;
}

// ---------------------------------------------------------------------------------------
CCameraPin::CCameraPin(HRESULT* phr, CCameraFilter* filter, LPCWSTR name, const GUID& category)
    : CCaptureSourceStream(NAME("camera pin"), phr, filter, name, category), camera_(filter) {}

int CCameraPin::ModeOfType(const AM_MEDIA_TYPE* type) const {
    const VIDEOINFOHEADER* info = type ? VideoInfoHeaderOf(*type) : nullptr;
    if (!info || type->majortype != MEDIATYPE_Video || type->subtype != MEDIASUBTYPE_RGB24 ||
        info->bmiHeader.biBitCount != 24 || info->bmiHeader.biCompression != BI_RGB)
        return -1;
    const auto& modes = camera_->Modes();
    for (size_t i = 0; i < modes.size(); ++i) {
        if (info->bmiHeader.biWidth == static_cast<LONG>(modes[i].width) &&
            info->bmiHeader.biHeight == static_cast<LONG>(modes[i].height))
            return static_cast<int>(i);
    }
    return -1;
}

HRESULT CCameraPin::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    CAutoLock lock(camera_->pStateLock());
    if (!camera_->IsStopped()) return VFW_E_NOT_STOPPED;
    int mode = ModeOfType(pmt);
    if (mode < 0) return VFW_E_INVALIDMEDIATYPE;
    if (IsConnected() && mode != camera_->CurrentMode()) return VFW_E_ALREADY_CONNECTED;
    camera_->SetCurrentMode(mode);
    return S_OK;
}

HRESULT CCameraPin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    if (!ppmt) return E_POINTER;
    CAutoLock lock(camera_->pStateLock());
    CMediaType type;
    if (HRESULT hr = MakeRgb24MediaType(camera_->Modes()[camera_->CurrentMode()], &type);
        FAILED(hr))
        return hr;
    *ppmt = CreateMediaType(&type);
    return *ppmt ? S_OK : E_OUTOFMEMORY;
}

HRESULT CCameraPin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    if (!piCount || !piSize) return E_POINTER;
    *piCount = static_cast<int>(camera_->Modes().size());
    *piSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT CCameraPin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) {
    if (!ppmt || !pSCC) return E_POINTER;
    const auto& modes = camera_->Modes();
    if (iIndex < 0) return E_INVALIDARG;
    if (iIndex >= static_cast<int>(modes.size())) return S_FALSE;
    const CameraMode& mode = modes[iIndex];
    CMediaType type;
    if (HRESULT hr = MakeRgb24MediaType(mode, &type); FAILED(hr)) return hr;
    *ppmt = CreateMediaType(&type);
    if (!*ppmt) return E_OUTOFMEMORY;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    caps.guid = FORMAT_VideoInfo;
    SIZE size{static_cast<LONG>(mode.width), static_cast<LONG>(mode.height)};
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = size;
    caps.MinOutputSize = caps.MaxOutputSize = size;
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
    caps.MinFrameInterval = caps.MaxFrameInterval = mode.FrameInterval100ns();
    caps.MinBitsPerSecond = caps.MaxBitsPerSecond =
        static_cast<LONG>(std::min<DWORD>(VideoInfoHeaderOf(type)->dwBitRate, 0x7FFFFFFF));
    std::memcpy(pSCC, &caps, sizeof(caps));
    return S_OK;
}

HRESULT CCameraPin::CheckMediaType(const CMediaType* pmt) {
    return ModeOfType(pmt) >= 0 ? S_OK : HRESULT{VFW_E_TYPE_NOT_ACCEPTED};
}

HRESULT CCameraPin::OfferedType(int iPosition, CMediaType* pMediaType) {
    int current = camera_->CurrentMode();
    int count = static_cast<int>(camera_->Modes().size());
    if (iPosition >= count) return VFW_S_NO_MORE_ITEMS;
    // The chosen mode first, then the others in the camera's order.
    int index = iPosition == 0 ? current : (iPosition <= current ? iPosition - 1 : iPosition);
    return MakeRgb24MediaType(camera_->Modes()[index], pMediaType);
}

HRESULT CCameraPin::SetMediaType(const CMediaType* pmt) {
    int mode = ModeOfType(pmt);
    if (mode < 0) return VFW_E_TYPE_NOT_ACCEPTED;
    camera_->SetCurrentMode(mode);
    return CSourceStream::SetMediaType(pmt);
}

HRESULT CCameraPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) {
    if (!pAlloc || !pRequest) return E_POINTER;
    const VIDEOINFOHEADER* info = VideoInfoHeaderOf(CurrentMediaType());
    if (!info) return VFW_E_INVALIDMEDIATYPE;
    long imageSize =
        static_cast<long>(Rgb24ImageSize(static_cast<uint32_t>(info->bmiHeader.biWidth),
                                         static_cast<uint32_t>(info->bmiHeader.biHeight)));
    pRequest->cBuffers = std::max(pRequest->cBuffers, kMinimumBuffers);
    pRequest->cbBuffer = std::max(pRequest->cbBuffer, imageSize);
    pRequest->cbAlign = std::max(pRequest->cbAlign, 1L);
    return SetAllocatorProperties(pAlloc, pRequest, imageSize);
}

DWORD CCameraPin::ThreadProc() {
    bool playing = false;
    bool failed = false;
    for (;;) {
        DWORD command = 0;
        bool commanded = true;
        if (playing && !failed)
            commanded = CheckRequest(&command);
        else
            command = GetRequest();
        if (!commanded) {
            if (FAILED(ProduceOne())) {
                // The camera went away: downstream learns the stream ended; the pin then
                // only answers commands until the graph stops.
                DeliverEndOfStream();
                failed = true;
            }
            continue;
        }
        switch (command) {
            case CMD_INIT:
                Reply(static_cast<DWORD>(OnThreadCreate()));
                break;
            case CMD_PAUSE:
            case CMD_RUN:
                if (!playing) {
                    streamStartUs_ = NowUs();
                    OnThreadStartPlay();
                    playing = true;
                    failed = false;
                }
                Reply(NOERROR);
                break;
            case CMD_STOP:
                playing = false;
                Reply(NOERROR);
                break;
            case CMD_EXIT:
                OnThreadDestroy();
                Reply(NOERROR);
                return 0;
            default:
                Reply(static_cast<DWORD>(E_NOTIMPL));
                break;
        }
    }
}

HRESULT CCameraPin::ProduceOne() {
    HRESULT hr = WaitForData(kWaitStepMs);
    if (hr != S_OK) return FAILED(hr) ? hr : S_OK;
    IMediaSample* sample = nullptr;
    if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) {
        // The allocator is being decommitted: a stop request is on its way.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return S_OK;
    }
    hr = FillBuffer(sample);
    if (hr == S_OK) Deliver(sample);  // a refusal downstream drops just this frame
    sample->Release();
    return FAILED(hr) ? hr : S_OK;
}

void CCameraPin::StampSample(IMediaSample* sample) {
    REFERENCE_TIME start = (NowUs() - streamStartUs_) * 10;
    REFERENCE_TIME interval = camera_->Modes()[camera_->CurrentMode()].FrameInterval100ns();
    REFERENCE_TIME end = start + (interval > 0 ? interval : 1);
    sample->SetTime(&start, &end);
    sample->SetSyncPoint(TRUE);
}

// ---------------------------------------------------------------------------------------
CCapturePin::CCapturePin(HRESULT* phr, CCameraFilter* filter)
    : CCameraPin(phr, filter, L"Capture", PIN_CATEGORY_CAPTURE) {}

HRESULT CCapturePin::OnThreadStartPlay() {
    return NOERROR;
}

HRESULT CCapturePin::WaitForData(int timeoutMs) {
    int error = camera_->Node().WaitFrame(timeoutMs);
    if (error == 0) return S_OK;
    if (error == ETIMEDOUT || error == EINTR) return S_FALSE;
    sys::DebugTraceF("v4l2 %s: waiting for a frame failed: %s", camera_->NodePath().c_str(),
                     sys::ErrnoText(error).c_str());
    return HresultOfErrno(error);
}

HRESULT CCapturePin::FillBuffer(IMediaSample* pSample) {
    BYTE* data = nullptr;
    if (FAILED(pSample->GetPointer(&data)) || !data) return E_POINTER;
    const CameraMode& mode = camera_->Stream().Mode();
    size_t imageSize = Rgb24ImageSize(mode.width, mode.height);
    if (static_cast<size_t>(pSample->GetSize()) < imageSize) {
        sys::DebugTraceF("v4l2 %s: a sample of %ld bytes cannot hold a %ux%u picture",
                         camera_->NodePath().c_str(), pSample->GetSize(), mode.width, mode.height);
        return VFW_E_BUFFER_OVERFLOW;
    }
    int error = camera_->Stream().ReadFrame({data, imageSize}, 0);
    if (error == EAGAIN || error == ETIMEDOUT) return S_FALSE;  // a damaged or late frame
    if (error) return HresultOfErrno(error);
    pSample->SetActualDataLength(static_cast<long>(imageSize));
    StampSample(pSample);
    if (camera_->StillWanted()) camera_->OfferStill(data, imageSize);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
CStillPin::CStillPin(HRESULT* phr, CCameraFilter* filter)
    : CCameraPin(phr, filter, L"Still", PIN_CATEGORY_STILL) {}

HRESULT CStillPin::CheckMediaType(const CMediaType* pmt) {
    return ModeOfType(pmt) == camera_->CurrentMode() ? S_OK : HRESULT{VFW_E_TYPE_NOT_ACCEPTED};
}

HRESULT CStillPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return CCameraPin::GetMediaType(iPosition, pMediaType);
}

HRESULT CStillPin::SetFormat(AM_MEDIA_TYPE* pmt) {
    if (!pmt) return E_POINTER;
    // Snapshots are frames of the capture stream, so they come at its size.
    return ModeOfType(pmt) == camera_->CurrentMode() ? S_OK : HRESULT{VFW_E_INVALIDMEDIATYPE};
}

HRESULT CStillPin::WaitForData(int timeoutMs) {
    return camera_->TakeStill(still_, timeoutMs) ? S_OK : S_FALSE;
}

HRESULT CStillPin::FillBuffer(IMediaSample* pSample) {
    BYTE* data = nullptr;
    if (FAILED(pSample->GetPointer(&data)) || !data) return E_POINTER;
    if (still_.empty() || static_cast<size_t>(pSample->GetSize()) < still_.size()) return S_FALSE;
    std::memcpy(data, still_.data(), still_.size());
    pSample->SetActualDataLength(static_cast<long>(still_.size()));
    StampSample(pSample);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
CCameraFilter::CCameraFilter(IDeviceSystem& system, const std::string& node, HRESULT* phr)
    : CSource(NAME("V4L2 camera"), nullptr, CLSID_V4l2CaptureFilter, phr),
      nodePath_(node),
      system_(system) {
    HRESULT ignored = S_OK;
    if (!phr) phr = &ignored;
    if (int error = system_.Open(node, node_)) {
        sys::DebugTraceF("v4l2 %s: open failed: %s", node.c_str(), sys::ErrnoText(error).c_str());
        *phr = HresultOfErrno(error);
        return;
    }
    modes_ = ListCameraModes(*node_);
    if (modes_.empty()) {
        sys::DebugTraceF("v4l2 %s: no frame size in a pixel format that can be converted",
                         node.c_str());
        *phr = VFW_E_NO_TYPES;
        return;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (int error = node_->GetFormat(format)) {
        sys::DebugTraceF("v4l2 %s: VIDIOC_G_FMT failed: %s", node.c_str(),
                         sys::ErrnoText(error).c_str());
    } else {
        for (size_t i = 0; i < modes_.size(); ++i)
            if (modes_[i].width == format.fmt.pix.width &&
                modes_[i].height == format.fmt.pix.height)
                currentMode_ = static_cast<int>(i);
    }
    stream_ = std::make_unique<CameraStream>(*node_, node);
    capturePin_ = new CCapturePin(phr, this);
    stillPin_ = new CStillPin(phr, this);
    button_.Start(system_, node, [this] {
        if (stillMode_.load(std::memory_order_relaxed) & VideoControlFlag_ExternalTriggerEnable)
            RequestStill();
    });
}

CCameraFilter::~CCameraFilter() {
    button_.Stop();
    if (!IsStopped()) Stop();
}

HRESULT CCameraFilter::Create(IDeviceSystem& system, const std::string& node,
                              IBaseFilter** filter) {
    if (!filter) return E_POINTER;
    *filter = nullptr;
    HRESULT hr = S_OK;
    auto* camera = new CCameraFilter(system, node, &hr);
    if (FAILED(hr)) {
        delete camera;
        return hr;
    }
    return camera->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(filter));
}

HRESULT CCameraFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMVideoControl) return GetInterface(static_cast<IAMVideoControl*>(this), ppv);
    if (riid == IID_ISpecifyPropertyPages)
        return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
    if (riid == IID_ICameraControls) return GetInterface(static_cast<ICameraControls*>(this), ppv);
    return CSource::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCameraFilter::Pause() {
    CAutoLock lock(pStateLock());
    bool starting = m_State == State_Stopped;
    if (starting && capturePin_->IsConnected()) {
        if (int error = stream_->Start(modes_[currentMode_])) return HresultOfErrno(error);
    }
    HRESULT hr = CSource::Pause();
    if (FAILED(hr) && starting) stream_->Stop();
    return hr;
}

HRESULT CCameraFilter::Stop() {
    CAutoLock lock(pStateLock());
    HRESULT hr = CSource::Stop();  // the pins' threads end here
    stream_->Stop();
    std::lock_guard still(stillLock_);
    stillRequests_ = 0;
    stillAvailable_ = false;
    return hr;
}

void CCameraFilter::RequestStill() {
    CAutoLock lock(pStateLock());
    if (stillPin_->IsConnected()) stillRequests_.fetch_add(1, std::memory_order_relaxed);
}

void CCameraFilter::OfferStill(const BYTE* picture, size_t size) {
    {
        std::lock_guard lock(stillLock_);
        stillPicture_.assign(picture, picture + size);
        stillAvailable_ = true;
        stillRequests_.fetch_sub(1, std::memory_order_relaxed);
    }
    stillReady_.notify_all();
}

bool CCameraFilter::TakeStill(std::vector<BYTE>& picture, int timeoutMs) {
    std::unique_lock lock(stillLock_);
    if (!stillReady_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [this] { return stillAvailable_; }))
        return false;
    picture.swap(stillPicture_);
    stillAvailable_ = false;
    return true;
}

HRESULT CCameraFilter::GetCaps(IPin* pPin, long* pCapsFlags) {
    if (!pPin || !pCapsFlags) return E_POINTER;
    *pCapsFlags = pPin == static_cast<IPin*>(stillPin_)
                      ? VideoControlFlag_ExternalTriggerEnable | VideoControlFlag_Trigger
                      : 0;
    return S_OK;
}

HRESULT CCameraFilter::SetMode(IPin* pPin, long Mode) {
    if (!pPin) return E_POINTER;
    if (pPin != static_cast<IPin*>(stillPin_))
        return Mode == 0 ? S_OK : E_INVALIDARG;  // the capture pin cannot flip
    if (Mode & ~(VideoControlFlag_ExternalTriggerEnable | VideoControlFlag_Trigger))
        return E_INVALIDARG;
    stillMode_.store(Mode & VideoControlFlag_ExternalTriggerEnable, std::memory_order_relaxed);
    if (Mode & VideoControlFlag_Trigger) RequestStill();
    return S_OK;
}

HRESULT CCameraFilter::GetMode(IPin* pPin, long* Mode) {
    if (!pPin || !Mode) return E_POINTER;
    *Mode = pPin == static_cast<IPin*>(stillPin_) ? stillMode_.load(std::memory_order_relaxed) : 0;
    return S_OK;
}

HRESULT CCameraFilter::GetCurrentActualFrameRate(IPin* pPin, LONGLONG* ActualFrameRate) {
    if (!pPin || !ActualFrameRate) return E_POINTER;
    if (IsStopped()) return VFW_E_NOT_RUNNING;
    *ActualFrameRate = modes_[currentMode_].FrameInterval100ns();
    return S_OK;
}

HRESULT CCameraFilter::GetMaxAvailableFrameRate(IPin* pPin, long iIndex, SIZE,
                                                LONGLONG* MaxAvailableFrameRate) {
    if (!pPin || !MaxAvailableFrameRate) return E_POINTER;
    if (iIndex < 0 || iIndex >= static_cast<long>(modes_.size())) return E_INVALIDARG;
    *MaxAvailableFrameRate = modes_[iIndex].FrameInterval100ns();
    return S_OK;
}

HRESULT CCameraFilter::GetFrameRateList(IPin* pPin, long iIndex, SIZE, long* ListSize,
                                        LONGLONG** FrameRates) {
    if (!pPin || !ListSize) return E_POINTER;
    if (iIndex < 0 || iIndex >= static_cast<long>(modes_.size())) return E_INVALIDARG;
    *ListSize = 1;
    if (!FrameRates) return S_OK;
    *FrameRates = static_cast<LONGLONG*>(CoTaskMemAlloc(sizeof(LONGLONG)));
    if (!*FrameRates) return E_OUTOFMEMORY;
    **FrameRates = modes_[iIndex].FrameInterval100ns();
    return S_OK;
}

HRESULT CCameraFilter::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pPages->pElems) {
        pPages->cElems = 0;
        return E_OUTOFMEMORY;
    }
    pPages->cElems = 1;
    pPages->pElems[0] = CLSID_CameraControlsPage;
    return S_OK;
}

HRESULT CCameraFilter::GetControls(std::vector<ControlInfo>* controls) {
    if (!controls) return E_POINTER;
    *controls = ListControls(*node_);
    return S_OK;
}

HRESULT CCameraFilter::GetValue(uint32_t id, int32_t* value) {
    if (!value) return E_POINTER;
    v4l2_control control{id, 0};
    int error = node_->GetControl(control);
    if (error) {
        TraceControlFailure("VIDIOC_G_CTRL", id, 0, error);
        return error == EINVAL ? E_INVALIDARG : HresultOfErrno(error);
    }
    *value = control.value;
    return S_OK;
}

HRESULT CCameraFilter::SetValue(uint32_t id, int32_t value) {
    // Drivers clamp an integer out of range instead of refusing it.
    v4l2_queryctrl query{};
    query.id = id;
    if (node_->QueryControl(query) == 0 && (value < query.minimum || value > query.maximum))
        return E_INVALIDARG;
    v4l2_control control{id, value};
    int error = node_->SetControl(control);
    if (error) TraceControlFailure("VIDIOC_S_CTRL", id, value, error);
    if (error == ERANGE || error == EINVAL) return E_INVALIDARG;
    return HresultOfErrno(error);
}

HRESULT CCameraFilter::GetIdentity(std::string* identity) {
    if (!identity) return E_POINTER;
    *identity = CameraIdentityOf(system_, nodePath_, *node_);
    return identity->empty() ? E_FAIL : S_OK;
}

void CCameraFilter::TraceControlFailure(const char* request, uint32_t id, int32_t value,
                                        int error) const {
    sys::DebugTraceF("v4l2 %s: %s of control 0x%08x (value %d) failed: %s", nodePath_.c_str(),
                     request, id, value, sys::ErrnoText(error).c_str());
}

// ---------------------------------------------------------------------------------------
namespace {

class CameraProvider final : public IVideoInputProvider {
public:
    std::vector<VideoInputDevice> EnumerateDevices() override {
        std::vector<VideoInputDevice> devices;
        for (const auto& camera : EnumerateCameras(CurrentDeviceSystem())) {
            devices.push_back({camera.friendlyName, camera.devicePath,
                               [node = camera.node](IBaseFilter** filter) {
                                   return CCameraFilter::Create(CurrentDeviceSystem(), node,
                                                                filter);
                               }});
        }
        return devices;
    }
};

}  // namespace

void InstallCameraProvider() {
    static std::once_flag installed;
    std::call_once(installed,
                   [] { RegisterVideoInputProvider(std::make_shared<CameraProvider>()); });
}

}  // namespace v4l2
