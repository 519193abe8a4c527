// Camera frame conversion against the bare libraries it stands on:
//   MJPEG -> bottom-up BGR24 against tjDecompress2 alone (goal: within 1.05x),
//   YUYV  -> bottom-up BGR24 against one bare sws_scale call (goal: within 1.2x).
#include <benchmark/benchmark.h>
#include <linux/videodev2.h>
#include <turbojpeg.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "platform/v4l2/FrameConverter.h"

namespace {

// A camera-like picture: smooth gradients with some texture, BGR, top-down.
std::vector<uint8_t> MakeScene(int width, int height) {
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bgr[(size_t(y) * width + x) * 3];
            double t = std::sin(x * 0.02) * std::cos(y * 0.03);
            p[0] = uint8_t(128 + 100 * t);
            p[1] = uint8_t((x * 255) / width);
            p[2] = uint8_t(((y * 255) / height) ^ ((x >> 3) & 15));
        }
    }
    return bgr;
}

std::vector<uint8_t> MakeJpeg(int width, int height) {
    std::vector<uint8_t> bgr = MakeScene(width, height);
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    // Cameras send 4:2:2 MJPEG.
    tjCompress2(encoder, bgr.data(), width, 0, height, TJPF_BGR, &jpeg, &size, TJSAMP_422, 85, 0);
    std::vector<uint8_t> out(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return out;
}

std::vector<uint8_t> MakeYuyv(int width, int height) {
    std::vector<uint8_t> bgr = MakeScene(width, height);
    std::vector<uint8_t> yuyv(size_t(width) * height * 2);
    for (size_t i = 0; i < size_t(width) * height; i += 2) {
        auto y = [&](size_t k) {
            return uint8_t(
                ((66 * bgr[k * 3 + 2] + 129 * bgr[k * 3 + 1] + 25 * bgr[k * 3] + 128) >> 8) + 16);
        };
        const uint8_t* p = &bgr[i * 3];
        yuyv[i * 2] = y(i);
        yuyv[i * 2 + 1] = uint8_t(((-38 * p[2] - 74 * p[1] + 112 * p[0] + 128) >> 8) + 128);
        yuyv[i * 2 + 2] = y(i + 1);
        yuyv[i * 2 + 3] = uint8_t(((112 * p[2] - 94 * p[1] - 18 * p[0] + 128) >> 8) + 128);
    }
    return yuyv;
}

// Our converter on frames of `pixelFormat` that `make` draws at the benchmark's size.
void RunConverter(benchmark::State& state, uint32_t pixelFormat,
                  std::vector<uint8_t> (*make)(int width, int height)) {
    int width = int(state.range(0)), height = int(state.range(1));
    std::vector<uint8_t> frame = make(width, height);
    std::vector<uint8_t> picture(v4l2::Rgb24ImageSize(width, height));
    v4l2::FrameConverter converter;
    converter.Configure(pixelFormat, width, height, 0);
    for (auto _ : state) {
        if (!converter.Convert(frame.data(), frame.size(), picture.data(), picture.size()))
            state.SkipWithError("conversion failed");
        benchmark::DoNotOptimize(picture.data());
    }
}

void BM_MjpegConverter(benchmark::State& state) {
    RunConverter(state, V4L2_PIX_FMT_MJPEG, MakeJpeg);
}

void BM_MjpegBareTurbo(benchmark::State& state) {
    int width = int(state.range(0)), height = int(state.range(1));
    std::vector<uint8_t> jpeg = MakeJpeg(width, height);
    std::vector<uint8_t> picture(v4l2::Rgb24ImageSize(width, height));
    tjhandle decoder = tjInitDecompress();
    for (auto _ : state) {
        tjDecompress2(decoder, jpeg.data(), jpeg.size(), picture.data(), width,
                      int(v4l2::Rgb24Pitch(width)), height, TJPF_BGR, TJFLAG_BOTTOMUP);
        benchmark::DoNotOptimize(picture.data());
    }
    tjDestroy(decoder);
}

void BM_YuyvConverter(benchmark::State& state) {
    RunConverter(state, V4L2_PIX_FMT_YUYV, MakeYuyv);
}

void BM_YuyvBareSwscale(benchmark::State& state) {
    int width = int(state.range(0)), height = int(state.range(1));
    std::vector<uint8_t> yuyv = MakeYuyv(width, height);
    std::vector<uint8_t> picture(v4l2::Rgb24ImageSize(width, height));
    SwsContext* scaler = sws_getContext(width, height, AV_PIX_FMT_YUYV422, width, height,
                                        AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    const uint8_t* source[4] = {yuyv.data()};
    int sourceStride[4] = {width * 2};
    uint8_t* target[4] = {picture.data()};
    int targetStride[4] = {int(v4l2::Rgb24Pitch(width))};
    for (auto _ : state) {
        sws_scale(scaler, source, sourceStride, 0, height, target, targetStride);
        benchmark::DoNotOptimize(picture.data());
    }
    sws_freeContext(scaler);
}

// Repeated runs, each pair side by side: the ratios use the fastest run of each, which a busy
// machine disturbs least.
#define SIZE(w, h) Args({w, h})->Unit(benchmark::kMillisecond)->MinTime(0.3)->Repetitions(5)
BENCHMARK(BM_MjpegConverter)->SIZE(1280, 720);
BENCHMARK(BM_MjpegBareTurbo)->SIZE(1280, 720);
BENCHMARK(BM_MjpegConverter)->SIZE(1920, 1080);
BENCHMARK(BM_MjpegBareTurbo)->SIZE(1920, 1080);
BENCHMARK(BM_YuyvConverter)->SIZE(1280, 720);
BENCHMARK(BM_YuyvBareSwscale)->SIZE(1280, 720);
BENCHMARK(BM_YuyvConverter)->SIZE(1920, 1080);
BENCHMARK(BM_YuyvBareSwscale)->SIZE(1920, 1080);

// Keeps the fastest processor time per benchmark so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            std::string name = run.run_name.function_name + "/" + run.run_name.args;
            double time = run.GetAdjustedCPUTime();
            auto known = times.find(name);
            if (known == times.end() || time < known->second) times[name] = time;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

void PrintRatio(const RatioReporter& reporter, const char* ours, const char* bare, const char* size,
                double goal) {
    auto a = reporter.times.find(std::string(ours) + "/" + size);
    auto b = reporter.times.find(std::string(bare) + "/" + size);
    if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0) return;
    double ratio = a->second / b->second;
    std::printf("%-18s %-10s %8.3f ms vs %8.3f ms  ratio %.3f  (goal <= %.2f: %s)\n", ours, size,
                a->second, b->second, ratio, goal, ratio <= goal ? "met" : "missed");
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\nConversion to bottom-up BGR24 against the bare library call (fastest CPU time):\n");
    for (const char* size : {"1280/720", "1920/1080"}) {
        PrintRatio(reporter, "BM_MjpegConverter", "BM_MjpegBareTurbo", size, 1.05);
        PrintRatio(reporter, "BM_YuyvConverter", "BM_YuyvBareSwscale", size, 1.2);
    }
    benchmark::Shutdown();
    return 0;
}
