#include "Skelvane/browser/ThumbnailCache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/imaging/tests/TestPictures.h"
#include "platform/sys/Sys.h"
#include "tests/support/EventCounter.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using State = CThumbnailCache::State;

namespace {

// Far beyond any decode here: only a broken cache waits this long.
constexpr std::chrono::seconds kPatience{20};

// Counts onReady calls and lets a test wait for a number of them.
class ReadyCounter : public support::EventCounter {
public:
    bool WaitFor(long count) { return EventCounter::WaitFor(count, kPatience); }
};

// Stands in for the real decoder: records what it was asked for, can be held at the start
// of a decode, and gives a 10 x 10 thumbnail (100 x 100 for a name holding "huge"), or
// nothing for a name holding "broken".
class FakeDecoder {
public:
    static constexpr size_t kSmallBytes = 10 * 10 * 3;

    ThumbnailDecoder Function() {
        return [this](const std::string& path, int, const imaging::CancelFlag&) {
            return Decode(path);
        };
    }
    void Hold() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = true;
    }
    void Release() {
        std::lock_guard<std::mutex> guard(lock_);
        held_ = false;
        changed_.notify_all();
    }
    bool WaitForStarts(size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, kPatience, [&] { return decoded_.size() >= count; });
    }
    bool WaitForFinishes(size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        return changed_.wait_for(guard, kPatience, [&] { return finished_ >= count; });
    }
    std::vector<std::string> Decoded() {
        std::lock_guard<std::mutex> guard(lock_);
        return decoded_;
    }

private:
    std::optional<Thumbnail> Decode(const std::string& path) {
        std::unique_lock<std::mutex> guard(lock_);
        decoded_.push_back(fs::path(path).filename().string());
        changed_.notify_all();
        changed_.wait(guard, [this] { return !held_; });
        ++finished_;
        changed_.notify_all();
        if (path.find("broken") != std::string::npos) return std::nullopt;
        const int side = path.find("huge") != std::string::npos ? 100 : 10;
        return Thumbnail{{side, side, std::vector<uint8_t>(size_t{3} * side * side)}, false};
    }

    std::mutex lock_;
    std::condition_variable changed_;
    bool held_ = false;
    size_t finished_ = 0;
    std::vector<std::string> decoded_;
};

class ThumbnailCacheTest : public ::testing::Test {
protected:
    // The process clock stands still unless a test moves it.
    void SetUp() override {
        previousClock_ =
            sys::SetClockSource({nullptr, [this] { return clockMs_.load(); }, nullptr});
    }
    void TearDown() override { sys::SetClockSource(previousClock_); }

    std::string Path(const std::string& name) const { return (folder_ / name).string(); }

    // A quadrant picture at `name`, replacing whatever was there.
    std::string WriteJpeg(const std::string& name, int width, int height) const {
        fs::remove(folder_ / name);
        const imaging::BgrBitmap picture = testing_pictures::QuadrantPicture(width, height);
        EXPECT_EQ(imaging::WriteJpegFile(picture.View(), Path(name), 100).status, Gdiplus::Ok);
        return Path(name);
    }

    std::string WriteText(const std::string& name, const std::string& text) const {
        std::ofstream(folder_ / name, std::ios::binary) << text;
        return Path(name);
    }

    // Empty files named f<first>.jpg ... for the fake decoder, which never reads them.
    std::vector<std::string> Files(int first, int count) const {
        std::vector<std::string> paths;
        for (int i = first; i < first + count; ++i)
            paths.push_back(WriteText("f" + std::to_string(i) + ".jpg", ""));
        return paths;
    }

    support::TempFolder folder_{"skelvane-thumbs"};
    ReadyCounter ready_;
    std::atomic<int64_t> clockMs_{100000};
    sys::ClockSource previousClock_;
};

TEST_F(ThumbnailCacheTest, FilesArePendingUntilDecodedThenReadyOrFailed) {
    const std::string movie = Path("clip.avi");
    ASSERT_TRUE(testing_pictures::WriteTestMovie(
        movie, {testing_pictures::QuadrantPicture(320, 240)}, 320, 240));
    const struct {
        const char* name;
        std::string path;
        State state;
        bool movie;
    } cases[] = {
        {"picture", WriteJpeg("picture.jpg", 640, 480), State::Ready, false},
        {"movie", movie, State::Ready, true},
        {"not a picture", WriteText("letter.jpg", "not a picture"), State::Failed, false},
        {"missing", Path("missing.jpg"), State::Failed, false},
        {"not a media name", WriteJpeg("picture.png", 640, 480), State::Failed, false},
    };
    CThumbnailCache cache(ready_.Callback());
    cache.BeginPaint();
    for (const auto& c : cases) {
        const CThumbnailCache::Lookup lookup = cache.Find(c.path, 160);
        EXPECT_EQ(lookup.state, State::Pending) << c.name;
        EXPECT_FALSE(lookup.thumbnail) << c.name;
    }
    ASSERT_TRUE(ready_.WaitFor(std::size(cases)));
    for (const auto& c : cases) {
        const CThumbnailCache::Lookup lookup = cache.Find(c.path, 160);
        ASSERT_EQ(lookup.state, c.state) << c.name;
        ASSERT_EQ(lookup.thumbnail != nullptr, c.state == State::Ready) << c.name;
        if (!lookup.thumbnail) continue;
        EXPECT_EQ(lookup.thumbnail->movie, c.movie) << c.name;
        EXPECT_EQ(lookup.thumbnail->picture.width, 133) << c.name;
        EXPECT_EQ(lookup.thumbnail->picture.height, 100) << c.name;
    }
    EXPECT_EQ(cache.Bytes(), size_t{2} * 133 * 100 * 3);
    // Another box width is another thumbnail; a box of no width shows nothing.
    EXPECT_EQ(cache.Find(cases[0].path, 400).state, State::Pending);
    EXPECT_EQ(cache.Find(cases[0].path, 0).state, State::Failed);
    ASSERT_TRUE(ready_.WaitFor(std::size(cases) + 1));
    EXPECT_EQ(cache.Find(cases[0].path, 400).thumbnail->picture.width, 133);
    EXPECT_EQ(ready_.Count(), static_cast<int>(std::size(cases)) + 1);
}

TEST_F(ThumbnailCacheTest, ChangedFilesAreDecodedAgain) {
    CThumbnailCache cache(ready_.Callback());
    const std::string picture = WriteJpeg("picture.jpg", 640, 480);
    const std::string later = WriteText("later.jpg", "still being written");
    cache.BeginPaint();
    cache.Find(picture, 160);
    cache.Find(later, 160);
    ASSERT_TRUE(ready_.WaitFor(2));
    const std::shared_ptr<const Thumbnail> first = cache.Find(picture, 160).thumbnail;
    ASSERT_TRUE(first);
    EXPECT_EQ(first->picture.height, 100);
    EXPECT_EQ(cache.Find(later, 160).state, State::Failed);
    // Unchanged files are answered from the cache.
    EXPECT_EQ(cache.Find(picture, 160).thumbnail, first);
    EXPECT_EQ(ready_.Count(), 2);

    clockMs_ += CThumbnailCache::kRedecodeIntervalMs;
    WriteJpeg("picture.jpg", 400, 100);
    WriteJpeg("later.jpg", 640, 480);
    cache.BeginPaint();
    EXPECT_EQ(cache.Find(picture, 160).state, State::Pending);
    EXPECT_EQ(cache.Find(later, 160).state, State::Pending);
    ASSERT_TRUE(ready_.WaitFor(4));
    const CThumbnailCache::Lookup replaced = cache.Find(picture, 160);
    ASSERT_EQ(replaced.state, State::Ready);
    EXPECT_EQ(replaced.thumbnail->picture.width, 160);
    EXPECT_EQ(replaced.thumbnail->picture.height, 40);
    EXPECT_EQ(cache.Find(later, 160).state, State::Ready);
    // The old thumbnail's bytes are no longer counted...
    EXPECT_EQ(cache.Bytes(), size_t{160} * 40 * 3 + size_t{133} * 100 * 3);
    // ...but the painter's copy of it stays whole.
    EXPECT_EQ(first->picture.pixels.size(), size_t{133} * 100 * 3);
}

TEST_F(ThumbnailCacheTest, LeastRecentlyFoundThumbnailsMakeRoomWithinTheLimit) {
    FakeDecoder decoder;
    constexpr size_t kLimit = 10 * FakeDecoder::kSmallBytes;
    CThumbnailCache cache(ready_.Callback(), kLimit, decoder.Function());
    const std::vector<std::string> files = Files(0, 40);
    const std::string broken = WriteText("broken.jpg", "");
    // The first file is on screen at every step, as a thumbnail the user keeps in view.
    int decodes = 0;
    for (size_t step = 1; step < files.size(); ++step) {
        cache.BeginPaint();
        cache.Find(files[0], 160);
        cache.Find(files[step], 160);
        if (step == 1) cache.Find(broken, 160);
        decodes += step == 1 ? 3 : 1;
        ASSERT_TRUE(ready_.WaitFor(decodes));
        EXPECT_LE(cache.Bytes(), kLimit) << step;
    }
    EXPECT_EQ(cache.Bytes(), kLimit);
    EXPECT_EQ(cache.Find(files[0], 160).state, State::Ready);
    EXPECT_EQ(cache.Find(broken, 160).state, State::Failed);
    for (size_t i = files.size() - 9; i < files.size(); ++i)
        EXPECT_EQ(cache.Find(files[i], 160).state, State::Ready) << i;
    EXPECT_EQ(decoder.Decoded().size(), files.size() + 1);

    // One thumbnail over the whole limit is kept on its own.
    cache.BeginPaint();
    cache.Find(WriteText("huge.jpg", ""), 160);
    ASSERT_TRUE(ready_.WaitFor(decodes + 1));
    EXPECT_EQ(cache.Find(Path("huge.jpg"), 160).state, State::Ready);
    EXPECT_EQ(cache.Bytes(), size_t{100} * 100 * 3);
    EXPECT_EQ(cache.Find(broken, 160).state, State::Failed);
    EXPECT_EQ(cache.Find(files[0], 160).state, State::Pending);
    EXPECT_EQ(cache.Find(files[1], 160).state, State::Pending);
}

TEST_F(ThumbnailCacheTest, OnlyTheLatestPaintsRequestsAreDecodedInItsOrder) {
    FakeDecoder decoder;
    CThumbnailCache cache(ready_.Callback(), CThumbnailCache::kDefaultByteLimit,
                          decoder.Function());
    const std::vector<std::string> passed = Files(0, 100);
    const std::vector<std::string> shown = Files(200, 4);
    decoder.Hold();
    cache.BeginPaint();
    for (const std::string& path : passed) EXPECT_EQ(cache.Find(path, 160).state, State::Pending);
    // The first request is being decoded and held there; the painter does not wait for it.
    ASSERT_TRUE(decoder.WaitForStarts(1));
    cache.BeginPaint();
    for (const std::string& path : passed) cache.Find(path, 160);
    cache.BeginPaint();
    EXPECT_EQ(cache.Find(passed[0], 160).state, State::Pending);
    for (const std::string& path : shown) EXPECT_EQ(cache.Find(path, 160).state, State::Pending);
    decoder.Release();
    ASSERT_TRUE(ready_.WaitFor(5));
    // Whatever was still queued comes before a later request, so this one shows it.
    cache.BeginPaint();
    cache.Find(Path("f999.jpg"), 160);
    ASSERT_TRUE(ready_.WaitFor(6));
    EXPECT_EQ(decoder.Decoded(), (std::vector<std::string>{"f0.jpg", "f200.jpg", "f201.jpg",
                                                           "f202.jpg", "f203.jpg", "f999.jpg"}));
}

// The decode under way is finished; the 499 files queued behind it are not decoded.
TEST_F(ThumbnailCacheTest, DestructionDoesNotWorkThroughTheQueue) {
    FakeDecoder decoder;
    const std::vector<std::string> files = Files(0, 500);
    std::thread releaser;
    {
        CThumbnailCache cache(ready_.Callback(), CThumbnailCache::kDefaultByteLimit,
                              decoder.Function());
        decoder.Hold();
        cache.BeginPaint();
        for (const std::string& path : files) cache.Find(path, 160);
        ASSERT_TRUE(decoder.WaitForStarts(1));
        // Released once the destructor is (very likely) waiting; were it released earlier,
        // a decode or two more would still be far from the whole queue.
        releaser = std::thread([&decoder] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            decoder.Release();
        });
    }
    releaser.join();
    EXPECT_LT(decoder.Decoded().size(), 5u);
    EXPECT_LT(ready_.Count(), 5);
}

// A file that keeps changing (being copied in, being recorded) is decoded at most once a
// second; in between, its last thumbnail is shown.
TEST_F(ThumbnailCacheTest, AChangingFileIsDecodedAtMostOncePerInterval) {
    FakeDecoder decoder;
    CThumbnailCache cache(ready_.Callback(), CThumbnailCache::kDefaultByteLimit,
                          decoder.Function());
    const std::string growing = WriteText("growing.avi", "x");
    cache.BeginPaint();
    EXPECT_EQ(cache.Find(growing, 160).state, State::Pending);
    ASSERT_TRUE(ready_.WaitFor(1));
    const std::shared_ptr<const Thumbnail> first = cache.Find(growing, 160).thumbnail;
    ASSERT_TRUE(first);

    // Repaint after repaint while the file grows within the interval: the old thumbnail.
    for (int step = 1; step <= 4; ++step) {
        clockMs_ += CThumbnailCache::kRedecodeIntervalMs / 5;
        WriteText("growing.avi", std::string(static_cast<size_t>(step) + 1, 'x'));
        cache.BeginPaint();
        const CThumbnailCache::Lookup lookup = cache.Find(growing, 160);
        EXPECT_EQ(lookup.state, State::Ready) << step;
        EXPECT_EQ(lookup.thumbnail, first) << step;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(decoder.Decoded().size(), 1u);

    // Once the interval is over, the queued decode runs without another paint.
    clockMs_ += CThumbnailCache::kRedecodeIntervalMs / 5;
    ASSERT_TRUE(ready_.WaitFor(2));
    EXPECT_EQ(decoder.Decoded().size(), 2u);
    const CThumbnailCache::Lookup renewed = cache.Find(growing, 160);
    ASSERT_EQ(renewed.state, State::Ready);
    EXPECT_NE(renewed.thumbnail, first);
}

// A decode stuck in the file system (a stale network mount) does not hold up the end of
// the program: the destructor gives up on it after kStopWait, and its result is not
// reported to a window that is gone.
TEST_F(ThumbnailCacheTest, DestructionLeavesAStuckDecodeBehind) {
    FakeDecoder decoder;
    const std::string file = Files(0, 1)[0];
    decoder.Hold();
    const auto start = std::chrono::steady_clock::now();
    {
        CThumbnailCache cache(ready_.Callback(), CThumbnailCache::kDefaultByteLimit,
                              decoder.Function());
        cache.BeginPaint();
        cache.Find(file, 160);
        ASSERT_TRUE(decoder.WaitForStarts(1));
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, CThumbnailCache::kStopWait);
    EXPECT_LT(waited, CThumbnailCache::kStopWait + std::chrono::seconds(3));
    decoder.Release();
    ASSERT_TRUE(decoder.WaitForFinishes(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ready_.Count(), 0);
}

}  // namespace
