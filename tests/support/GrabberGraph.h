// Capture graphs in tests and benchmarks: a camera filter whose capture pin (and, when asked,
// still pin) runs into an RGB24 sample grabber and a null renderer, and the callback those
// grabbers hand their buffers to.
#pragma once

#include "platform/dshow/DShow.h"

namespace support {

// A grabber callback that lives on its owner's stack for longer than its graph: it keeps no
// reference count, hands out no interface and only takes buffers.
template <class Base = ISampleGrabberCB>
class BufferCallback : public Base {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
};

// Makes an object of a built-in or registered class; null when that fails.
template <class T>
CComPtr<T> CreateObject(const CLSID& clsid, const IID& iid) {
    CComPtr<T> object;
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&object));
    return object;
}

struct GrabberGraph {
    CComPtr<IGraphBuilder> graph;
    CComPtr<ICaptureGraphBuilder2> builder;
    CComPtr<IMediaControl> control;
    CComPtr<IBaseFilter> grabber;       // on the capture pin
    CComPtr<IBaseFilter> stillGrabber;  // on the still pin, when one was asked for
};

// Renders the camera's pin of `category` into a new RGB24 sample grabber that hands every
// buffer to `callback`, and on into a null renderer. The first failure, else S_OK.
inline HRESULT AddGrabberBranch(GrabberGraph& g, IBaseFilter* camera, const GUID& category,
                                ISampleGrabberCB* callback, const wchar_t* grabberName,
                                const wchar_t* rendererName, CComPtr<IBaseFilter>& grabber) {
    grabber = CreateObject<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = CreateObject<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    if (!grabber || !renderer) return E_FAIL;
    CComPtr<ISampleGrabber> sampleGrabber;
    AM_MEDIA_TYPE rgb24{};
    rgb24.majortype = MEDIATYPE_Video;
    rgb24.subtype = MEDIASUBTYPE_RGB24;
    HRESULT hr = grabber.QueryInterface(IID_ISampleGrabber, &sampleGrabber);
    if (SUCCEEDED(hr)) hr = sampleGrabber->SetMediaType(&rgb24);
    if (SUCCEEDED(hr)) hr = sampleGrabber->SetCallback(callback, 1);
    if (SUCCEEDED(hr)) hr = g.graph->AddFilter(grabber, grabberName);
    if (SUCCEEDED(hr)) hr = g.graph->AddFilter(renderer, rendererName);
    if (SUCCEEDED(hr))
        hr = g.builder->RenderStream(&category, &MEDIATYPE_Video, camera, grabber, renderer);
    return hr;
}

// Puts `camera` into a new graph with a grabber on its capture pin handing buffers to
// `preview` and, when `still` is given, one on its still pin handing them to `still`. The
// graph is left stopped. The first failure, else S_OK.
inline HRESULT BuildGrabberGraph(IBaseFilter* camera, ISampleGrabberCB* preview,
                                 ISampleGrabberCB* still, GrabberGraph& g) {
    g.graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    g.builder =
        CreateObject<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    if (!g.graph || !g.builder) return E_FAIL;
    HRESULT hr = g.builder->SetFiltergraph(g.graph);
    if (SUCCEEDED(hr)) hr = g.graph.QueryInterface(IID_IMediaControl, &g.control);
    if (SUCCEEDED(hr)) hr = g.graph->AddFilter(camera, L"Capture Filter");
    if (SUCCEEDED(hr))
        hr = AddGrabberBranch(g, camera, PIN_CATEGORY_CAPTURE, preview, L"Grabber", L"Null",
                              g.grabber);
    if (SUCCEEDED(hr) && still != nullptr)
        hr = AddGrabberBranch(g, camera, PIN_CATEGORY_STILL, still, L"SampleGrab", L"NullRender",
                              g.stillGrabber);
    return hr;
}

}  // namespace support
