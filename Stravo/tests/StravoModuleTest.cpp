// The built module as the viewer meets it: registered by the real skelvane-regsvr, listed
// by the device enumerator, loaded through the component runtime, and streaming the
// camera simulator's pictures into a graph with a sample grabber.
#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Stravo/StravoFilter.h"
#include "Stravo/tests/TempStore.h"
#include "common/CRegistry.h"
#include "platform/dshow/DShow.h"
#include "platform/registry/Registry.h"
#include "tools/camsim/CamSimProcess.h"
#include "tools/camsim/TestPattern.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Nothing listens there: binding the device must not reach any real network.
constexpr const char* kSilentAddress = "127.0.0.66";
constexpr const char* kCameraAddress = "127.0.0.62";
constexpr int kPort = 8080;

std::string BinPath(const std::string& name) {
    const char* binDir = std::getenv("SKELVANE_BIN_DIR");
    return std::string(binDir != nullptr ? binDir : ".") + "/" + name;
}

std::string ModulePath() {
    return BinPath("libStravo.so");
}

// Whether the module is still mapped into this process, whatever the runtime's table says.
bool ModuleMapped() {
    void* handle = dlopen(ModulePath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) dlclose(handle);
    return handle != nullptr;
}

struct WifiDevice {
    CComPtr<IMoniker> moniker;
    bool hasPath = false;
};

bool ReadText(IPropertyBag* bag, const wchar_t* name, std::wstring& text) {
    VARIANT value;
    VariantInit(&value);
    if (FAILED(bag->Read(name, &value, nullptr)) || value.vt != VT_BSTR) return false;
    text = value.bstrVal;
    VariantClear(&value);
    return true;
}

// The video-input devices named "wifi device".
std::vector<WifiDevice> WifiDevices() {
    std::vector<WifiDevice> found;
    CComPtr<ICreateDevEnum> devices;
    if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(&devices)))) {
        return found;
    }
    CComPtr<IEnumMoniker> category;
    if (devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &category, 0) != S_OK) {
        return found;
    }
    for (CComPtr<IMoniker> moniker; category->Next(1, &moniker, nullptr) == S_OK;
         moniker.Release()) {
        CComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                          reinterpret_cast<void**>(&bag)))) {
            continue;
        }
        std::wstring name, path;
        if (!ReadText(bag, L"FriendlyName", name) || name != L"wifi device") continue;
        found.push_back(WifiDevice{moniker, ReadText(bag, L"DevicePath", path)});
    }
    return found;
}

constexpr long kFrameBytes = 640 * 480 * 3;

// Picture rows counted from the top; memory holds the bottom row first.
const BYTE* PixelOf(const BYTE* frame, int x, int rowFromTop) {
    return frame + (480 - 1 - rowFromTop) * 640 * 3 + x * 3;
}

std::array<BYTE, 3> TopLeftPixel(const BYTE* frame) {
    const BYTE* pixel = PixelOf(frame, 160, 120);
    return {pixel[0], pixel[1], pixel[2]};
}

bool Near(const BYTE* bgr, const camsim::Rgb& colour) {
    return std::abs(bgr[0] - colour.blue) < 40 && std::abs(bgr[1] - colour.green) < 40 &&
           std::abs(bgr[2] - colour.red) < 40;
}

// Records what reaches the grabber's buffer callback.
class FrameRecorder : public ISampleGrabberCB {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    HRESULT BufferCB(double time, BYTE* buffer, long length) override {
        std::lock_guard<std::mutex> lock(mutex_);
        times_.push_back(time);
        lengths_.push_back(length);
        lastFrame_.assign(buffer, buffer + length);
        if (length >= kFrameBytes) topLeft_.push_back(TopLeftPixel(buffer));
        arrived_.notify_all();
        return S_OK;
    }
    bool WaitForFrames(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, 20s, [&] { return times_.size() >= count; });
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_.size();
    }
    std::vector<double> Times() {
        std::lock_guard<std::mutex> lock(mutex_);
        return times_;
    }
    std::vector<long> Lengths() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lengths_;
    }
    // The centre of the top-left quadrant of every frame, blue-green-red.
    std::vector<std::array<BYTE, 3>> TopLeftPixels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return topLeft_;
    }
    std::vector<BYTE> LastFrame() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastFrame_;
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<double> times_;
    std::vector<long> lengths_;
    std::vector<BYTE> lastFrame_;
    std::vector<std::array<BYTE, 3>> topLeft_;
};

class StravoModuleTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("stravo-module-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        // The module and the tool find the store through the environment.
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        CoInitialize(nullptr);
    }
    void TearDown() override {
        CoUninitialize();
        fs::remove_all(root_);
    }

    // Runs skelvane-regsvr; returns its exit status, its standard error in `errors`.
    int RunRegsvr(const std::vector<std::string>& arguments, std::string* errors = nullptr) {
        const std::string errorFile = (root_ / "regsvr-errors.txt").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        std::string path = BinPath("skelvane-regsvr");
        std::vector<std::string> copies = arguments;
        std::vector<char*> argv{path.data()};
        for (std::string& argument : copies) argv.push_back(argument.data());
        argv.push_back(nullptr);
        pid_t pid = -1;
        const int spawned =
            posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) return -1;
        int status = 0;
        waitpid(pid, &status, 0);
        if (errors != nullptr) {
            std::ifstream file(errorFile);
            std::stringstream text;
            text << file.rdbuf();
            *errors = text.str();
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    static void PointCameraAt(const char* address, int port) {
        ASSERT_TRUE(WriteCameraAddress(address, port));
    }

    fs::path root_;
};

TEST_F(StravoModuleTest, RegisteredOnceAsWifiDeviceWithoutPathAndGoneAfterUnregistering) {
    PointCameraAt(kSilentAddress, kPort);
    ASSERT_EQ(RunRegsvr({ModulePath()}), 0);
    ASSERT_EQ(RunRegsvr({ModulePath()}), 0);

    std::vector<WifiDevice> devices = WifiDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_FALSE(devices[0].hasPath);
    {
        CComPtr<IBaseFilter> filter;
        ASSERT_EQ(devices[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&filter)),
                  S_OK);
        CLSID clsid{};
        ASSERT_EQ(filter->GetClassID(&clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_StravoFilter);
        CComPtr<IPin> pin;
        EXPECT_EQ(filter->FindPin(L"Out", &pin), S_OK);
        CComPtr<IAMStreamConfig> config;
        ASSERT_EQ(filter->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)),
                  S_OK);
        int count = -1, size = 0;
        EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        EXPECT_EQ(count, 0);  // nobody answers at the configured address
    }
    devices.clear();
    CoFreeUnusedLibraries();
    // Unloaded for real: a module kept mapped would keep its old store folder.
    EXPECT_FALSE(ModuleMapped());

    ASSERT_EQ(RunRegsvr({"-u", ModulePath()}), 0);
    EXPECT_TRUE(WifiDevices().empty());
    CComPtr<IBaseFilter> filter;
    EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_StravoFilter, nullptr, CLSCTX_INPROC_SERVER,
                                        IID_IBaseFilter, reinterpret_cast<void**>(&filter))));
}

// With no address in the store the module falls back to the camera's own address; the test
// support stands between it and the network, and never stores such an address itself.
TEST_F(StravoModuleTest, TestsNeverReachAnAddressOutsideLoopback) {
    EXPECT_FALSE(WriteCameraAddress("192.168.5.1", kPort));
    ASSERT_EQ(RunRegsvr({ModulePath()}), 0);
    ::testing::TestPartResultArray failures;
    int formats = -1;
    {
        ::testing::ScopedFakeTestPartResultReporter intercept(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &failures);
        CComPtr<IBaseFilter> filter;
        ASSERT_EQ(CoCreateInstance(CLSID_StravoFilter, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
                  S_OK);
        CComPtr<IAMStreamConfig> config;
        ASSERT_EQ(filter->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)),
                  S_OK);
        int size = 0;
        config->GetNumberOfCapabilities(&formats, &size);
    }
    ASSERT_EQ(failures.size(), 1);
    EXPECT_NE(std::string(failures.GetTestPartResult(0).message()).find("192.168.5.1:8080"),
              std::string::npos)
        << failures.GetTestPartResult(0).message();
    EXPECT_EQ(formats, 0) << "the refused connection leaves the camera unreachable";
    CoFreeUnusedLibraries();
}

TEST_F(StravoModuleTest, RegsvrReportsWhatFailed) {
    std::string errors;
    EXPECT_EQ(RunRegsvr({}, &errors), 2);
    EXPECT_EQ(RunRegsvr({(root_ / "missing.so").string()}, &errors), 1);
    EXPECT_NE(errors.find("cannot load"), std::string::npos) << errors;

    // A store that cannot be written: the module's failure code is shown in hex.
    const fs::path blocked = root_ / "not-a-folder";
    std::ofstream(blocked) << "x";
    setenv("XDG_CONFIG_HOME", blocked.c_str(), 1);
    const int status = RunRegsvr({ModulePath()}, &errors);
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    EXPECT_EQ(status, 1);
    EXPECT_NE(errors.find("DllRegisterServer"), std::string::npos) << errors;
    EXPECT_NE(errors.find("0x8"), std::string::npos) << errors;
}

TEST_F(StravoModuleTest, GraphWithRgb24GrabberReceivesBottomUpCameraPictures) {
    CamSimProcess camera({"--address", kCameraAddress, "--port", std::to_string(kPort)});
    ASSERT_TRUE(camera.Ready());
    PointCameraAt(kCameraAddress, kPort);
    ASSERT_EQ(RunRegsvr({ModulePath()}), 0);
    std::vector<WifiDevice> devices = WifiDevices();
    ASSERT_EQ(devices.size(), 1u);

    FrameRecorder recorder;
    {
        CComPtr<IGraphBuilder> graph;
        CComPtr<ICaptureGraphBuilder2> builder;
        CComPtr<IBaseFilter> device, grabberFilter, renderer;
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGraphBuilder, reinterpret_cast<void**>(&graph)),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder)),
                  S_OK);
        ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
        ASSERT_EQ(devices[0].moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                   reinterpret_cast<void**>(&device)),
                  S_OK);
        devices.clear();
        ASSERT_EQ(graph->AddFilter(device, L"Capture Filter"), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&grabberFilter)),
                  S_OK);
        CComPtr<ISampleGrabber> grabber;
        ASSERT_EQ(grabberFilter.QueryInterface(IID_ISampleGrabber, &grabber), S_OK);
        AM_MEDIA_TYPE rgb24{};
        rgb24.majortype = MEDIATYPE_Video;
        rgb24.subtype = MEDIASUBTYPE_RGB24;
        ASSERT_EQ(grabber->SetMediaType(&rgb24), S_OK);
        ASSERT_EQ(graph->AddFilter(grabberFilter, L"Grabber"), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IBaseFilter, reinterpret_cast<void**>(&renderer)),
                  S_OK);
        ASSERT_EQ(graph->AddFilter(renderer, L"Null Renderer"), S_OK);
        ASSERT_EQ(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, device,
                                        grabberFilter, renderer),
                  S_OK);

        AM_MEDIA_TYPE connected{};
        ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
        EXPECT_EQ(connected.subtype, MEDIASUBTYPE_RGB24);
        ASSERT_GE(connected.cbFormat, sizeof(VIDEOINFOHEADER));
        const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(connected.pbFormat);
        EXPECT_EQ(info->bmiHeader.biWidth, 640);
        EXPECT_EQ(info->bmiHeader.biHeight, 480);  // positive: bottom row first
        FreeMediaType(connected);
        ASSERT_EQ(grabber->SetCallback(&recorder, 1), S_OK);

        CComPtr<IMediaControl> control;
        ASSERT_EQ(graph.QueryInterface(IID_IMediaControl, &control), S_OK);
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(recorder.WaitForFrames(15));
        ASSERT_EQ(control->Stop(), S_OK);
        const size_t beforeRestart = recorder.Count();
        const double lastBeforeStop = recorder.Times().back();
        ASSERT_EQ(control->Run(), S_OK);
        ASSERT_TRUE(recorder.WaitForFrames(beforeRestart + 5));
        ASSERT_EQ(control->Stop(), S_OK);

        const std::vector<double> times = recorder.Times();
        EXPECT_EQ(times[0], 0.0);
        for (size_t i = 1; i < beforeRestart; ++i) {
            EXPECT_NEAR(times[i] - times[i - 1], 0.0333333, 1e-6) << i;
        }
        // The sample counter survives stop and run: stamps go on, never from 0 again.
        EXPECT_GT(times[beforeRestart], lastBeforeStop);
        for (long length : recorder.Lengths()) EXPECT_EQ(length, 921600);

        const std::vector<BYTE> frame = recorder.LastFrame();
        ASSERT_EQ(frame.size(), static_cast<size_t>(kFrameBytes));
        EXPECT_TRUE(Near(PixelOf(frame.data(), 160, 120), camsim::kTopLeftColour));
        EXPECT_TRUE(Near(PixelOf(frame.data(), 480, 120), camsim::kTopRightColour));
        EXPECT_TRUE(Near(PixelOf(frame.data(), 160, 360), camsim::kBottomLeftColour));
        // The very first frame already shows the camera, not whatever the buffer held.
        size_t index = 0;
        for (const std::array<BYTE, 3>& pixel : recorder.TopLeftPixels()) {
            EXPECT_TRUE(Near(pixel.data(), camsim::kTopLeftColour)) << "frame " << index;
            ++index;
        }
    }
    CoFreeUnusedLibraries();
    // Unloaded for real: a module kept mapped would keep its old store folder.
    EXPECT_FALSE(ModuleMapped());
}

}  // namespace
