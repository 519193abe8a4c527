// The stream framework with a small test source: negotiation, allocators, delivery through
// the sample grabber to the renderers, time stamps, state changes, pin categories, device
// enumeration and a filter module loaded from a shared library.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/RegKey.h"
#include "platform/dshow/BaseClasses.h"
#include "platform/dshow/tests/TestSourceFilter.h"
#include "platform/registry/Registry.h"
#include "tests/support/TraceRecorder.h"

namespace {

constexpr long kImageSize = CTestSource::kWidth * CTestSource::kHeight * 3;

// Everything a callback or a surface saw, in order, from any thread.
class EventLog {
public:
    void Add(const std::string& what, int frame, double time = 0) {
        std::lock_guard<std::mutex> guard(lock_);
        events_.push_back({what, frame, time, std::this_thread::get_id()});
        changed_.notify_all();
    }
    // Waits (generously) until `count` events of a kind arrived.
    bool WaitFor(const std::string& what, size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(20),
                                 [&] { return CountLocked(what) >= count; });
    }
    struct Event {
        std::string what;
        int frame;
        double time;
        std::thread::id thread;
    };
    std::vector<Event> Events() {
        std::lock_guard<std::mutex> guard(lock_);
        return events_;
    }
    size_t Count(const std::string& what) {
        std::lock_guard<std::mutex> guard(lock_);
        return CountLocked(what);
    }

private:
    size_t CountLocked(const std::string& what) const {
        size_t n = 0;
        for (const Event& e : events_) n += e.what == what ? 1 : 0;
        return n;
    }
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<Event> events_;
};

// Records every frame and marks it in place, as the program's callback may do.
class RecordingCallback : public ISampleGrabberCB {
public:
    explicit RecordingCallback(EventLog& log) : log_(log) {}
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
            *ppv = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double time, BYTE* buffer, long length) override {
        EXPECT_EQ(kImageSize, length);
        const int frame = buffer[0];
        buffer[1] = 0xEE;  // seen downstream only if the sample travels on in place
        log_.Add("callback", frame, time);
        return S_OK;
    }

private:
    EventLog& log_;
};

class RecordingSurface : public IVideoDisplaySurface {
public:
    explicit RecordingSurface(EventLog& log) : log_(log) {}
    void ShowFrame(const BYTE* bits, long width, long height, long stride) override {
        EXPECT_EQ(CTestSource::kWidth, width);
        EXPECT_EQ(CTestSource::kHeight, height);
        EXPECT_EQ(CTestSource::kWidth * 3, stride);
        log_.Add(bits[1] == 0xEE ? "shown-marked" : "shown", bits[0]);
    }
    void SetGeometry(long left, long top, long width, long height) override {
        std::lock_guard<std::mutex> guard(lock);
        geometry = {left, top, width, height};
    }
    void SetVisible(bool visible) override {
        std::lock_guard<std::mutex> guard(lock);
        this->visible = visible;
    }
    std::mutex lock;
    std::vector<long> geometry;
    bool visible = false;

private:
    EventLog& log_;
};

class RecordingHost : public IVideoDisplayHost {
public:
    explicit RecordingHost(std::shared_ptr<RecordingSurface> surface) : surface_(surface) {}
    std::shared_ptr<IVideoDisplaySurface> CreateSurface(OAHWND owner) override {
        owners.push_back(owner);
        return surface_;
    }
    std::vector<OAHWND> owners;

private:
    std::shared_ptr<RecordingSurface> surface_;
};

template <class T>
CComPtr<T> Create(const CLSID& clsid, const IID& iid) {
    CComPtr<T> object;
    EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid,
                                     reinterpret_cast<void**>(&object)));
    return object;
}

CComPtr<IBaseFilter> NewTestSource(const std::vector<GUID>& categories = {PIN_CATEGORY_CAPTURE}) {
    HRESULT hr = S_OK;
    auto* source = new CTestSource(nullptr, &hr, categories);
    CComPtr<IBaseFilter> filter;
    source->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return filter;
}

AM_MEDIA_TYPE VideoType(const GUID& subtype) {
    AM_MEDIA_TYPE type{};
    type.majortype = MEDIATYPE_Video;
    type.subtype = subtype;
    return type;
}

// A graph: test source -> sample grabber -> sink (null renderer, or the default video
// renderer when `sink` is null).
struct TestGraph {
    CComPtr<IGraphBuilder> graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    CComPtr<ICaptureGraphBuilder2> builder =
        Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    CComPtr<IBaseFilter> source = NewTestSource();
    CComPtr<IBaseFilter> grabberFilter = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    CComPtr<ISampleGrabber> grabber;
    CComPtr<IMediaControl> control;

    TestGraph() {
        EXPECT_EQ(S_OK, builder->SetFiltergraph(graph));
        EXPECT_EQ(S_OK, graph->AddFilter(source, L"Capture Filter"));
        EXPECT_EQ(S_OK, graph->AddFilter(grabberFilter, L"Grabber"));
        grabberFilter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber));
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    }
    HRESULT Render(const GUID& subtype, IBaseFilter* sink) {
        AM_MEDIA_TYPE type = VideoType(subtype);
        EXPECT_EQ(S_OK, grabber->SetMediaType(&type));
        return builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source, grabberFilter,
                                     sink);
    }
};

class DShowTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/dshow-test-XXXXXX";
        folder_ = mkdtemp(pattern);
        // A module carries its own copy of the store: it finds the same folder through
        // the environment.
        setenv("XDG_CONFIG_HOME", folder_.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
        std::filesystem::create_directories(folder_ + "/run");
        registry::SetStoreFolders(folder_ + "/Skelvane", folder_ + "/run/Skelvane");
        CoInitialize(nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        SetVideoDisplayHost(nullptr);
        std::filesystem::remove_all(folder_);
    }
    std::string folder_;
};

// The RGB24 type of a size has rows padded to 4 bytes, whatever block it is given; the
// accessors read only blocks large enough, and VideoInfoHeaderOf only FORMAT_VideoInfo ones.
TEST(MediaTypeTest, Rgb24TypesAndTheirVideoInfo) {
    for (const ULONG blockSize : {ULONG{sizeof(VIDEOINFOHEADER)}, ULONG{sizeof(VIDEOINFO)}}) {
        CMediaType type;
        ASSERT_EQ(S_OK, SetRgb24VideoType(type, 5, 3, 333333, blockSize));
        EXPECT_EQ(MEDIATYPE_Video, type.majortype);
        EXPECT_EQ(MEDIASUBTYPE_RGB24, type.subtype);
        EXPECT_EQ(blockSize, type.cbFormat);
        EXPECT_EQ(48u, type.GetSampleSize());  // 16-byte rows
        const VIDEOINFOHEADER* info = VideoInfoHeaderOf(type);
        ASSERT_NE(nullptr, info);
        EXPECT_EQ(333333, info->AvgTimePerFrame);
        EXPECT_EQ(40u, info->bmiHeader.biSize);
        EXPECT_EQ(5, info->bmiHeader.biWidth);
        EXPECT_EQ(3, info->bmiHeader.biHeight);
        EXPECT_EQ(24, info->bmiHeader.biBitCount);
        EXPECT_EQ(48u, info->bmiHeader.biSizeImage);
    }
    CMediaType other;
    ASSERT_EQ(S_OK, SetRgb24VideoType(other, 8, 8, 0));
    other.SetFormatType(&FORMAT_VideoInfo2);
    EXPECT_EQ(nullptr, VideoInfoHeaderOf(other));
    EXPECT_NE(nullptr, VideoInfoBlockOf(other));
    other.ReallocFormatBuffer(sizeof(VIDEOINFOHEADER) - 1);
    EXPECT_EQ(nullptr, VideoInfoBlockOf(other));
}

TEST_F(DShowTest, ConnectsNegotiatesTheTypeAndSizesTheAllocator) {
    TestGraph g;
    CComPtr<IBaseFilter> sink = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_EQ(S_OK, g.graph->AddFilter(sink, L"NullRender"));
    ASSERT_EQ(S_OK, g.Render(MEDIASUBTYPE_RGB24, sink));

    AM_MEDIA_TYPE connected{};
    ASSERT_EQ(S_OK, g.grabber->GetConnectedMediaType(&connected));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, connected.subtype);
    ASSERT_EQ(FORMAT_VideoInfo, connected.formattype);
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat);
    EXPECT_EQ(CTestSource::kWidth, info->bmiHeader.biWidth);
    EXPECT_EQ(CTestSource::kHeight, info->bmiHeader.biHeight);
    FreeMediaType(connected);

    // The source sized the allocator that the grabber handed it, and the grabber passes
    // the same allocator on to the sink.
    CComPtr<IPin> grabberIn;
    ASSERT_EQ(S_OK, g.builder->FindPin(g.grabberFilter, PINDIR_INPUT, nullptr, nullptr, FALSE, 0,
                                       &grabberIn));
    CComPtr<IMemInputPin> memInput;
    grabberIn->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&memInput));
    CComPtr<IMemAllocator> allocator;
    ASSERT_EQ(S_OK, memInput->GetAllocator(&allocator));
    ALLOCATOR_PROPERTIES props{};
    allocator->GetProperties(&props);
    EXPECT_EQ(2, props.cBuffers);
    EXPECT_EQ(kImageSize, props.cbBuffer);

    // A second render of the same pin finds nothing free; types the grabber refuses leave
    // nothing connected behind.
    EXPECT_TRUE(FAILED(g.Render(MEDIASUBTYPE_RGB24, sink)));
    TestGraph refused;
    CComPtr<IBaseFilter> otherSink = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    refused.graph->AddFilter(otherSink, L"NullRender");
    EXPECT_TRUE(FAILED(refused.Render(MEDIASUBTYPE_RGB32, otherSink)));
    CComPtr<IPin> refusedIn;
    ASSERT_EQ(S_OK, refused.builder->FindPin(refused.grabberFilter, PINDIR_INPUT, nullptr, nullptr,
                                             TRUE, 0, &refusedIn));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, refused.grabber->GetConnectedMediaType(&connected));
}

// With the trace on, a stream that cannot be rendered says which pin refused which type,
// and which pin the builder could not find.
TEST_F(DShowTest, RefusalsAreTracedWithPinsTypesAndCodes) {
    support::TraceRecorder trace;
    TestGraph g;
    CComPtr<IBaseFilter> sink = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_EQ(S_OK, g.graph->AddFilter(sink, L"NullRender"));
    EXPECT_TRUE(FAILED(g.Render(MEDIASUBTYPE_RGB32, sink)));
    EXPECT_FALSE(
        trace
            .Find({"dshow 'Capture Filter'/'Out0' -> 'Grabber'/'Input': the receiving pin "
                   "refused the connection: Video RGB24 VideoInfo 64x48 24-bit (0x8004022A)"})
            .empty());
    EXPECT_FALSE(
        trace.Find({"'Capture Filter'/'Out0' -> 'Grabber'/'Input': no media type agreed"}).empty());
    EXPECT_TRUE(FAILED(g.builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, g.source,
                                               g.grabberFilter, sink)));
    EXPECT_FALSE(
        trace.Find({"dshow RenderStream: no free output pin of category Preview and type Video"})
            .empty());
}

TEST_F(DShowTest, FramesReachTheCallbackThenTheRendererWithTimeStampsAcrossRunStopRun) {
    EventLog log;
    auto surface = std::make_shared<RecordingSurface>(log);
    auto host = std::make_shared<RecordingHost>(surface);
    SetVideoDisplayHost(host);
    RecordingCallback callback(log);

    TestGraph g;
    ASSERT_EQ(S_OK, g.Render(MEDIASUBTYPE_RGB24, nullptr));  // default video renderer
    ASSERT_EQ(S_OK, g.grabber->SetBufferSamples(FALSE));
    ASSERT_EQ(S_OK, g.grabber->SetOneShot(FALSE));
    ASSERT_EQ(S_OK, g.grabber->SetCallback(&callback, 1));

    CComPtr<IVideoWindow> window;
    ASSERT_EQ(S_OK, g.graph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&window)));
    ASSERT_EQ(S_OK, window->put_Owner(42));
    ASSERT_EQ(S_OK, window->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN));
    ASSERT_EQ(S_OK, window->SetWindowPosition(0, 0, 320, 240));
    ASSERT_EQ(S_OK, window->put_Visible(OATRUE));
    EXPECT_EQ(std::vector<OAHWND>{42}, host->owners);
    {
        std::lock_guard<std::mutex> guard(surface->lock);
        EXPECT_EQ((std::vector<long>{0, 0, 320, 240}), surface->geometry);
        EXPECT_TRUE(surface->visible);
    }

    for (int run = 1; run <= 2; ++run) {
        ASSERT_EQ(S_OK, g.control->Run());
        OAFilterState state = State_Stopped;
        g.control->GetState(0, &state);
        EXPECT_EQ(State_Running, state);
        ASSERT_TRUE(log.WaitFor("shown-marked", static_cast<size_t>(5 * run)));
        ASSERT_EQ(S_OK, g.control->Stop());
        // Stop returns with the streaming thread gone: nothing arrives afterwards.
        const size_t seen = log.Events().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(seen, log.Events().size());
    }

    // Every frame went to the callback, on the streaming thread, before the renderer
    // showed it with the callback's change; stamps advance by one frame time per
    // sample and continue across Stop and Run.
    const std::vector<EventLog::Event> events = log.Events();
    int lastFrame = -1;
    for (size_t i = 0; i < events.size(); ++i) {
        const EventLog::Event& e = events[i];
        EXPECT_NE(std::this_thread::get_id(), e.thread);
        if (e.what == "callback") {
            EXPECT_EQ(lastFrame + 1, e.frame);
            EXPECT_NEAR(e.frame * 0.0333333, e.time, 1e-9);
            lastFrame = e.frame;
            ASSERT_LT(i + 1, events.size());
            EXPECT_EQ("shown-marked", events[i + 1].what);
            EXPECT_EQ(e.frame, events[i + 1].frame);
        }
    }
    EXPECT_EQ(0u, log.Count("shown"));
    EXPECT_GE(lastFrame, 9);
}

TEST_F(DShowTest, OneShotStopsAfterTheFirstSampleAndBufferedCopiesAreKept) {
    EventLog log;
    RecordingCallback callback(log);
    TestGraph g;
    CComPtr<IBaseFilter> sink = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    g.graph->AddFilter(sink, L"NullRender");
    ASSERT_EQ(S_OK, g.Render(MEDIASUBTYPE_RGB24, sink));
    long size = 0;
    EXPECT_EQ(E_INVALIDARG, g.grabber->GetCurrentBuffer(&size, nullptr));
    g.grabber->SetBufferSamples(TRUE);
    EXPECT_EQ(VFW_E_WRONG_STATE, g.grabber->GetCurrentBuffer(&size, nullptr));
    g.grabber->SetOneShot(TRUE);
    g.grabber->SetCallback(&callback, 1);

    ASSERT_EQ(S_OK, g.control->Run());
    ASSERT_TRUE(log.WaitFor("callback", 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    g.control->Stop();
    EXPECT_EQ(1u, log.Count("callback"));
    ASSERT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, nullptr));
    EXPECT_EQ(kImageSize, size);
    std::vector<long> copy(static_cast<size_t>(size) / sizeof(long) + 1);
    long small = size - 1;
    EXPECT_EQ(E_OUTOFMEMORY, g.grabber->GetCurrentBuffer(&small, copy.data()));
    EXPECT_EQ(S_OK, g.grabber->GetCurrentBuffer(&size, copy.data()));
}

TEST_F(DShowTest, PinCategoriesAreFoundThroughIKsPropertySet) {
    CComPtr<ICaptureGraphBuilder2> builder =
        Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    CComPtr<IBaseFilter> source = NewTestSource({PIN_CATEGORY_CAPTURE, PIN_CATEGORY_STILL});

    struct Case {
        const GUID* category;
        const GUID* type;
        const wchar_t* pinName;  // null: not found
    } cases[] = {
        {&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, L"Out0"},
        {&PIN_CATEGORY_STILL, nullptr, L"Out1"},
        {&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, nullptr},
        {&PIN_CATEGORY_STILL, &MEDIATYPE_Audio, nullptr},
    };
    for (const Case& c : cases) {
        CComPtr<IPin> pin;
        const HRESULT hr =
            builder->FindPin(source, PINDIR_OUTPUT, c.category, c.type, FALSE, 0, &pin);
        CComPtr<IKsPropertySet> properties;
        const HRESULT found = builder->FindInterface(c.category, c.type, source, IID_IKsPropertySet,
                                                     reinterpret_cast<void**>(&properties));
        if (c.pinName == nullptr) {
            EXPECT_TRUE(FAILED(hr));
            EXPECT_EQ(E_NOINTERFACE, found);
            continue;
        }
        ASSERT_EQ(S_OK, hr);
        PIN_INFO info{};
        pin->QueryPinInfo(&info);
        info.pFilter->Release();
        EXPECT_STREQ(c.pinName, info.achName);
        ASSERT_EQ(S_OK, found);
        GUID category{};
        DWORD returned = 0;
        EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                        &category, sizeof(category), &returned));
        EXPECT_EQ(*c.category, category);
    }
    // No pin offers stream configuration.
    CComPtr<IAMStreamConfig> config;
    EXPECT_EQ(E_NOINTERFACE,
              builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, source, IID_IAMStreamConfig,
                                     reinterpret_cast<void**>(&config)));
}

class TestCameraProvider : public IVideoInputProvider {
public:
    std::vector<VideoInputDevice> EnumerateDevices() override {
        VideoInputDevice device;
        device.friendlyName = "USB Test Cam";
        device.devicePath = "usb#vid_0c45&pid_6340&mi_00#1-2";
        device.createFilter = [](IBaseFilter** filter) {
            *filter = NewTestSource().Detach();
            return S_OK;
        };
        return {device};
    }
};

std::string ReadBagText(IMoniker* moniker, const wchar_t* name, HRESULT* result) {
    CComPtr<IPropertyBag> bag;
    EXPECT_EQ(S_OK, moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                           reinterpret_cast<void**>(&bag)));
    VARIANT value;
    VariantInit(&value);
    *result = bag->Read(name, &value, nullptr);
    std::string text = value.vt == VT_BSTR ? com::WideToUtf8(value.bstrVal) : std::string();
    VariantClear(&value);
    return text;
}

std::vector<CComPtr<IMoniker>> VideoInputDevices(HRESULT* result) {
    CComPtr<ICreateDevEnum> devices =
        Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    CComPtr<IEnumMoniker> monikers;
    *result = devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
    std::vector<CComPtr<IMoniker>> list;
    IMoniker* moniker = nullptr;
    while (monikers && monikers->Next(1, &moniker, nullptr) == S_OK) {
        CComPtr<IMoniker> held;
        held.Attach(moniker);
        list.push_back(held);
    }
    return list;
}

TEST_F(DShowTest, ModuleRegistersIntoTheCategoryIsCreatedStreamsAndUnloads) {
    HRESULT hr = S_OK;
    EXPECT_TRUE(VideoInputDevices(&hr).empty());
    EXPECT_EQ(S_FALSE, hr);

    // Registration through the module's own exports, as the registration tool runs it.
    void* module = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, module) << dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
    auto unregisterServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllUnregisterServer"));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);
    ASSERT_EQ(S_OK, registerServer());
    ASSERT_EQ(S_OK, registerServer());  // twice: still one device
    dlclose(module);

    const std::string clsid = com::GuidToString(CLSID_TestSource);
    com::RegKey server;
    ASSERT_EQ(ERROR_SUCCESS,
              server.Open(HKEY_CLASSES_ROOT, "CLSID\\" + clsid + "\\InprocServer32"));
    std::string text;
    server.ReadText("", text);
    EXPECT_EQ(std::filesystem::canonical(TEST_MODULE_PATH).string(), text);
    server.ReadText("ThreadingModel", text);
    EXPECT_EQ("Both", text);
    com::RegKey legacy;
    EXPECT_EQ(
        ERROR_SUCCESS,
        legacy.Open(HKEY_CLASSES_ROOT, "CLSID\\" + com::GuidToString(CLSID_LegacyAmFilterCategory) +
                                           "\\Instance\\" + clsid));

    // Provider devices come first, then the registered instance, which has no device path.
    auto provider = std::make_shared<TestCameraProvider>();
    RegisterVideoInputProvider(provider);
    std::vector<CComPtr<IMoniker>> devices = VideoInputDevices(&hr);
    UnregisterVideoInputProvider(provider);
    EXPECT_EQ(S_OK, hr);
    ASSERT_EQ(2u, devices.size());
    HRESULT read = S_OK;
    EXPECT_EQ("USB Test Cam", ReadBagText(devices[0], L"FriendlyName", &read));
    EXPECT_EQ("usb#vid_0c45&pid_6340&mi_00#1-2", ReadBagText(devices[0], L"DevicePath", &read));
    EXPECT_EQ(S_OK, read);
    EXPECT_EQ("test camera", ReadBagText(devices[1], L"FriendlyName", &read));
    EXPECT_EQ(clsid, ReadBagText(devices[1], L"CLSID", &read));
    ReadBagText(devices[1], L"DevicePath", &read);
    EXPECT_TRUE(FAILED(read));

    // An instance key that carries a device path is listed like a camera.
    com::RegKey instance;
    ASSERT_EQ(ERROR_SUCCESS,
              instance.Open(HKEY_CLASSES_ROOT,
                            "CLSID\\" + com::GuidToString(CLSID_VideoInputDeviceCategory) +
                                "\\Instance\\test camera",
                            KEY_ALL_ACCESS));
    instance.WriteText("DevicePath", "usb#vid_1234&pid_0001&mi_00#9-9");
    EXPECT_EQ("usb#vid_1234&pid_0001&mi_00#9-9", ReadBagText(devices[1], L"DevicePath", &read));

    // Binding loads the module and creates its filter, which streams into our grabber
    // through our allocator.
    const std::string modulePath = std::filesystem::canonical(TEST_MODULE_PATH).string();
    {
        EventLog log;
        RecordingCallback callback(log);
        TestGraph g;
        g.graph->RemoveFilter(g.source);
        g.source.Release();
        ASSERT_EQ(S_OK, devices[1]->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                 reinterpret_cast<void**>(&g.source)));
        EXPECT_TRUE(com::IsServerLoaded(modulePath));
        CLSID created{};
        g.source->GetClassID(&created);
        EXPECT_EQ(CLSID_TestSource, created);
        ASSERT_EQ(S_OK, g.graph->AddFilter(g.source, L"Capture Filter"));
        CComPtr<IBaseFilter> sink = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
        g.graph->AddFilter(sink, L"NullRender");
        ASSERT_EQ(S_OK, g.Render(MEDIASUBTYPE_RGB24, sink));
        g.grabber->SetCallback(&callback, 1);
        ASSERT_EQ(S_OK, g.control->Run());
        ASSERT_TRUE(log.WaitFor("callback", 3));
        g.control->Stop();
        CoFreeUnusedLibraries();
        EXPECT_TRUE(com::IsServerLoaded(modulePath));  // its filter is still alive
    }
    CoFreeUnusedLibraries();
    EXPECT_FALSE(com::IsServerLoaded(modulePath));

    // Unknown classes and unregistration.
    CComPtr<IUnknown> unknown;
    const CLSID other = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(other, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)));
    module = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, module);
    auto getClassObject =
        reinterpret_cast<HRESULT (*)(REFCLSID, REFIID, void**)>(dlsym(module, "DllGetClassObject"));
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              getClassObject(other, IID_IClassFactory, reinterpret_cast<void**>(&unknown)));
    unregisterServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllUnregisterServer"));
    EXPECT_EQ(S_OK, unregisterServer());
    dlclose(module);
    EXPECT_TRUE(VideoInputDevices(&hr).empty());
    EXPECT_EQ(S_FALSE, hr);
    EXPECT_EQ(REGDB_E_CLASSNOTREG,
              CoCreateInstance(CLSID_TestSource, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&unknown)));
}

}  // namespace
