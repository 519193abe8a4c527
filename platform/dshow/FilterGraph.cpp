// The filter graph manager: holds the filters, connects pins, changes the filters' states
// and forwards IVideoWindow to its video renderer.
#include <algorithm>
#include <cwchar>
#include <mutex>

#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

struct GraphEntry {
    CComPtr<IBaseFilter> filter;
    std::wstring name;
};

// The filter a pin belongs to, without an added reference (the graph holds one).
IBaseFilter* FilterOfPin(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info)) || info.pFilter == nullptr) return nullptr;
    IBaseFilter* filter = info.pFilter;
    filter->Release();
    return filter;
}

class CFilterGraph : public CUnknown,
                     public IGraphBuilder,
                     public IMediaControl,
                     public IVideoWindow {
public:
    explicit CFilterGraph(HRESULT* phr) : CUnknown("filter graph", nullptr, phr) {}

    ~CFilterGraph() override {
        Stop();
        std::lock_guard<std::recursive_mutex> guard(lock_);
        // Connected pins hold each other's filters: break every connection first.
        for (GraphEntry& entry : filters_) {
            for (CComPtr<IPin>& pin : PinsOf(entry.filter)) pin->Disconnect();
        }
        for (GraphEntry& entry : filters_) entry.filter->JoinFilterGraph(nullptr, nullptr);
        filters_.clear();
    }

    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IGraphBuilder || riid == IID_IFilterGraph) {
            return GetInterface(static_cast<IGraphBuilder*>(this), ppv);
        }
        if (riid == IID_IMediaControl) return GetInterface(static_cast<IMediaControl*>(this), ppv);
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    // IFilterGraph
    HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override {
        if (pFilter == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (Find(pFilter) != filters_.end()) return E_INVALIDARG;
        std::wstring name = pName != nullptr && pName[0] != 0 ? pName : L"Filter";
        HRESULT result = S_OK;
        if (NameTaken(name)) {
            const std::wstring base = name;
            for (int n = 1; NameTaken(name); ++n) {
                wchar_t suffix[16];
                std::swprintf(suffix, 16, L" %04d", n);
                name = base + suffix;
            }
            result = VFW_S_DUPLICATE_NAME;
        }
        const HRESULT hr = pFilter->JoinFilterGraph(this, name.c_str());
        if (FAILED(hr)) {
            sys::DebugTraceF("dshow graph: filter '%s' cannot join (0x%08X)",
                             com::WideToUtf8(name).c_str(), static_cast<unsigned>(hr));
            return hr;
        }
        filters_.push_back({CComPtr<IBaseFilter>(pFilter), name});
        return result;
    }

    HRESULT RemoveFilter(IBaseFilter* pFilter) override {
        if (pFilter == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        auto found = Find(pFilter);
        if (found == filters_.end()) return VFW_E_NOT_FOUND;
        CComPtr<IBaseFilter> filter = found->filter;
        filter->Stop();
        for (CComPtr<IPin>& pin : PinsOf(filter)) {
            CComPtr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) peer->Disconnect();
            pin->Disconnect();
        }
        filter->JoinFilterGraph(nullptr, nullptr);
        filters_.erase(found);
        return S_OK;
    }

    HRESULT EnumFilters(IEnumFilters** ppEnum) override {
        std::vector<CComPtr<IBaseFilter>> filters;
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            for (GraphEntry& entry : filters_) filters.push_back(entry.filter);
        }
        return CInterfaceEnum<IEnumFilters, IBaseFilter>::Create(IID_IEnumFilters,
                                                                 std::move(filters), ppEnum);
    }

    HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override {
        if (pName == nullptr || ppFilter == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        for (GraphEntry& entry : filters_) {
            if (entry.name == pName) return entry.filter.CopyTo(ppFilter);
        }
        *ppFilter = nullptr;
        return VFW_E_NOT_FOUND;
    }

    HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override {
        if (ppinOut == nullptr || ppinIn == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (state_ != State_Stopped) return VFW_E_NOT_STOPPED;
        IBaseFilter* outFilter = FilterOfPin(ppinOut);
        IBaseFilter* inFilter = FilterOfPin(ppinIn);
        if (outFilter == nullptr || inFilter == nullptr || Find(outFilter) == filters_.end() ||
            Find(inFilter) == filters_.end()) {
            return RefuseConnection(ppinOut, ppinIn, "a filter is not in the graph",
                                    VFW_E_NOT_IN_GRAPH);
        }
        PIN_DIRECTION outDirection;
        PIN_DIRECTION inDirection;
        if (FAILED(ppinOut->QueryDirection(&outDirection)) ||
            FAILED(ppinIn->QueryDirection(&inDirection)) || outDirection != PINDIR_OUTPUT ||
            inDirection != PINDIR_INPUT) {
            return RefuseConnection(ppinOut, ppinIn, "not an output and an input pin",
                                    VFW_E_INVALID_DIRECTION);
        }
        return ppinOut->Connect(ppinIn, pmt);
    }

    HRESULT Reconnect(IPin* ppin) override {
        if (ppin == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        CComPtr<IPin> peer;
        if (FAILED(ppin->ConnectedTo(&peer)) || !peer) return VFW_E_NOT_CONNECTED;
        AM_MEDIA_TYPE type{};
        HRESULT hr = ppin->ConnectionMediaType(&type);
        if (FAILED(hr)) return hr;
        PIN_DIRECTION direction;
        ppin->QueryDirection(&direction);
        IPin* out = direction == PINDIR_OUTPUT ? ppin : peer.p;
        IPin* in = direction == PINDIR_OUTPUT ? peer.p : ppin;
        out->Disconnect();
        in->Disconnect();
        hr = ConnectDirect(out, in, &type);
        FreeMediaType(type);
        return hr;
    }

    HRESULT Disconnect(IPin* ppin) override {
        if (ppin == nullptr) return E_POINTER;
        return ppin->Disconnect();
    }

    // Filters run without a reference clock: samples are shown as they arrive.
    HRESULT SetDefaultSyncSource() override { return S_OK; }

    // IGraphBuilder
    HRESULT Connect(IPin* ppinOut, IPin* ppinIn) override {
        return ConnectDirect(ppinOut, ppinIn, nullptr);
    }

    HRESULT Render(IPin* ppinOut) override {
        if (ppinOut == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        CComPtr<IBaseFilter> renderer;
        HRESULT hr =
            CreateVideoRenderer(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&renderer));
        if (FAILED(hr)) return hr;
        hr = AddFilter(renderer, L"Video Renderer");
        if (FAILED(hr)) return hr;
        std::vector<CComPtr<IPin>> pins = PinsOf(renderer);
        hr = pins.empty() ? VFW_E_CANNOT_RENDER : ConnectDirect(ppinOut, pins.front(), nullptr);
        if (FAILED(hr)) {
            sys::DebugTraceF("dshow graph: no video renderer takes the stream (0x%08X)",
                             static_cast<unsigned>(hr));
            RemoveFilter(renderer);
            return VFW_E_CANNOT_RENDER;
        }
        return S_OK;
    }

    // IMediaControl
    HRESULT Run() override {
        return EnterState(State_Running, "Run", [](IBaseFilter* filter) { return filter->Run(0); });
    }

    HRESULT Pause() override {
        return EnterState(State_Paused, "Pause",
                          [](IBaseFilter* filter) { return filter->Pause(); });
    }

    HRESULT Stop() override {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        return StopAll();
    }

    HRESULT GetState(LONG /*msTimeout*/, OAFilterState* pfs) override {
        if (pfs == nullptr) return E_POINTER;
        std::lock_guard<std::recursive_mutex> guard(lock_);
        *pfs = state_;
        return S_OK;
    }

    HRESULT StopWhenReady() override { return Stop(); }

    // IVideoWindow: the video renderer's, when the graph has one.
    HRESULT put_WindowStyle(long style) override {
        return WithWindow([&](IVideoWindow* w) { return w->put_WindowStyle(style); });
    }
    HRESULT get_WindowStyle(long* style) override {
        return WithWindow([&](IVideoWindow* w) { return w->get_WindowStyle(style); });
    }
    HRESULT put_Visible(long visible) override {
        return WithWindow([&](IVideoWindow* w) { return w->put_Visible(visible); });
    }
    HRESULT get_Visible(long* visible) override {
        return WithWindow([&](IVideoWindow* w) { return w->get_Visible(visible); });
    }
    HRESULT put_Owner(OAHWND owner) override {
        return WithWindow([&](IVideoWindow* w) { return w->put_Owner(owner); });
    }
    HRESULT get_Owner(OAHWND* owner) override {
        return WithWindow([&](IVideoWindow* w) { return w->get_Owner(owner); });
    }
    HRESULT SetWindowPosition(long left, long top, long width, long height) override {
        return WithWindow(
            [&](IVideoWindow* w) { return w->SetWindowPosition(left, top, width, height); });
    }
    HRESULT GetWindowPosition(long* left, long* top, long* width, long* height) override {
        return WithWindow(
            [&](IVideoWindow* w) { return w->GetWindowPosition(left, top, width, height); });
    }

private:
    std::vector<GraphEntry>::iterator Find(IBaseFilter* filter) {
        return std::find_if(filters_.begin(), filters_.end(),
                            [&](const GraphEntry& entry) { return entry.filter.p == filter; });
    }

    bool NameTaken(const std::wstring& name) const {
        return std::any_of(filters_.begin(), filters_.end(),
                           [&](const GraphEntry& entry) { return entry.name == name; });
    }

    // Filters ordered so that each comes after every filter feeding it.
    std::vector<IBaseFilter*> UpstreamFirst() {
        std::vector<IBaseFilter*> remaining;
        for (GraphEntry& entry : filters_) remaining.push_back(entry.filter);
        std::vector<IBaseFilter*> ordered;
        while (!remaining.empty()) {
            auto ready = std::find_if(remaining.begin(), remaining.end(), [&](IBaseFilter* f) {
                for (CComPtr<IPin>& pin : PinsOf(f)) {
                    PIN_DIRECTION direction;
                    CComPtr<IPin> peer;
                    if (FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_INPUT ||
                        FAILED(pin->ConnectedTo(&peer)) || !peer) {
                        continue;
                    }
                    IBaseFilter* feeder = FilterOfPin(peer);
                    if (std::find(remaining.begin(), remaining.end(), feeder) != remaining.end()) {
                        return false;
                    }
                }
                return true;
            });
            // A cycle cannot be ordered; take the rest as they are.
            if (ready == remaining.end()) ready = remaining.begin();
            ordered.push_back(*ready);
            remaining.erase(ready);
        }
        return ordered;
    }

    std::vector<IBaseFilter*> DownstreamFirst() {
        std::vector<IBaseFilter*> order = UpstreamFirst();
        std::reverse(order.begin(), order.end());
        return order;
    }

    // Renderers change first, so every filter finds its downstream neighbour ready; a filter
    // that refuses stops them all.
    template <class Change>
    HRESULT EnterState(FILTER_STATE target, const char* what, Change change) {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (state_ == target) return S_OK;
        for (IBaseFilter* filter : DownstreamFirst()) {
            const HRESULT hr = change(filter);
            if (FAILED(hr)) {
                TraceStateFailure(what, filter, hr);
                StopAll();
                return hr;
            }
        }
        state_ = target;
        return S_OK;
    }

    // Sources stop first, so no sample travels into a stopped filter.
    HRESULT StopAll() {
        HRESULT result = S_OK;
        for (IBaseFilter* filter : UpstreamFirst()) {
            const HRESULT hr = filter->Stop();
            if (FAILED(hr)) TraceStateFailure("Stop", filter, hr);
            if (FAILED(hr) && SUCCEEDED(result)) result = hr;
        }
        state_ = State_Stopped;
        return result;
    }

    void TraceStateFailure(const char* change, IBaseFilter* filter, HRESULT hr) {
        auto entry = Find(filter);
        sys::DebugTraceF("dshow graph: %s of filter '%s' failed (0x%08X)", change,
                         entry == filters_.end() ? "?" : com::WideToUtf8(entry->name).c_str(),
                         static_cast<unsigned>(hr));
    }

    static HRESULT RefuseConnection(IPin* out, IPin* in, const char* why, HRESULT hr) {
        if (sys::DebugTraceEnabled())
            sys::DebugTraceF("dshow graph: %s -> %s: %s", PinText(out).c_str(), PinText(in).c_str(),
                             why);
        return hr;
    }

    template <class Call>
    HRESULT WithWindow(Call call) {
        CComPtr<IVideoWindow> window;
        {
            std::lock_guard<std::recursive_mutex> guard(lock_);
            for (GraphEntry& entry : filters_) {
                if (SUCCEEDED(entry.filter->QueryInterface(IID_IVideoWindow,
                                                           reinterpret_cast<void**>(&window)))) {
                    break;
                }
            }
        }
        if (!window) return E_NOINTERFACE;
        return call(window);
    }

    std::recursive_mutex lock_;
    std::vector<GraphEntry> filters_;
    FILTER_STATE state_ = State_Stopped;
};

}  // namespace

HRESULT CreateFilterGraph(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CFilterGraph>(outer, riid, ppv);
}

}  // namespace dshow
