// What skelvane-vcam spends on each picture, against the floor of decoding the camera's JPEG
// and converting it to YUYV, and how late each picture reaches the loopback device.
//
// The path is skelvane-vcam's: the registered module in the viewer's capture graph (headless),
// fed by the simulator at 1280x720 and 30 pictures a second; the grabber callback converts
// each picture to YUYV as skelvane-vcam does and writes it to /dev/null (a write to the
// loopback device is one copy into its buffer). Cost per picture = this process's processor
// time over the run / pictures the camera sent meanwhile: the module decodes every picture
// it receives, and its pin hands on the newest, so on a busy machine fewer are written than
// decoded. The floor: tjDecompress2 of the simulator's JPEG
// into BGR24 and the same conversion, on one thread. Lag = written - sent (the simulator's
// send log), per distinct picture.
//
//   vcam_picture_bench [--seconds N]        (default 20)
//
// Goals: cost at most 1.3x the floor; median lag under 100 ms.
#include <fcntl.h>
#include <sys/resource.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "Skelvane/capture/CaptureVideo.h"
#include "bench/stravo/GraphSupport.h"
#include "platform/sys/UniqueFd.h"
#include "tools/camsim/CamSimProcess.h"
#include "tools/camsim/TestPicture.h"
#include "tools/vcam/YuyvConverter.h"

namespace {

using namespace stravobench;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr double kGoalRatio = 1.3;
constexpr double kGoalMedianMs = 100;
constexpr const char* kAddress = "127.0.0.71";
constexpr int kPort = 18071;

double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// skelvane-vcam's work on each picture of the capture graph.
class Feeder : public IFrameSizedCallback {
public:
    Feeder() : sink_(open("/dev/null", O_WRONLY | O_CLOEXEC)) {}
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SampleCB(double, IMediaSample*) override { return S_OK; }
    void SetFrameSize(long width, long height) override {
        width_ = width;
        height_ = height;
    }
    HRESULT BufferCB(double, BYTE* buffer, long length) override {
        const int stride = static_cast<int>((width_ * 3 + 3) & ~3L);
        if (buffer == nullptr || length < stride * height_) return S_OK;
        const bool converted =
            converter_.Convert({buffer, static_cast<int>(width_), static_cast<int>(height_), stride,
                                vcam::PictureLayout::kBottomUpBgr24},
                               kWidth, kHeight, yuyv_);
        if (!converted || write(sink_.Get(), yuyv_.data(), yuyv_.size()) < 0) return S_OK;
        const int64_t written = NowNs();
        uint32_t counter = 0;
        const bool shown =
            ReadCounter(buffer, static_cast<int>(width_), static_cast<int>(height_), counter);
        std::lock_guard<std::mutex> lock(mutex_);
        ++pictures_;
        if (shown && (writes_.empty() || writes_.back().first != counter))
            writes_.emplace_back(counter, written);
        return S_OK;
    }
    long Pictures() {
        std::lock_guard<std::mutex> lock(mutex_);
        return pictures_;
    }
    std::vector<std::pair<uint32_t, int64_t>> Writes() {
        std::lock_guard<std::mutex> lock(mutex_);
        return writes_;
    }

private:
    sys::UniqueFd sink_;
    long width_ = 0, height_ = 0;
    vcam::CYuyvConverter converter_;
    std::vector<uint8_t> yuyv_;
    std::mutex mutex_;
    long pictures_ = 0;
    std::vector<std::pair<uint32_t, int64_t>> writes_;
};

// Seconds of one thread's processor time per picture: decode the JPEG into BGR24 with
// libjpeg-turbo, then the same YUYV conversion.
double FloorSecondsPerPicture() {
    camsim::TestPicture picture(kWidth, kHeight, camsim::Pattern::kQuadrants);
    const std::string jpeg = picture.Encode(12345);
    tjhandle decoder = tjInitDecompress();
    const int stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> bgr(static_cast<size_t>(stride) * kHeight), yuyv;
    vcam::CYuyvConverter converter;
    constexpr int kRounds = 300;
    const double start = ThreadCpuSeconds();
    for (int i = 0; i < kRounds; ++i) {
        tjDecompress2(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(),
                      bgr.data(), kWidth, stride, kHeight, TJPF_BGR, TJFLAG_BOTTOMUP);
        converter.Convert(
            {bgr.data(), kWidth, kHeight, stride, vcam::PictureLayout::kBottomUpBgr24}, kWidth,
            kHeight, yuyv);
    }
    const double seconds = (ThreadCpuSeconds() - start) / kRounds;
    tjDestroy(decoder);
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SKELVANE_BIN_DIR", SKELVANE_BIN_DIR, 0);
    double seconds = 20;
    if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0) {
        seconds = std::atof(argv[2]);
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: vcam_picture_bench [--seconds N]\n");
        return 2;
    }
    RegisteredStore store;
    if (!store.Registered() || !WriteCameraAddress(kAddress, kPort)) {
        std::fprintf(stderr, "the module could not be registered\n");
        return 1;
    }
    const double floor = FloorSecondsPerPicture();

    const auto logPath = store.Root() / "sends.txt";
    Feeder feeder;
    double cpu = 0;
    long pictures = 0;
    int64_t windowStart = 0, windowEnd = 0;
    {
        CamSimProcess camera({"--address", kAddress, "--port", std::to_string(kPort), "--size",
                              std::to_string(kWidth) + "x" + std::to_string(kHeight), "--send-log",
                              logPath.string()});
        if (!camera.Ready()) {
            std::fprintf(stderr, "simulator at %s did not start\n", kAddress);
            return 1;
        }
        CCaptureVideo capture;
        CCaptureVideo::Sinks sinks;
        sinks.headless = true;
        sinks.previewCallback = &feeder;
        capture.SetSinks(sinks);
        PreviewRequest request{kWifiDeviceIndex, 0, 0, false};
        if (FAILED(capture.BuildGraph(kWifiDeviceIndex, 0, request))) {
            std::fprintf(stderr, "the capture graph did not run\n");
            return 1;
        }
        // The first second holds the connection's start; it is not a steady picture's cost.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double cpuStart = ProcessCpuSeconds();
        const long picturesStart = feeder.Pictures();
        windowStart = NowNs();
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        cpu = ProcessCpuSeconds() - cpuStart;
        windowEnd = NowNs();
        pictures = feeder.Pictures() - picturesStart;
        capture.TearDown();
    }
    const SendLog log = ReadSendLog(logPath);
    std::vector<double> lags;
    for (const auto& [counter, written] : feeder.Writes())
        if (auto sent = log.firstSent.find(counter); sent != log.firstSent.end())
            lags.push_back((written - sent->second) / 1e6);
    long sent = 0;
    for (const auto& [counter, when] : log.firstSent)
        sent += when >= windowStart && when < windowEnd;
    const double perPicture = sent > 0 ? cpu / sent : 0;
    const double ratio = floor > 0 ? perPicture / floor : 0;
    const double median = Percentile(lags, 0.5);
    std::printf("skelvane-vcam's path at %dx%d, 30 pictures/s, %g s\n", kWidth, kHeight, seconds);
    std::printf("  pictures sent by the camera %ld (%.1f/s), written %ld (%.1f/s)\n", sent,
                sent / seconds, pictures, pictures / seconds);
    std::printf("  processor time per picture  %.2f ms\n", perPicture * 1e3);
    std::printf("  floor (decode + YUYV)       %.2f ms\n", floor * 1e3);
    std::printf("  ratio                       %.2fx   goal <= %.1fx: %s\n", ratio, kGoalRatio,
                sent > 0 && ratio <= kGoalRatio ? "met" : "MISSED");
    std::printf(
        "  lag camera -> device write  median %.1f ms, p95 %.1f ms, %zu pictures   goal "
        "median < %.0f ms: %s\n",
        median, Percentile(lags, 0.95), lags.size(), kGoalMedianMs,
        !lags.empty() && median < kGoalMedianMs ? "met" : "MISSED");
    return 0;
}
