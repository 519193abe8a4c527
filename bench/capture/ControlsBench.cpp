// What remembering camera settings adds before the first picture: reading a camera's ten
// remembered values from the settings store, checking them against the camera's controls as
// it lists them now, and setting them (goal: under 20 ms). Against recorded camera answers,
// and against vivid when /dev/video0 is vivid (in the test VM: scripts/vm-run).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "Skelvane/capture/CameraSettings.h"
#include "platform/registry/Registry.h"
#include "platform/v4l2/CameraFilter.h"
#include "platform/v4l2/tests/FakeCameras.h"

namespace fs = std::filesystem;

namespace {

constexpr int kControls = 10;

// A private settings store for the run.
class PrivateStore {
public:
    PrivateStore()
        : root_(fs::temp_directory_path() /
                ("skelvane-controls-bench-" + std::to_string(getpid()))) {
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
    }
    ~PrivateStore() { fs::remove_all(root_); }

private:
    fs::path root_;
};

// Remembers a value inside the range of each of the camera's first ten integer controls and
// times their application; fails when the camera has fewer.
void ApplyTen(benchmark::State& state, IBaseFilter* filter) {
    PrivateStore store;
    CComPtr<ICameraControls> controls;
    std::string identity;
    std::vector<v4l2::ControlInfo> list;
    if (FAILED(filter->QueryInterface(IID_ICameraControls, reinterpret_cast<void**>(&controls))) ||
        FAILED(controls->GetIdentity(&identity)) || FAILED(controls->GetControls(&list)))
        return state.SkipWithError("the camera offers no controls");
    ControlValues values;
    for (const auto& control : list)
        if (control.type == V4L2_CTRL_TYPE_INTEGER && IsRememberable(control) &&
            values.size() < kControls)
            values[control.id] = control.minimum + (control.maximum - control.minimum) / 3;
    if (values.size() < kControls) return state.SkipWithError("fewer than ten integer controls");
    RememberControls(identity, values);
    int applied = 0;
    for (auto _ : state) applied = ApplyRememberedControls(*controls);
    // The time per iteration is the time added to each open.
    state.counters["applied"] = applied;
    state.SetLabel("goal: under 20 ms");
}

v4l2::testing::FakeCamera TenControlCamera() {
    v4l2::testing::FakeCamera camera;
    camera.node = "/dev/video0";
    camera.card = "Recorded Camera";
    camera.busInfo = "usb-0000:00:14.0-1";
    camera.usb = v4l2::UsbIdentity{0x046d, 0x082d, 0, "5C3E1A0F"};
    camera.formats = {{V4L2_PIX_FMT_YUYV, {{640, 480, 30}}}};
    for (int i = 0; i < kControls; ++i) {
        v4l2::testing::FakeControl control{};
        control.query.id = V4L2_CID_BRIGHTNESS + i;
        control.query.type = V4L2_CTRL_TYPE_INTEGER;
        std::snprintf(reinterpret_cast<char*>(control.query.name), sizeof(control.query.name),
                      "Control %d", i);
        control.query.maximum = 255;
        control.query.step = 1;
        control.query.default_value = control.value = 128;
        camera.controls.push_back(control);
    }
    return camera;
}

void BM_ApplyTenRememberedControls_Recorded(benchmark::State& state) {
    v4l2::testing::FakeDeviceSystem system({TenControlCamera()});
    CComPtr<IBaseFilter> filter;
    if (FAILED(v4l2::CCameraFilter::Create(system, "/dev/video0", &filter)))
        return state.SkipWithError("the recorded camera did not open");
    ApplyTen(state, filter);
}
BENCHMARK(BM_ApplyTenRememberedControls_Recorded)->Unit(benchmark::kMillisecond);

void BM_ApplyTenRememberedControls_Vivid(benchmark::State& state) {
    CComPtr<IBaseFilter> filter;
    std::unique_ptr<v4l2::IDeviceNode> node;
    v4l2_capability cap{};
    if (v4l2::KernelDeviceSystem().Open("/dev/video0", node) != 0 || node->QueryCap(cap) != 0 ||
        std::strcmp(reinterpret_cast<const char*>(cap.driver), "vivid") != 0)
        return state.SkipWithError("/dev/video0 is not vivid");
    if (FAILED(v4l2::CCameraFilter::Create(v4l2::KernelDeviceSystem(), "/dev/video0", &filter)))
        return state.SkipWithError("vivid did not open");
    ApplyTen(state, filter);
}
BENCHMARK(BM_ApplyTenRememberedControls_Vivid)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
