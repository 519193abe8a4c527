// A time-lapse movie from 1000 pictures of 1280 x 720, as the timed shots store them (JPEG at
// quality 100): pictures per second on one core (goal: at least 100). The pictures are 24
// camera-like scenes, each file a link to one of them, so the disk holds 24 pictures while
// the builder still opens, reads and decodes 1000 files. Files go to $SKELVANE_BENCH_DIR,
// else the system's temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "Skelvane/capture/TimeLapseMovie.h"
#include "bench/capture/BenchFolder.h"
#include "platform/imaging/Imaging.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kPictures = 1000;
constexpr int kScenes = 24;

std::string& WorkFolder() {
    static std::string folder;
    return folder;
}

// A lit scene with a textured object that moves from picture to picture and sensor noise.
imaging::BgrBitmap Scene(int index, std::mt19937& random) {
    std::normal_distribution<double> noise(0.0, 3.0);
    imaging::BgrBitmap picture{kWidth, kHeight, std::vector<uint8_t>(size_t{kWidth} * kHeight * 3)};
    const double cx = kWidth / 2 + 400 * std::sin(index * 0.2);
    const double cy = kHeight / 2 + 150 * std::cos(index * 0.15);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double shade = 0.6 + 0.4 * std::sin(x * 0.005 + y * 0.004);
            double b = 90 * shade, g = 120 * shade, r = 150 * shade;
            const double d = std::hypot(x - cx, y - cy);
            if (d < 200) {
                const double texture = 40 * std::sin(x * 0.3) * std::cos(y * 0.25);
                b = 60 + texture;
                g = 140 + texture;
                r = 200 - d * 0.3;
            }
            uint8_t* p = &picture.pixels[(size_t{static_cast<size_t>(y)} * kWidth + x) * 3];
            const double n = noise(random);
            p[0] = static_cast<uint8_t>(std::clamp(b + n, 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(g + n, 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(r + n, 0.0, 255.0));
        }
    }
    return picture;
}

bool WritePictures(const std::string& folder) {
    fs::create_directories(folder);
    std::mt19937 random(42);
    std::vector<std::string> scenes;
    for (int i = 0; i < kScenes; ++i) {
        scenes.push_back(folder + "/scene" + std::to_string(i));
        if (imaging::WriteJpegFile(Scene(i, random).View(), scenes.back(), 100).status !=
            Gdiplus::Ok)
            return false;
    }
    for (int i = 0; i < kPictures; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "/T%04d.jpg", i);
        std::error_code error;
        fs::create_hard_link(scenes[i % kScenes], folder + name, error);
        if (error) return false;
    }
    return true;
}

void BM_TimeLapse1000Pictures1280x720(benchmark::State& state) {
    const std::vector<std::string> pictures = TimeLapsePictures(WorkFolder() + "/pictures");
    const std::string movies = WorkFolder() + "/movies";
    fs::create_directories(movies);
    for (auto _ : state) {
        CTimeLapseBuilder builder(pictures, movies, kDefaultTimeLapseRate);
        if (builder.Run() != CTimeLapseBuilder::kMade || builder.Skipped() != 0)
            state.SkipWithError("the movie was not made of every picture");
        state.PauseTiming();
        fs::remove(builder.MoviePath());
        state.ResumeTiming();
    }
    state.counters["pictures_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kPictures, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TimeLapse1000Pictures1280x720)->Unit(benchmark::kSecond)->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
    const BenchFolder folder("skelvane-timelapse");
    if (folder.Path().empty()) return 1;
    WorkFolder() = folder.Path();
    registry::SetStoreFolders(folder.Path() + "/config", "");
    // One core: the builder is one thread, and the others are left to the preview.
    PinToOneCore();
    if (!WritePictures(folder.Path() + "/pictures")) return 1;

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    uintmax_t bytes = 0;
    for (int i = 0; i < kScenes; ++i)
        bytes += fs::file_size(folder.Path() + "/pictures/scene" + std::to_string(i));
    std::printf(
        "\nTime-lapse of %d pictures of %dx%d, JPEG at quality 100 (%ju KiB each on "
        "average):\n  pictures_per_second above, on one core (goal >= 100)\n",
        kPictures, kWidth, kHeight, bytes / kScenes / 1024);
    return 0;
}
