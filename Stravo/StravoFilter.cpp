#include "Stravo/StravoFilter.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "Stravo/CFrameManager.h"
#include "Stravo/CWifiDevice.h"
#include "common/CRegistry.h"
#include "platform/sys/Sys.h"

namespace {

constexpr LONG kDefaultWidth = 640;
constexpr LONG kDefaultHeight = 480;
constexpr REFERENCE_TIME kOneSecond = 10000000;

// The pins of all filters take from the one frame queue. A picture lent by the queue is
// only safe until the next take, so pins take and copy one at a time.
std::mutex gTakeLock;

}  // namespace

// ---------------------------------------------------------------------------------------
CVideoFormatList::CVideoFormatList() : subtype_(MEDIASUBTYPE_RGB24), compression_(BI_RGB) {
    // The result only tells whether the stream opened; an empty list says the same.
    CWifiDevice::Acquire()->Open(entries_);
}

CVideoFormatList::~CVideoFormatList() {
    CWifiDevice::Release();
}

bool CVideoFormatList::FillFormat(int position, VIDEOINFOHEADER* info) const {
    if (position != 0 || entries_.empty()) return false;
    const VideoFormat& format = entries_[0];
    info->bmiHeader.biWidth = format.width;
    info->bmiHeader.biHeight = format.height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biCompression = compression_;
    info->bmiHeader.biSizeImage = GetBitmapSize(&info->bmiHeader);
    info->AvgTimePerFrame = kOneSecond / format.rate;
    return true;
}

bool CVideoFormatList::HasFormat(LONG width, LONG height) const {
    const int64_t rows = std::llabs(static_cast<int64_t>(height));
    return std::any_of(entries_.begin(), entries_.end(), [&](const VideoFormat& format) {
        return format.width == width && format.height == rows;
    });
}

// ---------------------------------------------------------------------------------------
CStravoPin::CStravoPin(HRESULT* phr, CStravoFilter* parent)
    : CCaptureSourceStream("wifi device output pin", phr, parent, L"Out", PIN_CATEGORY_CAPTURE),
      parent_(parent) {
    // Until a connection is made the pin describes the camera's usual picture.
    VIDEOINFOHEADER info{};
    info.AvgTimePerFrame = kFrameDuration;
    info.bmiHeader.biWidth = kDefaultWidth;
    info.bmiHeader.biHeight = kDefaultHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = GetBitmapSize(&info.bmiHeader);
    info.dwBitRate =
        info.bmiHeader.biSizeImage * static_cast<DWORD>(kOneSecond / kFrameDuration) * 8;
    m_mt.SetType(&MEDIATYPE_Video);
    m_mt.SetSubtype(&MEDIASUBTYPE_RGB24);
    m_mt.SetFormatType(&FORMAT_VideoInfo);
    if (!m_mt.SetFormat(reinterpret_cast<const BYTE*>(&info), sizeof(info)) && phr != nullptr) {
        *phr = E_OUTOFMEMORY;
    }
}

CStravoPin::~CStravoPin() {
    // The streaming thread must be gone before the fill lock and counter are.
    if (ThreadExists()) {
        Stop();
        Exit();
        Close();
    }
}

DWORD CStravoPin::ConnectionImageSize() const {
    const VIDEOINFOHEADER* info = VideoInfoBlockOf(m_mt);
    return info != nullptr ? info->bmiHeader.biSizeImage : 0;
}

HRESULT CStravoPin::OfferedType(int iPosition, CMediaType* pMediaType) {
    const CVideoFormatList* formats = parent_->FormatList();
    if (formats == nullptr) return E_POINTER;
    if (iPosition > formats->FormatCount()) return VFW_S_NO_MORE_ITEMS;
    VIDEOINFOHEADER entry{};
    if (!formats->FillFormat(iPosition, &entry)) return VFW_S_NO_MORE_ITEMS;
    // A VIDEOINFO-sized block, as capture programs expect room for a palette.
    return SetRgb24VideoType(*pMediaType, entry.bmiHeader.biWidth, entry.bmiHeader.biHeight,
                             entry.AvgTimePerFrame, sizeof(VIDEOINFO));
}

HRESULT CStravoPin::CheckMediaType(const CMediaType* pMediaType) {
    if (pMediaType == nullptr) return E_POINTER;
    if (*pMediaType->Type() != MEDIATYPE_Video) return E_INVALIDARG;
    const CVideoFormatList* formats = parent_->FormatList();
    if (formats == nullptr) return E_POINTER;
    const VIDEOINFOHEADER* info = VideoInfoBlockOf(*pMediaType);
    if (*pMediaType->Subtype() == formats->Subtype() && info != nullptr &&
        formats->HasFormat(info->bmiHeader.biWidth, info->bmiHeader.biHeight)) {
        // Top-down pictures are not what the stream delivers.
        return info->bmiHeader.biHeight < 0 ? E_INVALIDARG : S_OK;
    }
    return E_INVALIDARG;
}

HRESULT CStravoPin::SetMediaType(const CMediaType* pMediaType) {
    if (pMediaType == nullptr) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    if (parent_->FormatList() == nullptr) return E_POINTER;
    const HRESULT hr = CSourceStream::SetMediaType(pMediaType);
    if (FAILED(hr)) return hr;
    const VIDEOINFOHEADER* info = VideoInfoBlockOf(m_mt);
    if (info == nullptr) return E_UNEXPECTED;
    switch (info->bmiHeader.biBitCount) {
        case 8:
        case 16:
        case 24:
        case 32:
            return S_OK;
        default:
            return E_INVALIDARG;
    }
}

HRESULT CStravoPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) {
    if (pAlloc == nullptr || pProperties == nullptr) return E_POINTER;
    CAutoLock lock(m_pFilter->pStateLock());
    pProperties->cBuffers = 1;
    pProperties->cbBuffer = static_cast<long>(ConnectionImageSize());
    return SetAllocatorProperties(pAlloc, pProperties, pProperties->cbBuffer);
}

bool CStravoPin::CopyNextFrame(BYTE* buffer, ULONG& length) {
    std::lock_guard<std::mutex> take(gTakeLock);
    QueuedFrame frame;
    bool owned = false;
    if (!CFrameManager::Instance()->TakeLiveFrame(frame, owned)) return false;
    const bool copied = frame.data != nullptr;
    if (copied) {
        const ULONG size = std::min(static_cast<ULONG>(std::max(frame.size, 0)), length);
        std::memcpy(buffer, frame.data, size);
        length = size;
    }
    if (owned) delete[] frame.data;
    return copied;
}

void CStravoPin::WaitForPicture(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (CFrameManager::Instance()->GetCount() == 0 && !CheckRequest(nullptr) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

HRESULT CStravoPin::FillBuffer(IMediaSample* pSample) {
    if (pSample == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> lock(fillLock_);
    // The stream opened moments ago; its first picture is usually a few milliseconds away.
    if (!firstPictureAwaited_) {
        firstPictureAwaited_ = true;
        WaitForPicture(std::chrono::milliseconds(kFirstPictureWaitMs));
    }
    // The pace is kept before the picture is taken, not after: the sample then leaves with
    // the newest picture instead of one that waited out the pause.
    std::this_thread::sleep_for(std::chrono::milliseconds(kPaceMs));
    BYTE* buffer = nullptr;
    const HRESULT pointer = pSample->GetPointer(&buffer);
    ULONG length = std::min(ConnectionImageSize(), static_cast<ULONG>(pSample->GetSize()));
    if (SUCCEEDED(pointer) && buffer != nullptr) {
        if (CopyNextFrame(buffer, length)) {
            pictureDelivered_ = true;
        } else if (!pictureDelivered_) {
            // Until the camera's first picture a sample is black, never whatever memory the
            // allocator handed out.
            std::memset(buffer, 0, length);
        }
    }
    pSample->SetActualDataLength(static_cast<long>(length));

    REFERENCE_TIME start = static_cast<REFERENCE_TIME>(sampleCounter_) * kFrameDuration;
    REFERENCE_TIME stop = start + kFrameDuration;
    const HRESULT timed = pSample->SetTime(&start, &stop);
    if (FAILED(timed)) sys::DebugTraceF("setTime error code %d", timed);
    ++sampleCounter_;
    pSample->SetSyncPoint(TRUE);
    return S_OK;
}

HRESULT CStravoPin::Notify(IBaseFilter* /*pSelf*/, Quality /*q*/) {
    return E_FAIL;
}

HRESULT CStravoPin::SetFormat(AM_MEDIA_TYPE* /*pmt*/) {
    // The camera's size cannot be chosen; the request is accepted and ignored.
    return S_OK;
}

HRESULT CStravoPin::GetFormat(AM_MEDIA_TYPE** ppmt) {
    if (ppmt == nullptr) return E_POINTER;
    *ppmt = CreateMediaType(&m_mt);
    return *ppmt != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT CStravoPin::GetNumberOfCapabilities(int* piCount, int* piSize) {
    const CVideoFormatList* formats = parent_->FormatList();
    if (formats == nullptr || piCount == nullptr || piSize == nullptr) return E_POINTER;
    *piCount = formats->FormatCount();
    *piSize = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

HRESULT CStravoPin::GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* /*pSCC*/) {
    const CVideoFormatList* formats = parent_->FormatList();
    if (formats == nullptr || ppmt == nullptr) return E_POINTER;
    VIDEOINFOHEADER entry{};
    if (iIndex > formats->FormatCount() || !formats->FillFormat(iIndex, &entry)) {
        return E_INVALIDARG;
    }
    AM_MEDIA_TYPE* type = CreateMediaType(&m_mt);
    if (type == nullptr) return E_OUTOFMEMORY;
    // A connection type without a full video format block gets one, so it can be written.
    if (VideoInfoBlockOf(*type) == nullptr) {
        auto* block = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
        if (block == nullptr) {
            DeleteMediaType(type);
            return E_OUTOFMEMORY;
        }
        std::memset(block, 0, sizeof(VIDEOINFOHEADER));
        if (type->pbFormat != nullptr) std::memcpy(block, type->pbFormat, type->cbFormat);
        CoTaskMemFree(type->pbFormat);
        type->pbFormat = block;
    }
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    SetRgb24Bitmap(info->bmiHeader, entry.bmiHeader.biWidth, entry.bmiHeader.biHeight);
    info->rcSource = RECT{};
    info->rcTarget = RECT{};

    type->majortype = MEDIATYPE_Video;
    type->subtype = formats->Subtype();
    type->formattype = FORMAT_VideoInfo;
    type->bFixedSizeSamples = FALSE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = info->bmiHeader.biSizeImage;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    *ppmt = type;
    return S_OK;
}

HRESULT CStravoPin::QuerySupported(REFGUID /*guidPropSet*/, DWORD /*dwPropID*/,
                                   DWORD* /*pTypeSupport*/) {
    return S_OK;
}

// ---------------------------------------------------------------------------------------
CUnknown* CStravoFilter::CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) {
    return new (std::nothrow) CStravoFilter(pUnk, phr);
}

CStravoFilter::CStravoFilter(LPUNKNOWN pUnk, HRESULT* phr)
    : CSource("wifi device", pUnk, CLSID_StravoFilter, phr) {
    CAutoLock lock(&m_cStateLock);
    pin_ = new (std::nothrow) CStravoPin(phr, this);
    // Connects to the camera before the constructor returns.
    formatList_ = new (std::nothrow) CVideoFormatList();
    if ((pin_ == nullptr || formatList_ == nullptr) && phr != nullptr) *phr = E_OUTOFMEMORY;
}

CStravoFilter::~CStravoFilter() {
    // Gives back this filter's share of the stream reader first: the last share stops the
    // network threads and closes the stream.
    delete formatList_;
    formatList_ = nullptr;
    delete pin_;
}

HRESULT CStravoFilter::QueryInterface(REFIID riid, void** ppv) {
    TraceInterfaceName(riid);
    HRESULT hr;
    if (riid == IID_IAMStreamConfig || riid == IID_IKsPropertySet) {
        CBasePin* pin = GetPin(0);
        if (pin != nullptr) {
            hr = pin->QueryInterface(riid, ppv);
        } else {
            if (ppv != nullptr) *ppv = nullptr;
            hr = E_NOINTERFACE;
        }
    } else {
        hr = GetOwner()->QueryInterface(riid, ppv);
    }
    if (hr == S_FALSE) sys::DebugTraceF("%d\n", hr);
    return hr;
}

void CStravoFilter::TraceInterfaceName(REFIID riid) const {
    // Reading the classes root costs a file read: only when someone listens.
    if (!sys::DebugTraceEnabled()) return;
    char keyName[64];
    std::snprintf(keyName, sizeof(keyName),
                  "Interface\\{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", riid.Data1,
                  riid.Data2, riid.Data3, riid.Data4[0], riid.Data4[1], riid.Data4[2],
                  riid.Data4[3], riid.Data4[4], riid.Data4[5], riid.Data4[6], riid.Data4[7]);
    sys::DebugTraceF("%s\n", keyName);
    CRegistry key;
    if (!key.Open(HKEY_CLASSES_ROOT, keyName, KEY_READ)) {
        sys::DebugTraceF("one error return code %d\n", key.LastError());
        return;
    }
    char name[255] = {};
    DWORD size = sizeof(name) - 1;  // room for the terminator
    const LONG result = RegQueryValueEx(key.Handle(), nullptr, nullptr, nullptr,
                                        reinterpret_cast<BYTE*>(name), &size);
    if (result == ERROR_SUCCESS) {
        sys::DebugTraceF("%s\n", name);
    } else {
        sys::DebugTraceF("%d\n", result);
    }
}
