// The stream reader against the camera simulator: decode cost per picture compared with the
// ffmpeg command line on the same stream, the highest rate it sustains, and the memory held
// when both queues are full. Its decoding of one picture into the queue against a plain
// tjDecompress2 of the same picture into bottom-up BGR24 (goal: at most 1.1x).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <turbojpeg.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Stravo/CFrameManager.h"
#include "Stravo/CWifiDevice.h"
#include "Stravo/tests/TempStore.h"
#include "tools/camsim/CamSimProcess.h"

namespace {

using namespace std::chrono_literals;

struct Size {
    int width;
    int height;
};
constexpr Size kSizes[] = {{640, 480}, {1280, 720}};

// Each benchmark gets an address of its own, so the fixed button port never clashes.
std::string AddressFor(int slot) {
    return "127.0.0." + std::to_string(50 + slot);
}
int PortFor(int slot) {
    return 18050 + slot;
}

std::unique_ptr<CamSimProcess> StartCamera(int slot, Size size, const char* fps) {
    return std::make_unique<CamSimProcess>(std::vector<std::string>{
        "--address", AddressFor(slot), "--port", std::to_string(PortFor(slot)), "--size",
        std::to_string(size.width) + "x" + std::to_string(size.height), "--fps", fps, "--pattern",
        "detail"});
}

std::string Url(int slot) {
    return "http://" + AddressFor(slot) + ":" + std::to_string(PortFor(slot)) + "/?action=stream";
}

template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit,
             std::chrono::milliseconds poll = 2ms) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
    return true;
}

double ProcessCpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(line.find(':') + 1));
        }
    }
    return 0;
}

// A reader open on a simulator of its own, with a settings store of its own.
struct ReaderSession {
    ReaderSession(int slot, Size size, const char* fps) : camera(StartCamera(slot, size, fps)) {
        if (!camera->Ready() || !store.PointCameraAt(AddressFor(slot).c_str(), PortFor(slot))) {
            return;
        }
        std::vector<VideoFormat> formats;
        open = CWifiDevice::Instance()->Open(formats) == 0;
    }
    ~ReaderSession() {
        CWifiDevice::Destroy();
        CFrameManager::Destroy();
    }

    TempStore store;
    std::unique_ptr<CamSimProcess> camera;
    bool open = false;
};

// Peak memory with the frame queue at 21 pictures and the packet queue at 3 packets.
void BM_MemoryWithQueuesFull(benchmark::State& state) {
    Size size = kSizes[state.range(0)];
    // Hand memory freed by earlier runs back, so the growth is this run's own.
    malloc_trim(0);
    long residentBefore = StatusKilobytes("VmRSS");
    for (auto _ : state) {
        ReaderSession session(0 + static_cast<int>(state.range(0)), size, "0");
        CWifiDevice* device = CWifiDevice::Instance();
        CFrameManager* queue = CFrameManager::Instance();
        if (!session.open ||
            !WaitFor([&] { return queue->GetCount() == CFrameManager::kMaxQueued; }, 20s)) {
            state.SkipWithError("no pictures from the simulator");
            return;
        }
        // Nobody consumes: keep decoding a while so every queue stays at its bound.
        std::this_thread::sleep_for(2s);
        device->StopDecodeThread();
        WaitFor([&] { return device->PacketCount() == 3; }, 5s);
        long residentFull = StatusKilobytes("VmRSS");
        double pictureBound = 21.0 * size.width * 3 * size.height / 1e6;
        state.counters["frames"] = queue->GetCount();
        state.counters["packets"] = device->PacketCount();
        state.counters["rss_growth_MB"] = (residentFull - residentBefore) / 1024.0;
        state.counters["peak_rss_MB"] = StatusKilobytes("VmHWM") / 1024.0;
        state.counters["bound_21_pictures_MB"] = pictureBound;
    }
}

// CPU time of one decode pass (decode, flip, convert to BGR24, copy, queue) per picture, on
// the benchmark's own thread; packets come from an unpaced simulator.
void BM_DecodePass(benchmark::State& state) {
    Size size = kSizes[state.range(0)];
    ReaderSession session(2 + static_cast<int>(state.range(0)), size, "0");
    CWifiDevice* device = CWifiDevice::Instance();
    if (!session.open) {
        state.SkipWithError("reader did not open");
        return;
    }
    device->StopDecodeThread();
    for (auto _ : state) {
        state.PauseTiming();
        WaitFor([&] { return device->PacketCount() > 0; }, 5s);
        state.ResumeTiming();
        device->DecodeOnePacket();
    }
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

// Whole-process CPU per picture, reader against `ffmpeg -f mjpeg -i URL -pix_fmt bgr24 -f
// rawvideo` on the same 30 fps simulator stream.
constexpr int kComparedPictures = 150;

void BM_ReaderCpuPerPicture(benchmark::State& state) {
    Size size = kSizes[state.range(0)];
    for (auto _ : state) {
        ReaderSession session(4 + static_cast<int>(state.range(0)), size, "30");
        CWifiDevice* device = CWifiDevice::Instance();
        if (!session.open ||
            !WaitFor([&] { return device->GetStatistics().picturesQueued >= 5; }, 10s)) {
            state.SkipWithError("reader did not open");
            return;
        }
        uint64_t first = device->GetStatistics().picturesQueued;
        double cpuBefore = ProcessCpuSeconds(RUSAGE_SELF);
        WaitFor([&] { return device->GetStatistics().picturesQueued >= first + kComparedPictures; },
                60s, 50ms);
        double cpu = ProcessCpuSeconds(RUSAGE_SELF) - cpuBefore;
        uint64_t pictures = device->GetStatistics().picturesQueued - first;
        state.counters["cpu_ms_per_picture"] = cpu * 1000 / pictures;
    }
}

void BM_FfmpegCpuPerPicture(benchmark::State& state) {
    Size size = kSizes[state.range(0)];
    int slot = 6 + static_cast<int>(state.range(0));
    for (auto _ : state) {
        auto camera = StartCamera(slot, size, "30");
        if (!camera->Ready()) {
            state.SkipWithError("simulator did not start");
            return;
        }
        std::string url = Url(slot);
        std::string frames = std::to_string(kComparedPictures);
        std::vector<const char*> argv = {
            "ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error",        "-f",
            "mjpeg",  "-i",       url.c_str(),    "-frames:v", frames.c_str(), "-pix_fmt",
            "bgr24",  "-f",       "rawvideo",     "-y",        "/dev/null",    nullptr};
        pid_t child = -1;
        if (posix_spawnp(&child, "ffmpeg", nullptr, nullptr, const_cast<char**>(argv.data()),
                         environ) != 0) {
            state.SkipWithError("ffmpeg did not start");
            return;
        }
        int status = 0;
        rusage usage{};
        wait4(child, &status, 0, &usage);
        double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        state.counters["cpu_ms_per_picture"] = cpu * 1000 / kComparedPictures;
        state.counters["exit_status"] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
}

// A noisy camera picture (the costliest to decode), 4:2:2 as cameras send MJPEG.
std::vector<uint8_t> NoisyJpeg(int width, int height) {
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    uint32_t noise = 0x12345678u;
    for (size_t i = 0; i < bgr.size(); ++i) {
        noise = noise * 1664525u + 1013904223u;
        bgr[i] = static_cast<uint8_t>((i / 3 % width) * 255 / width + (noise >> 28));
    }
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(encoder, bgr.data(), width, 0, height, TJPF_BGR, &jpeg, &size, TJSAMP_422, 85, 0);
    std::vector<uint8_t> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return bytes;
}

constexpr Size kDecodeSizes[] = {{1280, 720}, {1920, 1080}};

// One picture through the reader's decoding: allocated, decoded and queued (the queue drops
// its oldest beyond 21).
void BM_ModuleDecode(benchmark::State& state) {
    Size size = kDecodeSizes[state.range(0)];
    ReaderSession session(12 + static_cast<int>(state.range(0)), size, "30");
    CWifiDevice* device = CWifiDevice::Instance();
    if (!session.open) {
        state.SkipWithError("reader did not open");
        return;
    }
    device->StopDecodeThread();
    const std::vector<uint8_t> jpeg = NoisyJpeg(size.width, size.height);
    // The queue's first pictures fault fresh memory in once per stream; the figure is the
    // steady state after it is full, where dropped pictures' memory carries new ones.
    for (int32_t i = 0; i < CFrameManager::kMaxQueued; ++i) {
        device->DecodePicture(jpeg.data(), jpeg.size());
    }
    for (auto _ : state) {
        device->DecodePicture(jpeg.data(), jpeg.size());
    }
    if (device->GetStatistics().fallbackDecodes != 0) state.SkipWithError("fallback decodes");
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

void BM_PlainTjDecompress(benchmark::State& state) {
    Size size = kDecodeSizes[state.range(0)];
    const std::vector<uint8_t> jpeg = NoisyJpeg(size.width, size.height);
    const int pitch = (size.width * 3 + 3) & ~3;
    std::vector<uint8_t> picture(static_cast<size_t>(pitch) * size.height);
    tjhandle decoder = tjInitDecompress();
    for (auto _ : state) {
        tjDecompress2(decoder, jpeg.data(), jpeg.size(), picture.data(), size.width, pitch,
                      size.height, TJPF_BGR, TJFLAG_BOTTOMUP);
        benchmark::DoNotOptimize(picture.data());
    }
    tjDestroy(decoder);
    state.SetLabel(std::to_string(size.width) + "x" + std::to_string(size.height));
}

// The highest picture rate the reader sustains from a simulator that sends as fast as it can.
void BM_SustainedRate(benchmark::State& state) {
    Size size = kSizes[state.range(0)];
    for (auto _ : state) {
        ReaderSession session(8 + static_cast<int>(state.range(0)), size, "0");
        CWifiDevice* device = CWifiDevice::Instance();
        if (!session.open) {
            state.SkipWithError("reader did not open");
            return;
        }
        std::this_thread::sleep_for(1s);
        CWifiDevice::Statistics before = device->GetStatistics();
        auto started = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(5s);
        CWifiDevice::Statistics after = device->GetStatistics();
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        state.counters["pictures_per_s"] = (after.picturesQueued - before.picturesQueued) / seconds;
        state.counters["packets_read_per_s"] = (after.packetsRead - before.packetsRead) / seconds;
        state.counters["packets_dropped_per_s"] =
            (after.packetsDropped - before.packetsDropped) / seconds;
    }
}

}  // namespace

BENCHMARK(BM_MemoryWithQueuesFull)->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodePass)->DenseRange(0, 1)->Iterations(300)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ReaderCpuPerPicture)->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FfmpegCpuPerPicture)->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ModuleDecode)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_PlainTjDecompress)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->Repetitions(3);
BENCHMARK(BM_SustainedRate)->DenseRange(0, 1)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
