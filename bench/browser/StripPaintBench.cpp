// One paint of the thumbnail strip while scrolling a folder of 10000 pictures, once the
// visible thumbnails are decoded (goal: under 8 ms per paint), on Qt's offscreen platform.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QElapsedTimer>
#include <filesystem>

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

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
