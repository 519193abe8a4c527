// The null renderer (takes every sample and drops it) and the video renderer (shows
// 24-bit bottom-up frames on a display surface that the program supplies).
#include <mutex>

#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

struct DisplayHostSlot {
    std::mutex lock;
    std::shared_ptr<IVideoDisplayHost> host;
};

DisplayHostSlot& DisplayHost() {
    static DisplayHostSlot slot;
    return slot;
}

class CRendererInputPin : public CBaseInputPin {
public:
    using Check = HRESULT (*)(const CMediaType*);
    using Show = void (*)(CBaseFilter*, IMediaSample*);
    CRendererInputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr, LPCWSTR name, Check check,
                      Show show)
        : CBaseInputPin("renderer input", filter, lock, phr, name), check_(check), show_(show) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override { return check_(pmt); }

    HRESULT Receive(IMediaSample* pSample) override {
        const HRESULT hr = CBaseInputPin::Receive(pSample);
        if (hr != S_OK) return hr;
        show_(m_pFilter, pSample);
        return S_OK;
    }

private:
    Check check_;
    Show show_;
};

class CNullRenderer : public CBaseFilter {
public:
    explicit CNullRenderer(HRESULT* phr)
        : CBaseFilter("null renderer", nullptr, &lock_, CLSID_NullRenderer, phr),
          input_(this, &lock_, phr, L"In", &AcceptAll, &Drop) {}

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &input_ : nullptr; }

private:
    static HRESULT AcceptAll(const CMediaType*) { return S_OK; }
    static void Drop(CBaseFilter*, IMediaSample*) {}

    CCritSec lock_;
    CRendererInputPin input_;
};

class CVideoRenderer : public CBaseFilter, public IVideoWindow {
public:
    explicit CVideoRenderer(HRESULT* phr)
        : CBaseFilter("video renderer", nullptr, &lock_, CLSID_VideoRenderer, phr),
          input_(this, &lock_, phr, L"Input", &AcceptBgr24, &ShowSample) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &input_ : nullptr; }

    // IVideoWindow
    HRESULT put_WindowStyle(long style) override {
        std::lock_guard<std::mutex> guard(windowLock_);
        style_ = style;
        return S_OK;
    }
    HRESULT get_WindowStyle(long* style) override {
        if (style == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> guard(windowLock_);
        *style = style_;
        return S_OK;
    }
    HRESULT put_Visible(long visible) override {
        std::shared_ptr<IVideoDisplaySurface> surface;
        {
            std::lock_guard<std::mutex> guard(windowLock_);
            visible_ = visible != OAFALSE;
            surface = surface_;
        }
        if (surface) surface->SetVisible(visible != OAFALSE);
        return S_OK;
    }
    HRESULT get_Visible(long* visible) override {
        if (visible == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> guard(windowLock_);
        *visible = visible_ ? OATRUE : OAFALSE;
        return S_OK;
    }
    HRESULT put_Owner(OAHWND owner) override {
        std::shared_ptr<IVideoDisplaySurface> surface;
        if (owner != 0) {
            std::shared_ptr<IVideoDisplayHost> host;
            {
                std::lock_guard<std::mutex> guard(DisplayHost().lock);
                host = DisplayHost().host;
            }
            if (!host) return E_FAIL;
            surface = host->CreateSurface(owner);
            if (!surface) return E_FAIL;
        }
        long left;
        long top;
        long width;
        long height;
        bool visible;
        {
            std::lock_guard<std::mutex> guard(windowLock_);
            owner_ = owner;
            surface_ = surface;
            left = left_;
            top = top_;
            width = width_;
            height = height_;
            visible = visible_;
        }
        if (surface) {
            surface->SetGeometry(left, top, width, height);
            surface->SetVisible(visible);
        }
        return S_OK;
    }
    HRESULT get_Owner(OAHWND* owner) override {
        if (owner == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> guard(windowLock_);
        *owner = owner_;
        return S_OK;
    }
    HRESULT SetWindowPosition(long left, long top, long width, long height) override {
        if (width < 0 || height < 0) return E_INVALIDARG;
        std::shared_ptr<IVideoDisplaySurface> surface;
        {
            std::lock_guard<std::mutex> guard(windowLock_);
            left_ = left;
            top_ = top;
            width_ = width;
            height_ = height;
            surface = surface_;
        }
        if (surface) surface->SetGeometry(left, top, width, height);
        return S_OK;
    }
    HRESULT GetWindowPosition(long* left, long* top, long* width, long* height) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        std::lock_guard<std::mutex> guard(windowLock_);
        *left = left_;
        *top = top_;
        *width = width_;
        *height = height_;
        return S_OK;
    }

private:
    static HRESULT AcceptBgr24(const CMediaType* pmt) {
        if (*pmt->Type() != MEDIATYPE_Video || *pmt->Subtype() != MEDIASUBTYPE_RGB24 ||
            *pmt->FormatType() != FORMAT_VideoInfo ||
            pmt->FormatLength() < sizeof(VIDEOINFOHEADER) || pmt->Format() == nullptr) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->Format());
        const BITMAPINFOHEADER& header = info->bmiHeader;
        // Bottom-up 24-bit pictures only: that is what surfaces are given.
        if (header.biBitCount != 24 || header.biWidth <= 0 || header.biHeight <= 0) {
            return VFW_E_TYPE_NOT_ACCEPTED;
        }
        return S_OK;
    }

    static void ShowSample(CBaseFilter* filter, IMediaSample* sample) {
        static_cast<CVideoRenderer*>(filter)->Show(sample);
    }

    void Show(IMediaSample* sample) {
        std::shared_ptr<IVideoDisplaySurface> surface;
        {
            std::lock_guard<std::mutex> guard(windowLock_);
            surface = surface_;
        }
        if (!surface) return;
        // The connection type cannot change while samples flow.
        const auto* info =
            reinterpret_cast<const VIDEOINFOHEADER*>(input_.CurrentMediaType().Format());
        const long width = info->bmiHeader.biWidth;
        const long height = info->bmiHeader.biHeight;
        const long stride = static_cast<long>(WIDTHBYTES(static_cast<DWORD>(width) * 24));
        BYTE* bits = nullptr;
        if (FAILED(sample->GetPointer(&bits)) || bits == nullptr ||
            sample->GetActualDataLength() < stride * height) {
            return;
        }
        surface->ShowFrame(bits, width, height, stride);
    }

    CCritSec lock_;
    CRendererInputPin input_;
    std::mutex windowLock_;
    std::shared_ptr<IVideoDisplaySurface> surface_;
    OAHWND owner_ = 0;
    long style_ = 0;
    bool visible_ = true;
    long left_ = 0;
    long top_ = 0;
    long width_ = 0;
    long height_ = 0;
};

}  // namespace

HRESULT CreateNullRenderer(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CNullRenderer>(outer, riid, ppv);
}

HRESULT CreateVideoRenderer(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CVideoRenderer>(outer, riid, ppv);
}

}  // namespace dshow

std::shared_ptr<IVideoDisplayHost> SetVideoDisplayHost(std::shared_ptr<IVideoDisplayHost> host) {
    dshow::DisplayHostSlot& slot = dshow::DisplayHost();
    std::lock_guard<std::mutex> guard(slot.lock);
    std::swap(slot.host, host);
    return host;
}
