// The preview callback with no photo, timed shot or recording asked for: it must cost
// nothing measurable (no copy, no allocation) on top of the frame's way to the screen.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "Skelvane/capture/RotateSampleImp.h"
#include "Skelvane/capture/SampleGrabberCB.h"

namespace {

std::atomic<long> allocations{0};

class IdleOwner : public ICaptureOwner {
public:
    std::atomic<int32_t>& TakePhoto() override { return takePhoto; }
    std::atomic<int32_t>& TimedShotRunning() override { return timedShotRunning; }
    std::atomic<int32_t>& Recording() override { return recording; }
    int32_t ShotPeriodMs() const override { return 0; }
    float TimedShotHours() const override { return 0; }
    void PostEvent(int) override {}
    void RevealFile(const std::string&) override {}
    std::atomic<int32_t> takePhoto{0}, timedShotRunning{0}, recording{0};
};

void BM_BufferCBWithNoFlagSet(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    std::vector<BYTE> frame(static_cast<size_t>(width) * height * 3, 0x80);
    IdleOwner owner;
    previewGrabberCallback.owner = &owner;
    previewGrabberCallback.SetFrameSize(width, height);
    RotateSampleImp::Instance();  // created on first use, which is not what is counted
    const long before = allocations.load();
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            previewGrabberCallback.BufferCB(0.0, frame.data(), static_cast<long>(frame.size())));
    }
    state.counters["allocations"] = static_cast<double>(allocations.load() - before);
    previewGrabberCallback.owner = nullptr;
}
BENCHMARK(BM_BufferCBWithNoFlagSet)->Args({640, 480})->Args({1920, 1080});

}  // namespace

// Counts every allocation, so the figure shows the callback makes none. Not inlined: the
// compiler would pair the malloc and free inside with the callers' new and delete and
// take them for a mismatch.
__attribute__((noinline)) void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
__attribute__((noinline)) void operator delete(void* p) noexcept {
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

BENCHMARK_MAIN();
