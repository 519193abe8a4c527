// The media list's scan against a bare readdir + sort of the same folder (goal: within
// 2x), and the time from a deletion to the repaint request (goal: under 100 ms beyond
// the 50 ms quiet period).
#include <benchmark/benchmark.h>
#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "Skelvane/browser/MediaFolderModel.h"
#include "tests/support/EventCounter.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    Folder() {
        fs::create_directory(root / "Movies");
        for (int i = 0; i < 10000; ++i) {
            char name[32];
            snprintf(name, sizeof name, "M20160406_%04d.%s", i, i % 2 ? "avi" : "jpg");
            std::ofstream(root / "Movies" / name);
        }
    }
    support::TempFolder root{"browser-bench"};
};

Folder& TheFolder() {
    static Folder folder;
    return folder;
}

class RepaintClock : public IMediaListView, public support::EventCounter {
public:
    void UpdateScrollRange() override {}
    void KeepScrollFromEnd() override {}
    void ScrollToEnd() override {}
    void RequestRepaint() override { Signal(); }
};

std::unique_ptr<fswatch::IChangeSource> NoSource(const std::string&) {
    return nullptr;
}

void BareReaddirAndSort(benchmark::State& state) {
    const std::string folder = TheFolder().root / "Movies";
    for (auto _ : state) {
        std::vector<std::string> names;
        DIR* dir = opendir(folder.c_str());
        while (const dirent* entry = readdir(dir)) names.emplace_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end());
        benchmark::DoNotOptimize(names.data());
    }
}
BENCHMARK(BareReaddirAndSort)->Unit(benchmark::kMillisecond);

void ScanFolder(benchmark::State& state) {
    RepaintClock view;
    const std::string root = TheFolder().root.Path();
    CMediaFolderModel model(
        view, [&] { return root; }, NoSource);
    model.SwitchFolder(root + "/Movies", false);
    for (auto _ : state) model.ScanFolder();
    state.counters["names"] = double(model.GetFileCount());
}
BENCHMARK(ScanFolder)->Unit(benchmark::kMillisecond);

// Manual time: from the unlink to the repaint request.
void DeletionToRepaint(benchmark::State& state) {
    RepaintClock view;
    const std::string root = TheFolder().root.Path();
    CMediaFolderModel model(
        view, [&] { return root; }, CMediaFolderModel::WatchTree);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the monitor's watches
    model.SwitchFolder(root + "/Movies", false);
    for (auto _ : state) {
        const std::string path = model.GetItemPath(0);
        const long target = view.Count() + 1;
        const auto start = std::chrono::steady_clock::now();
        fs::remove(path);
        view.WaitFor(target);
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(DeletionToRepaint)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
