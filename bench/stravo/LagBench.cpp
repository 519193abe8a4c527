// How far the wireless picture lags behind the camera: the registered module's filter, made
// through its class factory, runs in a graph with an RGB24 sample grabber and a null
// renderer, fed by the camera simulator at several picture rates. The simulator logs when it
// sends each picture; the grabber callback reads the counter shown in each frame and notes
// when a picture first arrives. Lag = arrival - send.
//
//   stravo_lag_bench [--seconds N] [--rates R,R,...]      (defaults: 60 s; 15,30,32,40)
//
// Goal: median under 100 ms at every rate, and no growth over the run (the last 10 s median
// not more than 20 ms above the first 10 s median).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Stravo/StravoFilter.h"
#include "bench/stravo/GraphSupport.h"
#include "platform/dshow/DShow.h"
#include "tests/support/GrabberGraph.h"
#include "tools/camsim/CamSimProcess.h"

namespace {

using namespace stravobench;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr double kGoalMedianMs = 100;
constexpr double kGrowthToleranceMs = 20;
constexpr double kWindowSeconds = 10;
// One camera address for every rate: the store is written once, and each rate gets a fresh
// simulator there.
constexpr const char* kAddress = "127.0.0.70";
constexpr int kPort = 18070;

// Notes the first arrival of every picture the grabber receives.
class ArrivalRecorder : public support::BufferCallback<> {
public:
    HRESULT BufferCB(double, BYTE* buffer, long length) override {
        const int64_t now = NowNs();
        uint32_t counter = 0;
        if (buffer == nullptr || length < kWidth * kHeight * 3 ||
            !ReadCounter(buffer, kWidth, kHeight, counter)) {
            return S_OK;
        }
        std::lock_guard<std::mutex> lock(mutex_);
        ++frames_;
        // A picture repeated because nothing newer came counts once, at its first arrival.
        if (arrivals_.empty() || arrivals_.back().first != counter) {
            arrivals_.emplace_back(counter, now);
        }
        return S_OK;
    }
    std::vector<std::pair<uint32_t, int64_t>> Arrivals() {
        std::lock_guard<std::mutex> lock(mutex_);
        return arrivals_;
    }
    long Frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<uint32_t, int64_t>> arrivals_;
    long frames_ = 0;
};

// The filter, made through the module's class factory, in a running capture graph.
class Graph {
public:
    bool Build(ISampleGrabberCB* callback) {
        camera_ = support::CreateObject<IBaseFilter>(CLSID_StravoFilter, IID_IBaseFilter);
        return camera_ &&
               SUCCEEDED(support::BuildGrabberGraph(camera_, callback, nullptr, graph_)) &&
               SUCCEEDED(graph_.control->Run());
    }
    ~Graph() {
        if (graph_.control) graph_.control->Stop();
    }

private:
    CComPtr<IBaseFilter> camera_;
    support::GrabberGraph graph_;
};

struct Figures {
    double medianMs = 0, p95Ms = 0, maxMs = 0, firstMedianMs = 0, lastMedianMs = 0;
    size_t pictures = 0;  // distinct pictures that reached the grabber
    size_t sent = 0;
    double framesPerSecond = 0;
};

Figures Measure(double rate, double seconds, const RegisteredStore& store) {
    Figures figures;
    const auto logPath = store.Root() / "sends.txt";
    ArrivalRecorder recorder;
    {
        char fps[32];
        std::snprintf(fps, sizeof(fps), "%g", rate);
        CamSimProcess camera({"--address", kAddress, "--port", std::to_string(kPort), "--fps", fps,
                              "--send-log", logPath.string()});
        if (!camera.Ready()) {
            std::fprintf(stderr, "simulator at %s did not start\n", kAddress);
            return figures;
        }
        Graph graph;
        if (!graph.Build(&recorder)) {
            std::fprintf(stderr, "graph for %g frames/s did not run\n", rate);
            return figures;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        figures.framesPerSecond = recorder.Frames() / seconds;
    }
    const SendLog log = ReadSendLog(logPath);
    const std::vector<std::pair<uint32_t, int64_t>> arrivals = recorder.Arrivals();
    if (arrivals.empty()) return figures;
    std::vector<double> all, first, last;
    const int64_t start = arrivals.front().second;
    const int64_t end = arrivals.back().second;
    const auto window = static_cast<int64_t>(kWindowSeconds * 1e9);
    for (const auto& [counter, arrived] : arrivals) {
        const auto sent = log.firstSent.find(counter);
        if (sent == log.firstSent.end()) continue;
        const double lagMs = (arrived - sent->second) / 1e6;
        all.push_back(lagMs);
        if (arrived - start < window) first.push_back(lagMs);
        if (end - arrived < window) last.push_back(lagMs);
    }
    figures.medianMs = Percentile(all, 0.5);
    figures.p95Ms = Percentile(all, 0.95);
    figures.maxMs = Percentile(all, 1.0);
    figures.firstMedianMs = Percentile(first, 0.5);
    figures.lastMedianMs = Percentile(last, 0.5);
    figures.pictures = all.size();
    figures.sent = log.firstSent.size();
    return figures;
}

std::vector<double> ParseRates(const char* text) {
    std::vector<double> rates;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) rates.push_back(std::atof(item.c_str()));
    return rates;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SKELVANE_BIN_DIR", SKELVANE_BIN_DIR, 0);
    double seconds = 60;
    std::vector<double> rates = {15, 30, 32, 40};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--seconds") == 0) {
            seconds = std::atof(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--rates") == 0) {
            rates = ParseRates(argv[i + 1]);
        }
    }
    if (seconds < 2 * kWindowSeconds || rates.empty() || argc % 2 == 0) {
        std::fprintf(stderr, "usage: stravo_lag_bench [--seconds N>=20] [--rates R,R,...]\n");
        return 2;
    }
    RegisteredStore store;
    if (!store.Registered() || !WriteCameraAddress(kAddress, kPort)) {
        std::fprintf(stderr, "the module could not be registered\n");
        return 1;
    }
    CoInitialize(nullptr);
    std::printf("lag from the camera sending a picture to the sample grabber, %dx%d, %g s runs\n",
                kWidth, kHeight, seconds);
    std::printf("%6s %9s %9s %9s %12s %11s %9s %9s %9s  %s\n", "fps", "median", "p95", "max",
                "first10s", "last10s", "pictures", "sent", "frames/s", "goal");
    bool allMet = true;
    for (size_t i = 0; i < rates.size(); ++i) {
        const Figures f = Measure(rates[i], seconds, store);
        const bool met = f.pictures > 0 && f.medianMs < kGoalMedianMs &&
                         f.lastMedianMs <= f.firstMedianMs + kGrowthToleranceMs;
        allMet = allMet && met;
        std::printf("%6g %7.1fms %7.1fms %7.1fms %10.1fms %9.1fms %9zu %9zu %9.1f  %s\n", rates[i],
                    f.medianMs, f.p95Ms, f.maxMs, f.firstMedianMs, f.lastMedianMs, f.pictures,
                    f.sent, f.framesPerSecond, met ? "met" : "MISSED");
        std::fflush(stdout);
    }
    CoUninitialize();
    std::printf("goal (median < %.0f ms, last 10 s median <= first 10 s median + %.0f ms): %s\n",
                kGoalMedianMs, kGrowthToleranceMs, allMet ? "met" : "missed");
    return allMet ? 0 : 1;
}
