// The capture graph builder: finds pins by category and interfaces on or around a filter,
// and renders a stream through an intermediate filter into a sink or a video renderer.
#include <algorithm>

#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

bool IsConnected(IPin* pin) {
    CComPtr<IPin> peer;
    return SUCCEEDED(pin->ConnectedTo(&peer)) && peer;
}

PIN_DIRECTION DirectionOf(IPin* pin) {
    PIN_DIRECTION direction = PINDIR_INPUT;
    pin->QueryDirection(&direction);
    return direction;
}

// The filters on the other side of the pins of one direction.
std::vector<CComPtr<IBaseFilter>> Neighbours(IBaseFilter* filter, PIN_DIRECTION side) {
    std::vector<CComPtr<IBaseFilter>> result;
    for (CComPtr<IPin>& pin : PinsOf(filter)) {
        CComPtr<IPin> peer;
        if (DirectionOf(pin) != side || FAILED(pin->ConnectedTo(&peer)) || !peer) continue;
        PIN_INFO info{};
        if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter != nullptr) {
            CComPtr<IBaseFilter> neighbour;
            neighbour.Attach(info.pFilter);
            result.push_back(neighbour);
        }
    }
    return result;
}

// The interface on the filter itself or on one of its pins.
HRESULT FindOnFilter(IBaseFilter* filter, REFIID riid, void** ppint) {
    if (SUCCEEDED(filter->QueryInterface(riid, ppint))) return S_OK;
    for (CComPtr<IPin>& pin : PinsOf(filter)) {
        if (SUCCEEDED(pin->QueryInterface(riid, ppint))) return S_OK;
    }
    return E_NOINTERFACE;
}

// Searches the filters beyond `filter` in one direction, nearest first.
HRESULT FindAlong(IBaseFilter* filter, PIN_DIRECTION side, REFIID riid, void** ppint,
                  std::vector<IBaseFilter*>& visited) {
    for (CComPtr<IBaseFilter>& next : Neighbours(filter, side)) {
        if (std::find(visited.begin(), visited.end(), next.p) != visited.end()) continue;
        visited.push_back(next.p);
        if (SUCCEEDED(FindOnFilter(next, riid, ppint))) return S_OK;
        if (SUCCEEDED(FindAlong(next, side, riid, ppint, visited))) return S_OK;
    }
    return E_NOINTERFACE;
}

// The first unconnected pin of a direction.
CComPtr<IPin> FreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
    for (CComPtr<IPin>& pin : PinsOf(filter)) {
        if (DirectionOf(pin) == direction && !IsConnected(pin)) return pin;
    }
    return {};
}

class CCaptureGraphBuilder : public CUnknown, public ICaptureGraphBuilder2 {
public:
    explicit CCaptureGraphBuilder(HRESULT* phr) : CUnknown("capture graph builder", nullptr, phr) {}
    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ICaptureGraphBuilder2) {
            return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), ppv);
        }
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT SetFiltergraph(IGraphBuilder* pfg) override {
        if (pfg == nullptr) return E_POINTER;
        if (graph_) return E_UNEXPECTED;
        graph_ = pfg;
        return S_OK;
    }

    HRESULT GetFiltergraph(IGraphBuilder** ppfg) override {
        if (ppfg == nullptr) return E_POINTER;
        if (!graph_) {
            const HRESULT hr =
                CreateFilterGraph(nullptr, IID_IGraphBuilder, reinterpret_cast<void**>(&graph_));
            if (FAILED(hr)) return hr;
        }
        return graph_.CopyTo(ppfg);
    }

    HRESULT FindInterface(const GUID* pCategory, const GUID* pType, IBaseFilter* pf, REFIID riid,
                          void** ppint) override {
        if (pf == nullptr || ppint == nullptr) return E_POINTER;
        *ppint = nullptr;
        std::vector<IBaseFilter*> visited{pf};
        if (pCategory != nullptr && *pCategory == LOOK_UPSTREAM_ONLY) {
            return FindAlong(pf, PINDIR_INPUT, riid, ppint, visited);
        }
        if (pCategory != nullptr && *pCategory == LOOK_DOWNSTREAM_ONLY) {
            return FindAlong(pf, PINDIR_OUTPUT, riid, ppint, visited);
        }
        if (pCategory != nullptr) {
            // On the output pin of that category, then downstream of it.
            CComPtr<IPin> pin;
            if (FAILED(FindPin(pf, PINDIR_OUTPUT, pCategory, pType, FALSE, 0, &pin))) {
                return E_NOINTERFACE;
            }
            if (SUCCEEDED(pin->QueryInterface(riid, ppint))) return S_OK;
            CComPtr<IPin> peer;
            if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) {
                PIN_INFO info{};
                if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter != nullptr) {
                    CComPtr<IBaseFilter> next;
                    next.Attach(info.pFilter);
                    visited.push_back(next.p);
                    if (SUCCEEDED(FindOnFilter(next, riid, ppint))) return S_OK;
                    return FindAlong(next, PINDIR_OUTPUT, riid, ppint, visited);
                }
            }
            return E_NOINTERFACE;
        }
        if (SUCCEEDED(FindOnFilter(pf, riid, ppint))) return S_OK;
        if (SUCCEEDED(FindAlong(pf, PINDIR_OUTPUT, riid, ppint, visited))) return S_OK;
        return FindAlong(pf, PINDIR_INPUT, riid, ppint, visited);
    }

    HRESULT RenderStream(const GUID* pCategory, const GUID* pType, IUnknown* pSource,
                         IBaseFilter* pfCompressor, IBaseFilter* pfRenderer) override {
        if (pSource == nullptr) return E_POINTER;
        if (!graph_) return E_UNEXPECTED;
        CComPtr<IPin> current;
        if (FAILED(FindPin(pSource, PINDIR_OUTPUT, pCategory, pType, TRUE, 0, &current))) {
            if (sys::DebugTraceEnabled())
                sys::DebugTraceF(
                    "dshow RenderStream: no free output pin of category %s and type %s",
                    GuidText(pCategory).c_str(), GuidText(pType).c_str());
            return E_FAIL;
        }
        // Connections made here are undone on failure, so a second attempt (another pin
        // category, say) finds the intermediate filter free again.
        std::vector<CComPtr<IPin>> made;
        CComPtr<IBaseFilter> defaultRenderer;
        const HRESULT hr = Render(current, pfCompressor, pfRenderer, made, defaultRenderer);
        if (FAILED(hr)) {
            for (CComPtr<IPin>& pin : made) {
                CComPtr<IPin> peer;
                if (SUCCEEDED(pin->ConnectedTo(&peer)) && peer) peer->Disconnect();
                pin->Disconnect();
            }
            if (defaultRenderer) graph_->RemoveFilter(defaultRenderer);
        }
        return hr;
    }

    HRESULT FindPin(IUnknown* pSource, PIN_DIRECTION pindir, const GUID* pCategory,
                    const GUID* pType, BOOL fUnconnected, int num, IPin** ppPin) override {
        if (pSource == nullptr || ppPin == nullptr) return E_POINTER;
        *ppPin = nullptr;
        std::vector<CComPtr<IPin>> candidates;
        CComPtr<IPin> sourcePin;
        CComPtr<IBaseFilter> sourceFilter;
        if (SUCCEEDED(pSource->QueryInterface(IID_IPin, reinterpret_cast<void**>(&sourcePin)))) {
            candidates.push_back(sourcePin);
        } else if (SUCCEEDED(pSource->QueryInterface(IID_IBaseFilter,
                                                     reinterpret_cast<void**>(&sourceFilter)))) {
            candidates = PinsOf(sourceFilter);
        } else {
            return E_NOINTERFACE;
        }
        int matches = 0;
        for (CComPtr<IPin>& pin : candidates) {
            if (DirectionOf(pin) != pindir) continue;
            if (pCategory != nullptr && PinCategory(pin) != *pCategory) continue;
            if (pType != nullptr && !PinHasMajorType(pin, *pType)) continue;
            if (fUnconnected && IsConnected(pin)) continue;
            if (matches++ == num) return pin.CopyTo(ppPin);
        }
        return E_FAIL;
    }

private:
    static HRESULT Refused(const char* why, HRESULT hr = VFW_E_CANNOT_CONNECT) {
        sys::DebugTraceF("dshow RenderStream: %s (0x%08X)", why, static_cast<unsigned>(hr));
        return hr;
    }

    HRESULT ConnectTracked(IPin* out, IPin* in, std::vector<CComPtr<IPin>>& made) {
        const HRESULT hr = graph_->Connect(out, in);
        if (SUCCEEDED(hr)) made.emplace_back(out);
        return hr;
    }

    HRESULT Render(CComPtr<IPin> current, IBaseFilter* pfCompressor, IBaseFilter* pfRenderer,
                   std::vector<CComPtr<IPin>>& made, CComPtr<IBaseFilter>& defaultRenderer) {
        HRESULT hr = S_OK;
        if (pfCompressor != nullptr) {
            CComPtr<IPin> in = FreePin(pfCompressor, PINDIR_INPUT);
            if (!in) return Refused("the intermediate filter has no free input pin");
            hr = ConnectTracked(current, in, made);
            if (FAILED(hr)) return hr;
            current = FreePin(pfCompressor, PINDIR_OUTPUT);
            // An intermediate filter without an output is the end of the stream.
            if (!current) {
                return pfRenderer == nullptr
                           ? S_OK
                           : Refused("the intermediate filter has no free output pin");
            }
        }
        if (pfRenderer != nullptr) {
            CComPtr<IPin> in = FreePin(pfRenderer, PINDIR_INPUT);
            if (!in) return Refused("the renderer has no free input pin");
            return ConnectTracked(current, in, made);
        }
        hr = CreateVideoRenderer(nullptr, IID_IBaseFilter,
                                 reinterpret_cast<void**>(&defaultRenderer));
        if (FAILED(hr)) return Refused("the video renderer cannot be created", hr);
        hr = graph_->AddFilter(defaultRenderer, L"Video Renderer");
        if (FAILED(hr)) {
            defaultRenderer.Release();
            return hr;
        }
        CComPtr<IPin> in = FreePin(defaultRenderer, PINDIR_INPUT);
        if (!in) return Refused("the video renderer has no free input pin", VFW_E_CANNOT_RENDER);
        hr = ConnectTracked(current, in, made);
        return FAILED(hr) ? VFW_E_CANNOT_RENDER : S_OK;
    }

    CComPtr<IGraphBuilder> graph_;
};

}  // namespace

HRESULT CreateCaptureGraphBuilder(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CCaptureGraphBuilder>(outer, riid, ppv);
}

}  // namespace dshow
