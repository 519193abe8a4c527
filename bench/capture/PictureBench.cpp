// Still pictures against the bare library they stand on:
//   SaveFrameAsJpeg (encode, write, flush, rename) against tjCompress2 alone on the same
//   frame and settings (goal: within 1.1x), the 2x bicubic enlargement path, and a photo's
//   save with its Exif (thumbnail included) against the same save without (goal: 1.05x).
// Files go to $SKELVANE_BENCH_DIR, else the system's temporary folder.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Skelvane/capture/FrameBuffer.h"
#include "Skelvane/capture/StillPicture.h"
#include "Skelvane/settings/SettingParam.h"
#include "bench/capture/RatioReporter.h"
#include "platform/imaging/Exif.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

std::string& WorkFolder() {
    static std::string folder;
    return folder;
}

// A camera-like picture: smooth gradients with some texture, bottom-up padded BGR rows.
std::vector<uint8_t> MakeFrame(int width, int height) {
    const int64_t stride = FrameRowStride(width);
    std::vector<uint8_t> bytes(static_cast<size_t>(stride * height));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &bytes[static_cast<size_t>(stride * y + x * 3)];
            const double t = std::sin(x * 0.02) * std::cos(y * 0.03);
            p[0] = static_cast<uint8_t>(128 + 100 * t);
            p[1] = static_cast<uint8_t>((x * 255) / width);
            p[2] = static_cast<uint8_t>(((y * 255) / height) ^ ((x >> 3) & 15));
        }
    }
    return bytes;
}

void SetCaptureSize(int width, int height) {
    CSettingParamManage::Instance()->SetCurrentCapture(width, height, false);
}

void BM_SaveFrameAsJpeg(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const int captureWidth = static_cast<int>(state.range(2));
    const int captureHeight = static_cast<int>(state.range(3));
    std::vector<uint8_t> bytes = MakeFrame(width, height);
    const FrameBuffer frame{bytes.data(), static_cast<int32_t>(bytes.size()), width, height};
    SetCaptureSize(captureWidth, captureHeight);
    const std::string path = WorkFolder() + "/bench.jpg";
    for (auto _ : state) {
        if (!SaveFrameAsJpeg(frame, path)) state.SkipWithError("save failed");
        // The next save may not replace the file, so it goes again.
        unlink(path.c_str());
    }
    state.SetLabel(std::to_string(captureWidth) + "x" + std::to_string(captureHeight));
}

void BM_TjCompress2(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    std::vector<uint8_t> bytes = MakeFrame(width, height);
    tjhandle compressor = tjInitCompress();
    for (auto _ : state) {
        unsigned char* jpeg = nullptr;
        unsigned long size = 0;
        if (tjCompress2(compressor, bytes.data(), width, static_cast<int>(FrameRowStride(width)),
                        height, TJPF_BGR, &jpeg, &size, TJSAMP_420, 100,
                        TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT) != 0)
            state.SkipWithError("compress failed");
        benchmark::DoNotOptimize(size);
        tjFree(jpeg);
    }
    tjDestroy(compressor);
}

void BM_ScaleBitmap2x(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    std::vector<uint8_t> bytes = MakeFrame(width, height);
    const imaging::BgrImageView view{bytes.data(), width, height,
                                     static_cast<int>(FrameRowStride(width)), true};
    for (auto _ : state) {
        auto scaled = ScaleBitmap(view, width * 2, height * 2);
        if (!scaled) state.SkipWithError("scale failed");
        benchmark::DoNotOptimize(scaled->pixels.data());
    }
}

// The imaging layer's save (encode, write, flush, rename) of a 1920x1080 frame, with Exif
// (range 1) or without (0).
void BM_WriteJpegFile(benchmark::State& state) {
    constexpr int kWidth = 1920, kHeight = 1080;
    std::vector<uint8_t> bytes = MakeFrame(kWidth, kHeight);
    const imaging::BgrImageView view{bytes.data(), kWidth, kHeight,
                                     static_cast<int>(FrameRowStride(kWidth)), true};
    const imaging::PhotoTags tags{imaging::ExifDateTimeNow(), "bench camera", "Skelvane"};
    const std::string path = WorkFolder() + "/exif.jpg";
    for (auto _ : state) {
        if (imaging::WriteJpegFile(view, path, 100, state.range(0) ? &tags : nullptr).status !=
            Gdiplus::Ok)
            state.SkipWithError("save failed");
        unlink(path.c_str());
    }
}

BENCHMARK(BM_WriteJpegFile)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TjCompress2)->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveFrameAsJpeg)
    ->Args({1280, 720, 1280, 720})
    ->Args({1920, 1080, 1920, 1080})
    ->Args({640, 480, 1280, 960})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScaleBitmap2x)->Args({640, 480})->Args({960, 540})->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    // The settings store and the saving folder live in a private folder, never the home one.
    const char* chosen = std::getenv("SKELVANE_BENCH_DIR");
    std::string pattern =
        (fs::path(chosen ? chosen : fs::temp_directory_path().string()) / "skelvane-bench-XXXXXX")
            .string();
    if (mkdtemp(pattern.data()) == nullptr) return 1;
    WorkFolder() = pattern;
    registry::SetStoreFolders(pattern + "/config", "");
    setenv("HOME", pattern.c_str(), 1);
    CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
    param.SetResourcesPath(pattern);
    CSettingParamManage::Instance()->Apply(param);

    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("files written to %s\n", pattern.c_str());
    for (const char* size : {"1280/720", "1920/1080"}) {
        const std::string save = std::string("BM_SaveFrameAsJpeg/") + size + "/" + size;
        const std::string bare = std::string("BM_TjCompress2/") + size;
        if (reporter.Time(save) > 0 && reporter.Time(bare) > 0)
            std::printf("SaveFrameAsJpeg / tjCompress2 at %s: %.3fx (goal: within 1.1x)\n", size,
                        reporter.Time(save) / reporter.Time(bare));
    }
    if (reporter.Time("BM_WriteJpegFile/0") > 0)
        std::printf("a 1920x1080 save with Exif / without: %.3fx (goal: at most 1.05x)\n",
                    reporter.Time("BM_WriteJpegFile/1") / reporter.Time("BM_WriteJpegFile/0"));
    benchmark::Shutdown();
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return 0;
}
