// How soon the last picture of a camera that stops sending reaches the viewer's grabber:
// the simulator sends at 40 pictures per second and stops after 10 s with its connection
// left open; skelvane-devices --grab writes every preview frame of the registered wireless
// camera (index 10000) as a BMP file. The counter in the first file that shows the camera's
// last picture, and that file's modification time, against the time the simulator sent it.
//
//   stravo_stop_check [--fps N] [--stop-after S] [--frames N]   (defaults: 40, 10, 450)
//
// Goal: within 150 ms. File times have the kernel's timer resolution (a few milliseconds).
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/stravo/GraphSupport.h"
#include "tools/camsim/CamSimProcess.h"

namespace {

using namespace stravobench;
namespace fs = std::filesystem;

constexpr const char* kAddress = "127.0.0.69";
constexpr int kPort = 18069;
constexpr double kGoalMs = 150;

int64_t ClockNs(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

struct Frame {
    std::string name;
    uint32_t counter = 0;
    bool picture = false;   // shows the simulator's picture, not black
    int64_t writtenNs = 0;  // modification time on the monotonic clock
};

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// The grabbed frames in order, each with its counter and when it was written.
std::vector<Frame> ReadFrames(const fs::path& folder) {
    // File times are on the wall clock, the send log on the monotonic one.
    const int64_t wallToMonotonic = ClockNs(CLOCK_MONOTONIC) - ClockNs(CLOCK_REALTIME);
    std::vector<Frame> frames;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        Frame frame;
        frame.name = entry.path().filename().string();
        std::ifstream file(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
        struct stat info {};
        if (bytes.size() < 54 || stat(entry.path().c_str(), &info) != 0) continue;
        const auto width = static_cast<int>(Le32(bytes, 18));
        const auto height = static_cast<int>(Le32(bytes, 22));
        const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
        if (width <= 0 || height <= 0 || bytes.size() < 54 + stride * height) continue;
        frame.picture = ReadCounter(bytes.data() + Le32(bytes, 10), width, height, frame.counter);
        frame.writtenNs = static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 +
                          info.st_mtim.tv_nsec + wallToMonotonic;
        frames.push_back(frame);
    }
    std::sort(frames.begin(), frames.end(),
              [](const Frame& a, const Frame& b) { return a.name < b.name; });
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    setenv("SKELVANE_BIN_DIR", SKELVANE_BIN_DIR, 0);
    std::string fps = "40", stopAfter = "10", count = "450";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--fps") == 0) fps = argv[i + 1];
        if (std::strcmp(argv[i], "--stop-after") == 0) stopAfter = argv[i + 1];
        if (std::strcmp(argv[i], "--frames") == 0) count = argv[i + 1];
    }
    RegisteredStore store;
    if (!store.Registered() || !WriteCameraAddress(kAddress, kPort)) {
        std::fprintf(stderr, "the module could not be registered\n");
        return 1;
    }
    const fs::path logPath = store.Root() / "sends.txt";
    const fs::path grabbed = store.Root() / "frames";
    int grabStatus = -1;
    {
        CamSimProcess camera({"--address", kAddress, "--port", std::to_string(kPort), "--fps", fps,
                              "--stop-after", stopAfter, "--send-log", logPath.string()});
        if (!camera.Ready()) {
            std::fprintf(stderr, "the simulator did not start\n");
            return 1;
        }
        grabStatus =
            RunProgram({BinPath("skelvane-devices"), "--grab", "10000", count, grabbed.string()},
                       (store.Root() / "grab.txt").string());
    }
    const SendLog log = ReadSendLog(logPath);
    const std::vector<Frame> frames = ReadFrames(grabbed);
    std::printf("camera: %s pictures/s, stopped after %s s having sent %zu pictures (last: %u)\n",
                fps.c_str(), stopAfter.c_str(), log.firstSent.size(), log.lastCounter);
    std::printf("skelvane-devices --grab 10000 %s: exit status %d, %zu frames written\n",
                count.c_str(), grabStatus, frames.size());
    size_t index = 0;
    while (index < frames.size() &&
           !(frames[index].picture && frames[index].counter == log.lastCounter))
        ++index;
    if (log.firstSent.empty() || index == frames.size()) {
        std::printf("the camera's last picture never reached the grabber: goal missed\n");
        return 1;
    }
    const double delayMs = (frames[index].writtenNs - log.lastSent) / 1e6;
    size_t repeats = 0;
    for (size_t i = index; i < frames.size(); ++i) {
        if (frames[i].picture && frames[i].counter == log.lastCounter) ++repeats;
    }
    std::printf(
        "last picture %u first in %s, %.1f ms after it was sent; %zu of the %zu frames "
        "from there on repeat it\n",
        log.lastCounter, frames[index].name.c_str(), delayMs, repeats, frames.size() - index);
    std::printf("goal (within %.0f ms): %s\n", kGoalMs, delayMs <= kGoalMs ? "met" : "missed");
    return delayMs <= kGoalMs ? 0 : 1;
}
