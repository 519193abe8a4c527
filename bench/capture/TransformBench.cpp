// Turning and mirroring a 1920 x 1080 frame in place against a plain copy of its bytes:
//   half turn and both mirrors (goal: within 1.5x of the copy), quarter turn with its squeeze
//   into the middle of the frame (goal: within 4x).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "Skelvane/capture/RotateSampleImp.h"
#include "bench/capture/RatioReporter.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Operation {
    int32_t code;
    const char* name;
    double goal;
};
constexpr Operation kOperations[] = {
    {kRotate180, "half turn", 1.5},
    {kFlipVertical, "flip vertical", 1.5},
    {kFlipHorizontal, "flip horizontal", 1.5},
    {kRotate90Cw, "quarter turn", 4.0},
};

std::vector<uint8_t> MakeFrame() {
    std::vector<uint8_t> bytes(static_cast<size_t>(FrameRowStride(kWidth) * kHeight));
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 31 + i / 4096);
    return bytes;
}

void BM_CopyFrame(benchmark::State& state) {
    const std::vector<uint8_t> frame = MakeFrame();
    std::vector<uint8_t> copy(frame.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.data(), frame.size());
        benchmark::ClobberMemory();
    }
}

void BM_TransformFrame(benchmark::State& state) {
    const Operation& operation = kOperations[state.range(0)];
    std::vector<uint8_t> bytes = MakeFrame();
    const FrameBuffer frame{bytes.data(), static_cast<int32_t>(bytes.size()), kWidth, kHeight};
    RotateSampleImp* rotation = RotateSampleImp::Instance();
    rotation->ClearOperations();
    rotation->AddOperation(operation.code);
    for (auto _ : state) {
        if (!rotation->TransformFrame(frame)) state.SkipWithError("the frame was not turned");
        benchmark::ClobberMemory();
    }
    state.SetLabel(operation.name);
}

BENCHMARK(BM_CopyFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TransformFrame)
    ->DenseRange(0, std::size(kOperations) - 1)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double copy = reporter.Time("BM_CopyFrame");
    for (size_t i = 0; i < std::size(kOperations); ++i) {
        const double time = reporter.Time("BM_TransformFrame/" + std::to_string(i));
        if (copy > 0 && time > 0)
            std::printf("%s / memcpy at %dx%d: %.2fx (goal: within %.1fx)\n", kOperations[i].name,
                        kWidth, kHeight, time / copy, kOperations[i].goal);
    }
    benchmark::Shutdown();
    return 0;
}
