// One paint of the thumbnail strip while scrolling a folder of 10000 pictures, once the
// visible thumbnails are decoded (goal: under 8 ms per paint), and `rm` of 20000 files of the
// browsed folder: the time from the last deletion until the strip is consistent (goal: under
// 1 s) and the UI thread's time meanwhile; on Qt's offscreen platform.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "Skelvane/browser/ResourcesBrowserDlg.h"
#include "platform/imaging/Imaging.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kEntries = 10000;

// 10000 names of one 1280 x 720 camera-like picture (hard links, so the disk holds one).
struct PictureFolder {
    PictureFolder() {
        const int width = 1280, height = 720;
        imaging::BgrBitmap picture{width, height, std::vector<uint8_t>(size_t(width) * height * 3)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t* pixel = &picture.pixels[(size_t(y) * width + x) * 3];
                pixel[0] = uint8_t(x * 255 / width);
                pixel[1] = uint8_t(y * 255 / height);
                pixel[2] = uint8_t((x ^ y) & 0xFF);
            }
        const fs::path first = root / "S00000.jpg";
        imaging::WriteJpegFile(picture.View(), first.string(), 100);
        for (int i = 1; i < kEntries; ++i) {
            char name[32];
            snprintf(name, sizeof name, "S%05d.jpg", i);
            fs::create_hard_link(first, root / name);
        }
    }
    support::TempFolder root{"strip-bench"};
};

// Paints until no slot shows the plain frame of a thumbnail still being decoded.
void PaintDecoded(CResourcesBrowserDlg& strip) {
    for (strip.repaint(); strip.PendingSlots() > 0; strip.repaint())
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

void BM_StripPaintWhileScrolling(benchmark::State& state) {
    static PictureFolder folder;
    CResourcesBrowserDlg strip(
        nullptr, [] { return std::string(); }, [](const std::string&) { return nullptr; });
    strip.resize(200, 600);
    strip.show();
    strip.Model().SwitchFolder(folder.root.Path().string(), false);
    QApplication::processEvents();
    const int last = strip.ScrollBar()->maximum();
    const int step = std::max(CResourcesBrowserDlg::kSlotHeight, last / 500);
    int position = 0;
    for (auto _ : state) {
        state.PauseTiming();
        position = position + step > last ? 0 : position + step;
        strip.ScrollBar()->setValue(position);
        PaintDecoded(strip);
        state.ResumeTiming();
        strip.repaint();
    }
    state.counters["slots"] = double(strip.ItemRects().size());
    state.counters["entries"] = kEntries;
}
BENCHMARK(BM_StripPaintWhileScrolling)->Unit(benchmark::kMillisecond)->Iterations(500);

double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Manual time: from the last of 20000 deletions until the list is empty and the scroll
// range says so. The UI thread waits in its event loop meanwhile, as the program's does.
void BM_MassDeletion(benchmark::State& state) {
    constexpr int kDeleted = 20000;
    const support::TempFolder root("mass-deletion-bench");
    const fs::path movies = root / "Movies";
    fs::create_directories(movies);
    const std::string rootPath = root.Path().string();
    CResourcesBrowserDlg strip(
        nullptr, [&] { return rootPath; }, CMediaFolderModel::WatchTree);
    strip.resize(200, 600);
    strip.show();
    double uiCpuMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < kDeleted; ++i) {
            char name[32];
            snprintf(name, sizeof name, "M%05d.avi", i);
            std::ofstream(movies / name);
        }
        // The watcher sees the folder; then the strip browses it afresh.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        strip.Model().SwitchFolder("", false);
        strip.Model().SwitchFolder(movies.string(), false);
        QApplication::processEvents();
        state.ResumeTiming();

        std::atomic<bool> deleted{false};
        std::chrono::steady_clock::time_point lastDeletion;
        std::thread deleter([&] {
            for (int i = 0; i < kDeleted; ++i) {
                char name[32];
                snprintf(name, sizeof name, "M%05d.avi", i);
                fs::remove(movies / name);
            }
            lastDeletion = std::chrono::steady_clock::now();
            deleted = true;
        });
        const double cpuBefore = ThreadCpuMs();
        QEventLoop loop;
        QTimer check;
        check.setInterval(1);
        QObject::connect(&check, &QTimer::timeout, [&] {
            if (deleted && strip.Model().GetFileCount() == 0 && strip.Range().maximum == 0)
                loop.quit();
        });
        check.start();
        loop.exec();
        const auto consistent = std::chrono::steady_clock::now();
        uiCpuMs += ThreadCpuMs() - cpuBefore;
        deleter.join();
        state.SetIterationTime(std::chrono::duration<double>(consistent - lastDeletion).count());
    }
    state.counters["deleted"] = kDeleted;
    state.counters["ui_cpu_ms"] = benchmark::Counter(uiCpuMs, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_MassDeletion)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
