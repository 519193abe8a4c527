// Thumbnails of the media strip: decoding one of the program's 1920 x 1080 photos into a
// 160-pixel box against a whole-size decode of the same file (goal: at most 0.05x), and the cache's
// memory while a painter scrolls a strip of 10 000 files from end to end (goal: pixel bytes never
// above the limit, resident memory bounded alike).
#include <benchmark/benchmark.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "Skelvane/browser/ThumbnailCache.h"
#include "platform/imaging/Exif.h"
#include "platform/imaging/Thumbnail.h"
#include "tests/support/EventCounter.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kBoxWidth = 160;
constexpr int kVisibleSlots = 4;
constexpr int kStripFiles = 10000;
constexpr int kDistinctPictures = 200;

// Smooth gradients under sensor-like noise: coded at quality 100 like the program's
// pictures, this is about as costly to decode as a real camera picture.
imaging::BgrBitmap CameraPicture(int width, int height, uint32_t seed, int noiseBits = 2) {
    imaging::BgrBitmap picture{width, height,
                               std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    uint32_t noise = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* pixel = &picture.pixels[(static_cast<size_t>(y) * width + x) * 3];
            const int base[3] = {x * 255 / width, y * 255 / height, (x + y + int(seed)) % 256};
            for (int channel = 0; channel < 3; ++channel) {
                noise = noise * 1664525u + 1013904223u;
                const int grain = noiseBits == 0 ? 0
                                                 : static_cast<int>(noise >> (32 - noiseBits)) -
                                                       (1 << noiseBits) / 2;
                const int value = base[channel] + grain;
                pixel[channel] = static_cast<uint8_t>(std::clamp(value, 0, 255));
            }
        }
    }
    return picture;
}

// A 1920 x 1080 picture whose noise spans `noiseBits` bits per channel, written once.
const std::string& FullHdPicture(int noiseBits) {
    static const support::TempFolder folder("thumbnail-bench");
    static std::map<int, std::string> paths;
    std::string& path = paths[noiseBits];
    if (path.empty()) {
        path = (folder / ("full-hd-" + std::to_string(noiseBits) + ".jpg")).string();
        // Written as the program writes its photos, with an Exif thumbnail.
        const imaging::PhotoTags tags{imaging::ExifDateTimeNow(), "bench camera", "Skelvane"};
        imaging::WriteJpegFile(CameraPicture(1920, 1080, 1, noiseBits).View(), path, 100, &tags);
    }
    return path;
}

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void BM_ThumbnailDecode(benchmark::State& state) {
    const std::string& path = FullHdPicture(static_cast<int>(state.range(0)));
    state.counters["file_KiB"] = fs::file_size(path) / 1024.0;
    for (auto _ : state) {
        std::optional<imaging::BgrBitmap> thumbnail = imaging::DecodeJpegThumbnail(path, kBoxWidth);
        if (!thumbnail) return state.SkipWithError("the picture does not decode");
        benchmark::DoNotOptimize(thumbnail->pixels.data());
    }
}

// The file already in memory and the decoder set up: only the library's decode is timed, at
// `scaleDivisor` (1: whole size; 8: the floor of any thumbnail, the entropy decoding alone
// with the least work after it).
void BareDecode(benchmark::State& state, int scaleDivisor) {
    const std::vector<uint8_t> jpeg = FileBytes(FullHdPicture(static_cast<int>(state.range(0))));
    const int width = 1920 / scaleDivisor;
    const int height = 1080 / scaleDivisor;
    tjhandle decoder = tjInitDecompress();
    std::vector<uint8_t> picture(size_t{3} * width * height);
    for (auto _ : state) {
        if (tjDecompress2(decoder, jpeg.data(), jpeg.size(), picture.data(), width, 0, height,
                          TJPF_BGR, 0) != 0)
            return state.SkipWithError("the picture does not decode");
        benchmark::DoNotOptimize(picture.data());
    }
    tjDestroy(decoder);
}

void BM_FullSizeDecode(benchmark::State& state) {
    BareDecode(state, 1);
}

void BM_EighthSizeDecode(benchmark::State& state) {
    BareDecode(state, 8);
}

// Noise of 0, 2 and 4 bits per channel: a smooth scene (a camera whose own compression or
// noise filter left little grain), a camera in good light and in poor light. At quality 100
// the noise sets the file's size and the entropy decoding, which every scale pays in full.
#define PAIRED DenseRange(0, 4, 2)->Unit(benchmark::kMillisecond)->MinTime(0.5)->Repetitions(3)
BENCHMARK(BM_ThumbnailDecode)->PAIRED;
BENCHMARK(BM_FullSizeDecode)->PAIRED;
BENCHMARK(BM_EighthSizeDecode)->PAIRED;

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(line.find(':') + 1));
    }
    return 0;
}

// Each step scrolls one slot: a paint asks for the visible files and repaints as the
// decoder reports, until every visible slot is drawn.
void BM_CacheScrollingEndToEnd(benchmark::State& state) {
    const support::TempFolder folder("thumbnail-bench");
    std::vector<std::string> distinct;
    for (int i = 0; i < kDistinctPictures; ++i) {
        distinct.push_back((folder / ("picture" + std::to_string(i) + ".jpg")).string());
        imaging::WriteJpegFile(CameraPicture(640, 480, i).View(), distinct.back(), 100);
    }
    std::vector<std::string> strip;
    for (int i = 0; i < kStripFiles; ++i) {
        strip.push_back((folder / ("P" + std::to_string(i) + ".jpg")).string());
        fs::create_hard_link(distinct[i % kDistinctPictures], strip.back());
    }
    for (auto _ : state) {
        support::EventCounter ready;
        // The peak resident size starts again from here.
        std::ofstream("/proc/self/clear_refs") << "5";
        const long residentBefore = StatusKilobytes("VmRSS");
        size_t peakBytes = 0;
        long paints = 0;
        {
            CThumbnailCache cache([&ready] { ready.Signal(); });
            for (int first = 0; first + kVisibleSlots <= kStripFiles; ++first) {
                for (bool drawn = false; !drawn; ++paints) {
                    const long seen = ready.Count();
                    cache.BeginPaint();
                    drawn = true;
                    for (int slot = 0; slot < kVisibleSlots; ++slot) {
                        drawn &= cache.Find(strip[first + slot], kBoxWidth).state !=
                                 CThumbnailCache::State::Pending;
                    }
                    peakBytes = std::max(peakBytes, cache.Bytes());
                    if (!drawn) ready.WaitFor(seen + 1);
                }
            }
        }
        state.counters["files"] = kStripFiles;
        state.counters["paints"] = double(paints);
        state.counters["peak_MiB"] = peakBytes / 1048576.0;
        state.counters["limit_MiB"] = CThumbnailCache::kDefaultByteLimit / 1048576.0;
        state.counters["peak_rss_growth_MiB"] =
            (StatusKilobytes("VmHWM") - residentBefore) / 1024.0;
        state.counters["unbounded_MiB"] = kStripFiles * 133.0 * 100 * 3 / 1048576.0;
    }
}
BENCHMARK(BM_CacheScrollingEndToEnd)->Iterations(1)->Unit(benchmark::kSecond);

// Keeps the fastest processor time per benchmark so the ratio can be printed after the table.
class FastestReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
            const std::string name = run.run_name.function_name + "/" + run.run_name.args;
            const double time = run.GetAdjustedCPUTime();
            const auto known = fastest.find(name);
            if (known == fastest.end() || time < known->second) fastest[name] = time;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> fastest;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    FastestReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\n1920x1080 JPEG at quality 100 into a %d-pixel box against a whole-size decode"
        " (fastest CPU time):\n",
        kBoxWidth);
    for (const char* noiseBits : {"0", "2", "4"}) {
        const auto thumbnail =
            reporter.fastest.find(std::string("BM_ThumbnailDecode/") + noiseBits);
        const auto full = reporter.fastest.find(std::string("BM_FullSizeDecode/") + noiseBits);
        if (thumbnail == reporter.fastest.end() || full == reporter.fastest.end() ||
            full->second <= 0)
            continue;
        const auto eighth = reporter.fastest.find(std::string("BM_EighthSizeDecode/") + noiseBits);
        const double ratio = thumbnail->second / full->second;
        std::printf(
            "noise %s bits: %7.3f ms vs %7.3f ms  ratio %.3f  (goal <= 0.05: %s); the library "
            "alone at 1/8: %.3f ms\n",
            noiseBits, thumbnail->second, full->second, ratio, ratio <= 0.05 ? "met" : "missed",
            eighth != reporter.fastest.end() ? eighth->second : 0.0);
    }
    benchmark::Shutdown();
    return 0;
}
