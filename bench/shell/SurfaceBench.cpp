// The live pane's surface path: a streaming thread hands 1280 x 720 frames to the surface
// at 30 frames a second, the UI thread paints the newest one into the view. Reports the
// UI thread's time per painted frame (goal: under 4 ms), the frames skipped, and the
// streaming thread's time per frame for its one pass that turns the frame upright and
// scales it to the view's size.
#include <benchmark/benchmark.h>
#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "Skelvane/capture/PreviewWindow.h"

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFramesPerSecond = 30;
constexpr int kFrames = 150;

int64_t ThreadCpuNs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

class PaintCounter : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
    int paints = 0;
};

void BM_SurfaceToScreen(benchmark::State& state) {
    const int viewWidth = static_cast<int>(state.range(0));
    const int viewHeight = static_cast<int>(state.range(1));
    CPreviewWindow pane;
    pane.resize(viewWidth, viewHeight);
    pane.show();
    auto* view = new CVideoView(pane.PreviewHost());
    auto surface = view->Surface();
    surface->SetGeometry(0, 0, viewWidth, viewHeight);
    surface->SetVisible(true);
    PaintCounter counter;
    view->installEventFilter(&counter);
    QCoreApplication::processEvents();

    // A changing picture, bottom row first, rows padded to 4 bytes.
    const long stride = (kWidth * 3 + 3) & ~3L;
    std::vector<std::vector<BYTE>> frames(2, std::vector<BYTE>(stride * kHeight));
    for (size_t i = 0; i < frames.size(); ++i)
        for (size_t b = 0; b < frames[i].size(); ++b) frames[i][b] = static_cast<BYTE>(b * 7 + i);

    double uiMsPerPaint = 0, skipped = 0, copyMsPerFrame = 0;
    for (auto _ : state) {
        counter.paints = 0;
        QEventLoop loop;
        std::atomic<int64_t> copyNs{0};
        std::thread streaming([&] {
            const auto period = std::chrono::microseconds(1000000 / kFramesPerSecond);
            auto next = std::chrono::steady_clock::now();
            for (int i = 0; i < kFrames; ++i) {
                const int64_t started = ThreadCpuNs();
                surface->ShowFrame(frames[i % 2].data(), kWidth, kHeight, stride);
                copyNs += ThreadCpuNs() - started;
                next += period;
                std::this_thread::sleep_until(next);
            }
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
        // The UI thread sleeps in its event loop between frames, as in the program.
        const int64_t uiStart = ThreadCpuNs();
        loop.exec();
        streaming.join();
        QCoreApplication::processEvents();
        const int64_t uiNs = ThreadCpuNs() - uiStart;
        uiMsPerPaint = counter.paints > 0 ? uiNs / 1e6 / counter.paints : 0;
        skipped = kFrames - counter.paints;
        copyMsPerFrame = copyNs / 1e6 / kFrames;
    }
    state.counters["ui_ms_per_painted_frame"] = uiMsPerPaint;
    state.counters["frames_skipped"] = skipped;
    state.counters["stream_copy_ms_per_frame"] = copyMsPerFrame;
    std::printf(
        "view %dx%d: UI thread %.2f ms per painted frame (goal < 4 ms), %d of %d frames "
        "skipped, streaming thread %.2f ms per frame for its one pass over %ld bytes\n",
        viewWidth, viewHeight, uiMsPerPaint, static_cast<int>(skipped), kFrames, copyMsPerFrame,
        stride * kHeight);
}
BENCHMARK(BM_SurfaceToScreen)
    ->Args({kWidth, kHeight})
    ->Args({960, 540})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr && std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
