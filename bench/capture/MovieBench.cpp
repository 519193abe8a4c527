// Movie recording at 640 x 480 against the ffmpeg program doing the same work:
//   CMovieFileWriter::AppendFrame per frame (convert, encode, store), against
//   ffmpeg -f rawvideo -pix_fmt bgr24 -s 640x480 -i - -vf vflip -c:v mpeg4 -vtag XVID -g 1
//   -qscale:v 3 -threads 1 fed the same camera-like frames through a pipe (goal: within
//   1.05x of its time per frame), and the sustained rate on one core (goal: 60 frames/s).
// Per-frame times come from the difference of a 600-frame and a 300-frame run, so the
// start-up of either side does not count. Files go to $SKELVANE_BENCH_DIR, else the
// system's temporary folder.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "Skelvane/capture/FrameBuffer.h"
#include "Skelvane/capture/MovieFileWriter.h"
#include "bench/capture/BenchFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kShortRun = 300;
constexpr int kLongRun = 600;

std::string& WorkFolder() {
    static std::string folder;
    return folder;
}

// A camera looking at a lit scene: gradients, a textured object that moves from frame to
// frame and sensor noise. Bottom-up BGR rows.
std::vector<std::vector<uint8_t>> CameraFrames(int count) {
    std::vector<std::vector<uint8_t>> frames;
    std::mt19937 random(42);
    std::normal_distribution<double> noise(0.0, 3.0);
    const int64_t stride = FrameRowStride(kWidth);
    for (int f = 0; f < count; ++f) {
        std::vector<uint8_t> bytes(static_cast<size_t>(stride * kHeight));
        const double cx = kWidth / 2 + 150 * std::sin(f * 0.2);
        const double cy = kHeight / 2 + 80 * std::cos(f * 0.15);
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const double shade = 0.6 + 0.4 * std::sin(x * 0.01 + y * 0.004);
                double b = 90 * shade, g = 120 * shade, r = 150 * shade;
                const double d = std::hypot(x - cx, y - cy);
                if (d < 110) {
                    const double texture = 40 * std::sin(x * 0.3) * std::cos(y * 0.25);
                    b = 60 + texture;
                    g = 140 + texture;
                    r = 200 - d * 0.5;
                }
                uint8_t* p = &bytes[static_cast<size_t>(stride * (kHeight - 1 - y) + x * 3)];
                const double n = noise(random);
                p[0] = static_cast<uint8_t>(std::clamp(b + n, 0.0, 255.0));
                p[1] = static_cast<uint8_t>(std::clamp(g + n, 0.0, 255.0));
                p[2] = static_cast<uint8_t>(std::clamp(r + n, 0.0, 255.0));
            }
        }
        frames.push_back(std::move(bytes));
    }
    return frames;
}

const std::vector<std::vector<uint8_t>>& Frames() {
    static const std::vector<std::vector<uint8_t>> frames = CameraFrames(24);
    return frames;
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Records `frames` frames into a new file; the whole run, file creation and close included.
double RecordRun(int frames, int run) {
    const std::string path = WorkFolder() + "/skelvane-" + std::to_string(run) + ".avi";
    unlink(path.c_str());
    return Seconds([&] {
        CMovieFileWriter writer(path);
        for (int i = 0; i < frames; ++i)
            writer.AppendFrame(kWidth, kHeight, Frames()[i % Frames().size()].data(), 24);
        writer.Close();
    });
}

// The ffmpeg program encoding the same frames with the same settings into an AVI file.
double FfmpegRun(int frames, int run) {
    const std::string path = WorkFolder() + "/ffmpeg-" + std::to_string(run) + ".avi";
    const std::string command =
        "ffmpeg -v error -y -f rawvideo -pix_fmt bgr24 -s 640x480 -r 12 -i - -vf vflip "
        "-c:v mpeg4 -vtag XVID -g 1 -bf 0 -qscale:v 3 -threads 1 -filter_threads 1 " +
        path;
    return Seconds([&] {
        FILE* pipe = popen(command.c_str(), "w");
        if (pipe == nullptr) return;
        for (int i = 0; i < frames; ++i) {
            const std::vector<uint8_t>& frame = Frames()[i % Frames().size()];
            fwrite(frame.data(), 1, frame.size(), pipe);
        }
        pclose(pipe);
    });
}

// Seconds per frame: the best of three differences between a long and a short run.
double PerFrame(const std::function<double(int, int)>& run) {
    double best = 1e9;
    for (int attempt = 0; attempt < 3; ++attempt)
        best = std::min(best, (run(kLongRun, 1) - run(kShortRun, 2)) / (kLongRun - kShortRun));
    return best;
}

uintmax_t BytesPerFrame(const std::string& name) {
    std::error_code error;
    return fs::file_size(WorkFolder() + "/" + name + "-1.avi", error) / kLongRun;
}

void BM_AppendFrame640x480(benchmark::State& state) {
    const std::string path = WorkFolder() + "/append.avi";
    unlink(path.c_str());
    CMovieFileWriter writer(path);
    size_t i = 0;
    for (auto _ : state) {
        if (writer.AppendFrame(kWidth, kHeight, Frames()[i++ % Frames().size()].data(), 24) != S_OK)
            state.SkipWithError(writer.ErrorText().c_str());
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    writer.Close();
    unlink(path.c_str());
}
BENCHMARK(BM_AppendFrame640x480)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
    const BenchFolder folder("skelvane-movie");
    if (folder.Path().empty()) return 1;
    WorkFolder() = folder.Path();
    // One core: the recording runs on the streaming thread alone.
    PinToOneCore();
    Frames();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    const double ours = PerFrame(RecordRun);
    const double ffmpeg = PerFrame(FfmpegRun);
    std::printf("\nRecording 640x480, camera-like frames, intra MPEG-4 (XVID) at quantiser 3:\n");
    std::printf("  AppendFrame        %.3f ms/frame  (%.0f frames/s on one core, goal >= 60)\n",
                ours * 1000, 1 / ours);
    std::printf("  ffmpeg program     %.3f ms/frame\n", ffmpeg * 1000);
    std::printf("  ratio              %.3f  (goal <= 1.05)\n", ours / ffmpeg);
    std::printf("  stored bytes/frame %ju here, %ju by ffmpeg\n", BytesPerFrame("skelvane"),
                BytesPerFrame("ffmpeg"));
    return 0;
}
