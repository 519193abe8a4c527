#include "platform/fswatch/FolderWatcher.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>

#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using fswatch::Change;
using fswatch::FolderWatcher;
using support::TempFolder;

namespace {

constexpr auto kPatience = std::chrono::seconds(5);

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

// Runs the watcher's wait loop on its own thread and keeps what it delivers.
class Collector {
public:
    explicit Collector(FolderWatcher& watcher) : watcher_(watcher) {
        thread_ = std::thread([this] {
            fswatch::Batch batch;
            while (watcher_.Wait(batch)) {
                std::lock_guard lock(mutex_);
                lost_ = lost_ || batch.lost;
                changes_.insert(changes_.end(), batch.changes.begin(), batch.changes.end());
                changed_.notify_all();
            }
            std::lock_guard lock(mutex_);
            ended_ = true;
            changed_.notify_all();
        });
    }
    ~Collector() { Stop(); }
    void Stop() {
        watcher_.Wake();
        if (thread_.joinable()) thread_.join();
    }
    bool WaitFor(const std::function<bool()>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kPatience, done);
    }
    bool WaitForChange(const Change& change) {
        return WaitFor(
            [&] { return std::find(changes_.begin(), changes_.end(), change) != changes_.end(); });
    }
    std::vector<Change> Changes() {
        std::lock_guard lock(mutex_);
        return changes_;
    }
    bool WaitForLost() {
        return WaitFor([this] { return lost_; });
    }
    bool WaitForEnd() {
        return WaitFor([this] { return ended_; });
    }

private:
    FolderWatcher& watcher_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Change> changes_;
    bool lost_ = false;
    bool ended_ = false;
    std::thread thread_;
};

// True when `expected` occurs in `changes` in this order, other changes between allowed.
bool InOrder(const std::vector<Change>& changes, const std::vector<Change>& expected) {
    auto next = expected.begin();
    for (const Change& change : changes)
        if (next != expected.end() && change == *next) ++next;
    return next == expected.end();
}

std::string Describe(const std::vector<Change>& changes) {
    std::string text;
    for (const Change& change : changes)
        text += std::to_string(change.action) + " " + change.name + "\n";
    return text;
}

}  // namespace

TEST(FolderWatcher, TranslatesChangesAnywhereInTheTree) {
    struct Case {
        const char* what;
        std::function<void(const fs::path& root, const fs::path& outside)> act;
        std::vector<Change> expected;
        const char* neverNamed = nullptr;  // a prefix no reported name may have
    };
    const Case cases[] = {
        {"add", [](auto& root, auto&) { Touch(root / "sub/new.jpg"); }, {{1, "sub/new.jpg"}}},
        {"remove", [](auto& root, auto&) { fs::remove(root / "sub/a.jpg"); }, {{2, "sub/a.jpg"}}},
        {"modify",
         [](auto& root, auto&) { fs::permissions(root / "sub/a.jpg", fs::perms::owner_read); },
         {{3, "sub/a.jpg"}}},
        {"rename within",
         [](auto& root, auto&) { fs::rename(root / "sub/a.jpg", root / "other/b.jpg"); },
         {{4, "sub/a.jpg"}, {5, "other/b.jpg"}}},
        {"move out",
         [](auto& root, auto& out) { fs::rename(root / "sub/a.jpg", out / "a.jpg"); },
         {{2, "sub/a.jpg"}}},
        {"move in",
         [](auto& root, auto& out) {
             Touch(out / "in.jpg");
             fs::rename(out / "in.jpg", root / "sub/in.jpg");
         },
         {{1, "sub/in.jpg"}}},
        {"new folder, then a file in it",
         [](auto& root, auto&) {
             fs::create_directory(root / "sub/day");
             Touch(root / "sub/day/f.jpg");
         },
         {{1, "sub/day"}, {1, "sub/day/f.jpg"}}},
        {"folder filled before it came in",
         [](auto& root, auto& out) {
             fs::create_directories(out / "run/deep");
             Touch(out / "run/deep/f.jpg");
             fs::rename(out / "run", root / "run");
         },
         {{1, "run"}, {1, "run/deep"}, {1, "run/deep/f.jpg"}}},
        {"removed watched folder",
         [](auto& root, auto&) { fs::remove_all(root / "sub"); },
         {{2, "sub/a.jpg"}, {2, "sub"}}},
        {"renamed folder keeps being watched under its new name",
         [](auto& root, auto&) {
             fs::rename(root / "sub", root / "moved");
             Touch(root / "moved/g.jpg");
         },
         {{4, "sub"}, {5, "moved"}, {1, "moved/g.jpg"}}},
        {"folder moved out is no longer watched",
         [](auto& root, auto& out) {
             fs::rename(root / "sub", out / "gone");
             Touch(out / "gone/g.jpg");
         },
         {{2, "sub"}},
         "gone"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.what);
        TempFolder root("fswatch-test"), outside("fswatch-test");
        fs::create_directories(root / "sub");
        fs::create_directories(root / "other");
        Touch(root / "sub/a.jpg");
        auto watcher = FolderWatcher::Open(root.Path());
        ASSERT_TRUE(watcher);
        Collector collector(*watcher);
        test.act(root.Path(), outside.Path());
        Touch(root / "end");
        ASSERT_TRUE(collector.WaitForChange({1, "end"})) << Describe(collector.Changes());
        const std::vector<Change> changes = collector.Changes();
        EXPECT_TRUE(InOrder(changes, test.expected)) << Describe(changes);
        for (const Change& change : changes) {
            EXPECT_NE(change.name, "") << Describe(changes);
            if (test.neverNamed) {
                EXPECT_NE(change.name.rfind(test.neverNamed, 0), 0u);
            }
        }
    }
}

TEST(FolderWatcher, LongNamesArriveWhole) {
    TempFolder root("fswatch-test");
    auto watcher = FolderWatcher::Open(root.Path());
    ASSERT_TRUE(watcher);
    Collector collector(*watcher);
    const std::string name = std::string(250, 'n') + ".jpg";
    fs::create_directory(root / std::string(200, 'd'));
    Touch(root / std::string(200, 'd') / name);
    EXPECT_TRUE(collector.WaitForChange({1, std::string(200, 'd') + "/" + name}));
}

// A media folder moved to another disk and left behind as a link is watched through the
// link; links below the root are not followed.
TEST(FolderWatcher, ARootThatIsALinkIsFollowed) {
    TempFolder place("fswatch-test");
    fs::create_directories(place / "moved/Movies");
    fs::create_directories(place / "elsewhere");
    Touch(place / "moved/Movies/m.avi");
    fs::create_directory_symlink(place / "elsewhere", place / "moved/link");
    fs::create_directory_symlink(place / "moved", place / "root");
    auto watcher = FolderWatcher::Open((place / "root").string());
    ASSERT_TRUE(watcher);
    Collector collector(*watcher);
    Touch(place / "elsewhere/outside.jpg");
    fs::remove(place / "moved/Movies/m.avi");
    EXPECT_TRUE(collector.WaitForChange({2, "Movies/m.avi"}));
    for (const Change& change : collector.Changes()) EXPECT_NE(change.name, "link/outside.jpg");
}

TEST(FolderWatcher, WakeEndsABlockedWaitPromptlyAndForGood) {
    TempFolder root("fswatch-test");
    auto watcher = FolderWatcher::Open(root.Path());
    ASSERT_TRUE(watcher);
    Collector collector(*watcher);
    const auto start = std::chrono::steady_clock::now();
    watcher->Wake();
    ASSERT_TRUE(collector.WaitForEnd());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    fswatch::Batch batch;
    Touch(root / "later.jpg");
    EXPECT_FALSE(watcher->Wait(batch));
}

TEST(FolderWatcher, EndsWhenTheRootGoesAndRefusesAMissingRoot) {
    TempFolder root("fswatch-test");
    auto watcher = FolderWatcher::Open(root.Path());
    ASSERT_TRUE(watcher);
    Collector collector(*watcher);
    fs::remove(root.Path());
    EXPECT_TRUE(collector.WaitForEnd());
    EXPECT_FALSE(FolderWatcher::Open(root.Path()));
    EXPECT_FALSE(FolderWatcher::Open(""));
}

// More changes than the kernel queues for one watcher, made before anything is read,
// overflow it for real; the machine's queue length is only read, never changed.
TEST(FolderWatcher, OverflowIsReportedAsLostAndNewFoldersAreStillWatched) {
    long limit = 0;
    std::ifstream("/proc/sys/fs/inotify/max_queued_events") >> limit;
    if (limit <= 0 || limit > 100000) GTEST_SKIP() << "inotify queue length " << limit;
    TempFolder root("fswatch-test");
    std::unique_ptr<FolderWatcher> watcher = FolderWatcher::Open(root.Path());
    ASSERT_TRUE(watcher);
    for (long i = 0; i <= limit; ++i) Touch(root / (std::to_string(i) + ".jpg"));
    fs::create_directory(root / "day");  // its notice is dropped with the rest
    Collector collector(*watcher);
    EXPECT_TRUE(collector.WaitForLost());
    Touch(root / "day/after.jpg");
    EXPECT_TRUE(collector.WaitForChange({1, "day/after.jpg"})) << Describe(collector.Changes());
}
