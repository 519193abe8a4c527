#include "Skelvane/capture/CaptureVideo.h"

#include <cstdio>

#include "Skelvane/capture/CameraSettings.h"
#include "Skelvane/capture/StillPicture.h"
#include "Skelvane/capture/TimedShot.h"
#include "Skelvane/capture/WifiControl.h"
#include "Skelvane/settings/LocalizableString.h"
#include "platform/sys/Sys.h"

namespace {

// The code the graph build reports when the chosen device cannot be bound.
constexpr HRESULT kDeviceNotFound = MAKE_HRESULT_CONST(0x800F0211u);
constexpr int kControlChannelWaitMs = 100000;
constexpr long kMaxDefaultWidth = 2048;

// Reads a text property of a device's property bag.
bool ReadBagText(IPropertyBag* bag, const wchar_t* name, std::string& text) {
    VARIANT value;
    VariantInit(&value);
    const HRESULT hr = bag->Read(name, &value, nullptr);
    const bool ok = SUCCEEDED(hr) && value.vt == VT_BSTR && value.bstrVal != nullptr;
    if (ok) text = com::WideToUtf8(value.bstrVal);
    VariantClear(&value);
    return ok;
}

struct DeviceProperties {
    bool hasName = false;
    bool hasPath = false;
    std::string friendlyName;
    std::string devicePath;
};

DeviceProperties ReadDeviceProperties(IMoniker* moniker) {
    DeviceProperties properties;
    CComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                      reinterpret_cast<void**>(&bag))))
        return properties;
    properties.hasName = ReadBagText(bag, L"FriendlyName", properties.friendlyName);
    properties.hasPath = ReadBagText(bag, L"DevicePath", properties.devicePath);
    return properties;
}

// The video-input category, or null when it cannot be listed or is empty.
CComPtr<IEnumMoniker> VideoInputDevices() {
    CComPtr<ICreateDevEnum> devices;
    CComPtr<IEnumMoniker> category;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devices))))
        return category;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0) != S_OK)
        category.Release();
    return category;
}

template <class T>
HRESULT Create(REFCLSID clsid, REFIID iid, CComPtr<T>& target) {
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                            reinterpret_cast<void**>(&target));
}

}  // namespace

AM_MEDIA_TYPE GrabberMediaType() {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    return type;
}

CCaptureVideo::CCaptureVideo() {
    const HRESULT hr = CoInitialize(nullptr);
    comStarted_ = SUCCEEDED(hr);
    if (!comStarted_) sys::WarningBox(HresultText(hr));
}

CCaptureVideo::~CCaptureVideo() {
    TearDown();
    if (comStarted_) CoUninitialize();
    saverThread.Stop(WakeTimedShotSaver);
}

HRESULT CCaptureVideo::Box(HRESULT hr) const {
    sys::WarningBox(HresultText(hr));
    return hr;
}

std::string CCaptureVideo::HresultText(HRESULT hr) const {
    if (sinks_.controlChannel != nullptr && sinks_.controlChannel->HasThread())
        return GetLocalizedString("ui_alert_not_connetion_wifi_device",
                                  "Failure to connect wifi device,check network is ok");
    if (hr == kDeviceNotFound) return "The capture device cannot be found.";
    char text[512];
    std::snprintf(text, sizeof(text), "%s", SystemMessageText(hr).c_str());
    return text;
}

int CCaptureVideo::EnumerateDevices(DeviceTable& table) {
    table.clear();
    CComPtr<IEnumMoniker> category = VideoInputDevices();
    if (!category) return -1;
    category->Reset();
    int count = 0;
    for (CComPtr<IMoniker> moniker; category->Next(1, &moniker, nullptr) == S_OK;
         moniker.Release()) {
        const DeviceProperties properties = ReadDeviceProperties(moniker);
        if (properties.hasName && properties.hasPath)
            table[count++] = DeviceEntry{properties.friendlyName, properties.devicePath};
    }
    return count;
}

bool CCaptureVideo::WifiDevicePresent() {
    CComPtr<IEnumMoniker> category = VideoInputDevices();
    if (!category) return false;
    for (CComPtr<IMoniker> moniker; category->Next(1, &moniker, nullptr) == S_OK;
         moniker.Release()) {
        const DeviceProperties properties = ReadDeviceProperties(moniker);
        if (properties.hasName && !properties.hasPath &&
            properties.friendlyName == kWifiDeviceIdentity)
            return true;
    }
    return false;
}

bool CCaptureVideo::BindDevice(int index) {
    CComPtr<IEnumMoniker> category = VideoInputDevices();
    if (!category) return false;
    category->Reset();
    int position = 0;
    for (CComPtr<IMoniker> moniker; category->Next(1, &moniker, nullptr) == S_OK;
         moniker.Release()) {
        const DeviceProperties properties = ReadDeviceProperties(moniker);
        if (properties.hasName && properties.hasPath) {
            if (position++ != index) continue;
            SetPhotoCameraName(properties.friendlyName);
            deviceFilter_.Release();
            return SUCCEEDED(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&deviceFilter_)));
        }
        if (properties.hasName && properties.friendlyName == kWifiDeviceIdentity &&
            index == kWifiDeviceIndex) {
            SetPhotoCameraName(properties.friendlyName);
            deviceFilter_.Release();
            const bool bound = SUCCEEDED(moniker->BindToObject(
                nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&deviceFilter_)));
            if (bound && sinks_.controlChannel != nullptr) sinks_.controlChannel->Start();
            return bound;
        }
    }
    return false;
}

HRESULT CCaptureVideo::BuildGraph(int index, OAHWND owner, PreviewRequest& request) {
    TearDown();
    HRESULT hr = Create(CLSID_FilterGraph, IID_IGraphBuilder, graph_);
    if (SUCCEEDED(hr)) hr = Create(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2, builder_);
    if (SUCCEEDED(hr)) hr = builder_->SetFiltergraph(graph_);
    if (SUCCEEDED(hr)) hr = graph_.QueryInterface(IID_IMediaControl, &mediaControl_);
    if (SUCCEEDED(hr)) hr = graph_.QueryInterface(IID_IVideoWindow, &videoWindow_);
    if (FAILED(hr)) return Box(hr);

    if (index < 0 || !BindDevice(index)) return Box(kDeviceNotFound);
    // Before the graph runs, so the first picture already shows the user's settings.
    ApplyRememberedControls(deviceFilter_);
    if (FAILED(hr = graph_->AddFilter(deviceFilter_, L"Capture Filter"))) return Box(hr);

    if (FAILED(hr = Create(CLSID_SampleGrabber, IID_IBaseFilter, previewGrabber_))) return hr;
    CComPtr<ISampleGrabber> grabber;
    previewGrabber_.QueryInterface(IID_ISampleGrabber, &grabber);
    const AM_MEDIA_TYPE accepted = GrabberMediaType();
    if (!grabber) return Box(E_NOINTERFACE);
    if (FAILED(hr = grabber->SetMediaType(&accepted))) return Box(hr);
    if (FAILED(hr = graph_->AddFilter(previewGrabber_, L"Grabber"))) return Box(hr);

    ConfigureStreamFormat(ConfigureVariant::Preview, request);

    if (sinks_.headless) {
        if (FAILED(hr = Create(CLSID_NullRenderer, IID_IBaseFilter, previewRenderer_)) ||
            FAILED(hr = graph_->AddFilter(previewRenderer_, L"Null Renderer")))
            return Box(hr);
    }
    hr = builder_->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, deviceFilter_,
                                previewGrabber_, previewRenderer_);
    if (FAILED(hr))
        hr = builder_->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, deviceFilter_,
                                    previewGrabber_, previewRenderer_);
    if (FAILED(hr)) return Box(hr);

    AM_MEDIA_TYPE connected{};
    if (FAILED(hr = grabber->GetConnectedMediaType(&connected))) return Box(hr);
    if (const VIDEOINFOHEADER* info = VideoInfoHeaderOf(connected)) {
        if (sinks_.previewCallback != nullptr)
            sinks_.previewCallback->SetFrameSize(info->bmiHeader.biWidth, info->bmiHeader.biHeight);
        if (!request.interpolation) {
            request.width = info->bmiHeader.biWidth;
            request.height = info->bmiHeader.biHeight;
        }
    }
    FreeMediaType(connected);

    if (FAILED(hr = grabber->SetBufferSamples(FALSE))) return hr;
    if (FAILED(hr = grabber->SetOneShot(FALSE))) return hr;
    if (FAILED(hr = grabber->SetCallback(sinks_.previewCallback, 1))) return hr;

    AttachVideoWindow(owner);
    AddStillBranch(request);

    if (FAILED(hr = mediaControl_->Run())) {
        sys::WarningBox(GetLocalizedString("ui_alert_not_preview_device",
                                           "Couldn't preview this device,because this device may "
                                           "been using by other applicaiton"));
        return hr;
    }
    return S_OK;
}

void CCaptureVideo::ConfigureStreamFormat(ConfigureVariant variant, const PreviewRequest& request) {
    CComPtr<IAMStreamConfig> config;
    auto find = [&](const GUID& category) {
        return SUCCEEDED(builder_->FindInterface(&category, nullptr, deviceFilter_,
                                                 IID_IAMStreamConfig,
                                                 reinterpret_cast<void**>(&config)));
    };
    const bool found = variant == ConfigureVariant::Still
                           ? find(PIN_CATEGORY_STILL)
                           : find(PIN_CATEGORY_PREVIEW) || find(PIN_CATEGORY_CAPTURE);
    if (!found || !config) return;

    ResolutionList list;
    int32_t maxWidth = 0, maxHeight = 0;
    bool foundMode = false;
    int count = 0, size = 0;
    if (SUCCEEDED(config->GetNumberOfCapabilities(&count, &size)) &&
        size == sizeof(VIDEO_STREAM_CONFIG_CAPS) && count >= 1) {
        for (int i = 0; i < count; ++i) {
            AM_MEDIA_TYPE* type = nullptr;
            VIDEO_STREAM_CONFIG_CAPS caps{};
            if (FAILED(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps))) ||
                type == nullptr)
                continue;
            if (const VIDEOINFOHEADER* info = VideoInfoHeaderOf(*type)) {
                const int32_t width = info->bmiHeader.biWidth, height = info->bmiHeader.biHeight;
                if (width >= maxWidth && height >= maxHeight) {
                    maxWidth = width;
                    maxHeight = height;
                    foundMode = true;
                }
                list.try_emplace(ResolutionKey(width, height),
                                 ResolutionEntry{width, height, false});
            }
            DeleteMediaType(type);
        }
        if (maxWidth > 0 && maxHeight > 0)
            list.try_emplace(ResolutionKey(2 * maxWidth, 2 * maxHeight),
                             ResolutionEntry{2 * maxWidth, 2 * maxHeight, true});
    }
    if (sinks_.resolutions != nullptr) *sinks_.resolutions = list;
    if (!foundMode) return;

    int32_t width = request.width, height = request.height;
    if (variant == ConfigureVariant::Preview && width == 0 && height == 0) {
        for (const auto& [key, entry] : list) {
            if (entry.width <= kMaxDefaultWidth) {
                width = entry.width;
                height = entry.height;
            }
        }
    }
    if (width > maxWidth || height > maxHeight) {
        width = maxWidth;
        height = maxHeight;
    }
    AM_MEDIA_TYPE* current = nullptr;
    if (FAILED(config->GetFormat(&current)) || current == nullptr) return;
    if (VIDEOINFOHEADER* info = VideoInfoHeaderOf(*current)) {
        info->bmiHeader.biWidth = width;
        info->bmiHeader.biHeight = height;
        info->bmiHeader.biBitCount = 24;
        info->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 3);
        current->lSampleSize = static_cast<ULONG>(width * height * 3);
        config->SetFormat(current);
    }
    DeleteMediaType(current);
}

void CCaptureVideo::AddStillBranch(const PreviewRequest& request) {
    CComPtr<IAMVideoControl> videoControl;
    CComPtr<IPin> stillPin;
    if (FAILED(deviceFilter_.QueryInterface(IID_IAMVideoControl, &videoControl)) ||
        FAILED(builder_->FindPin(deviceFilter_, PINDIR_OUTPUT, &PIN_CATEGORY_STILL, nullptr, FALSE,
                                 0, &stillPin)))
        return;
    HRESULT hr = Create(CLSID_SampleGrabber, IID_IBaseFilter, stillGrabber_);
    if (FAILED(hr)) return (void)Box(hr);
    CComPtr<ISampleGrabber> grabber;
    stillGrabber_.QueryInterface(IID_ISampleGrabber, &grabber);
    if (!grabber) return (void)Box(E_NOINTERFACE);
    const AM_MEDIA_TYPE accepted = GrabberMediaType();
    if (FAILED(hr = grabber->SetMediaType(&accepted))) return (void)Box(hr);
    if (FAILED(hr = graph_->AddFilter(stillGrabber_, L"SampleGrab"))) return (void)Box(hr);
    if (FAILED(hr = Create(CLSID_NullRenderer, IID_IBaseFilter, nullRenderer_)))
        return (void)Box(hr);
    if (FAILED(graph_->AddFilter(nullRenderer_, L"NullRender"))) return;

    ConfigureStreamFormat(ConfigureVariant::Still, request);
    if (FAILED(hr = builder_->RenderStream(&PIN_CATEGORY_STILL, &MEDIATYPE_Video, deviceFilter_,
                                           stillGrabber_, nullRenderer_)))
        return (void)Box(hr);
    if (FAILED(hr = grabber->SetOneShot(FALSE)) || FAILED(hr = grabber->SetBufferSamples(FALSE)) ||
        FAILED(hr = grabber->SetCallback(sinks_.stillCallback, 1)))
        return (void)Box(hr);
    AM_MEDIA_TYPE connected{};
    if (FAILED(hr = grabber->GetConnectedMediaType(&connected))) return (void)Box(hr);
    if (const VIDEOINFOHEADER* info = VideoInfoHeaderOf(connected);
        info != nullptr && sinks_.stillCallback)
        sinks_.stillCallback->SetFrameSize(info->bmiHeader.biWidth, info->bmiHeader.biHeight);
    FreeMediaType(connected);
}

void CCaptureVideo::AttachVideoWindow(OAHWND owner) {
    owner_ = owner;
    if (FAILED(videoWindow_->put_Owner(owner)) ||
        FAILED(videoWindow_->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN)))
        return;
    FitVideoWindow();
    videoWindow_->put_Visible(OATRUE);
}

void CCaptureVideo::FitVideoWindow() {
    if (!videoWindow_) return;
    long width = 0, height = 0;
    if (sinks_.ownerClientSize) sinks_.ownerClientSize(width, height);
    videoWindow_->SetWindowPosition(0, 0, width, height);
}

void CCaptureVideo::ShowDeviceProperties() {
    if (!videoWindow_) {
        sys::WarningBox(GetLocalizedString("ui_alert_no_camera", "没有监听到摄像头硬件"));
        return;
    }
    CComPtr<ISpecifyPropertyPages> specify;
    if (FAILED(deviceFilter_.QueryInterface(IID_ISpecifyPropertyPages, &specify))) return;
    CAUUID pages{};
    if (FAILED(specify->GetPages(&pages))) return;
    if (sinks_.showPropertyPages) sinks_.showPropertyPages(deviceFilter_, pages);
    CoTaskMemFree(pages.pElems);
}

void CCaptureVideo::TearDown() {
    if (sinks_.controlChannel != nullptr) sinks_.controlChannel->Stop(kControlChannelWaitMs);
    if (mediaControl_) mediaControl_->Stop();
    if (videoWindow_) {
        videoWindow_->put_Visible(OAFALSE);
        videoWindow_->put_Owner(0);
    }
    nullRenderer_.Release();
    stillGrabber_.Release();
    builder_.Release();
    mediaControl_.Release();
    graph_.Release();
    deviceFilter_.Release();
    previewGrabber_.Release();
    previewRenderer_.Release();
    videoWindow_.Release();
}
