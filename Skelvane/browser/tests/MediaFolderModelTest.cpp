#include "Skelvane/browser/MediaFolderModel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>

#include "tests/support/TempFolder.h"
#include "tests/support/TraceRecorder.h"

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

constexpr auto kPatience = std::chrono::seconds(5);

// Counts what the model asks of the window.
class CountingView : public IMediaListView {
public:
    void UpdateScrollRange() override { Count(updates); }
    void KeepScrollFromEnd() override { Count(keeps); }
    void ScrollToEnd() override { Count(ends); }
    void RequestRepaint() override { Count(repaints); }

    int Read(const int& counter) {
        std::lock_guard lock(mutex);
        return counter;
    }
    bool WaitForRepaints(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return repaints >= count; });
    }

    int updates = 0, keeps = 0, ends = 0, repaints = 0;

private:
    void Count(int& counter) {
        std::lock_guard lock(mutex);
        ++counter;
        changed.notify_all();
    }
    std::mutex mutex;
    std::condition_variable changed;
};

// A change source the test feeds by hand.
class ScriptedSource : public fswatch::IChangeSource {
public:
    bool Wait(fswatch::Batch& batch) override {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return woken || !batches.empty(); });
        if (woken) return false;
        batch = std::move(batches.front());
        batches.pop_front();
        return true;
    }
    void Wake() override {
        std::lock_guard lock(mutex);
        woken = true;
        changed.notify_all();
    }
    void Push(fswatch::Batch batch) {
        std::lock_guard lock(mutex);
        batches.push_back(std::move(batch));
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<fswatch::Batch> batches;
    bool woken = false;
};

std::unique_ptr<fswatch::IChangeSource> NoSource(const std::string&) {
    return nullptr;
}

// Opens the real watcher and tells the test once its watches are in place.
struct Watch {
    std::unique_ptr<fswatch::IChangeSource> operator()(const std::string& root) {
        auto watcher = fswatch::FolderWatcher::Open(root);
        opened = watcher != nullptr;
        return watcher;
    }
    std::atomic<bool> opened = false;
};

Names ListOf(CMediaFolderModel& model) {
    Names names;
    const std::string prefix = model.GetBrowsedFolder() + "/";
    for (size_t i = 0;; ++i) {
        const std::string path = model.GetItemPath(i);
        if (path.empty()) return names;
        names.push_back(path.substr(prefix.size()));
    }
}

// Polls the model until `done` holds; the monitor works on its own threads.
template <typename Condition>
bool Eventually(Condition done) {
    const auto until = std::chrono::steady_clock::now() + kPatience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void Touch(const fs::path& path) {
    std::ofstream(path) << "x";
}

// A media root with its three kind folders and a few files.
struct MediaTree {
    MediaTree() {
        for (const char* file : {"Single Shots/a.jpg", "Single Shots/b.jpg", "Single Shots/c.jpg",
                                 "Single Shots/notes.txt", "Movies/m1.avi", "Movies/m3.avi",
                                 "Timed Shots/t.jpg", "r.jpg"}) {
            fs::create_directories((folder / file).parent_path());
            Touch(folder / file);
        }
        fs::create_directories(folder / "Single Shots/folder.jpg");
    }
    std::string Root() const { return folder.Path().string(); }
    std::string operator/(const std::string& relative) const { return folder / relative; }
    support::TempFolder folder{"media-model-test"};
};

// A model watching the tree's root for real; use it once Opened() holds.
struct WatchedModel {
    explicit WatchedModel(const MediaTree& tree)
        : model(
              view, [root = tree.Root()] { return root; }, std::ref(watch)) {}
    bool Opened() {
        return Eventually([&] { return watch.opened.load(); });
    }

    CountingView view;
    Watch watch;
    CMediaFolderModel model;
};

}  // namespace

TEST(MediaFolderModel, ListOperations) {
    enum Op { Append, Insert, Remove, Contains };
    struct Case {
        Names start;
        Op op;
        std::string name;
        Names expected;
        bool contains = false;
    };
    const Case cases[] = {
        {{}, Insert, "a.jpg", {"a.jpg"}},
        {{"a.jpg", "c.jpg"}, Insert, "b.jpg", {"a.jpg", "b.jpg", "c.jpg"}},
        {{"a.jpg", "c.jpg"}, Insert, "d.jpg", {"a.jpg", "c.jpg", "d.jpg"}},
        {{"a.jpg", "c.jpg"}, Insert, "a.jpg", {"a.jpg", "c.jpg"}},
        // Code-unit order: upper case before lower case, non-ASCII after both.
        {{"a.jpg"}, Insert, "B.jpg", {"B.jpg", "a.jpg"}},
        {{"z.jpg"}, Insert, "\xc3\xa9.jpg", {"z.jpg", "\xc3\xa9.jpg"}},
        // An append of a name smaller than the last goes in its place, once: the list stays
        // in name order for the searches.
        {{"b.jpg"}, Append, "a.jpg", {"a.jpg", "b.jpg"}},
        {{"a.jpg", "c.jpg"}, Append, "c.jpg", {"a.jpg", "c.jpg"}},
        {{"a.jpg", "b.jpg", "c.jpg"}, Remove, "b.jpg", {"a.jpg", "c.jpg"}},
        {{"a.jpg", "b.jpg", "c.jpg"}, Remove, "a.jpg", {"b.jpg", "c.jpg"}},
        {{"a.jpg"}, Remove, "x.jpg", {"a.jpg"}},
        {{"b.jpg"}, Remove, "a.jpg", {"b.jpg"}},
        {{"a.jpg", "c.jpg", "e.jpg"}, Contains, "c.jpg", {"a.jpg", "c.jpg", "e.jpg"}, true},
        {{"a.jpg", "c.jpg", "e.jpg"}, Contains, "e.jpg", {"a.jpg", "c.jpg", "e.jpg"}, true},
        {{"a.jpg", "c.jpg", "e.jpg"}, Contains, "b.jpg", {"a.jpg", "c.jpg", "e.jpg"}, false},
        {{}, Contains, "a.jpg", {}, false},
    };
    CountingView view;
    CMediaFolderModel model(
        view, [] { return std::string("/nowhere"); }, NoSource);
    model.SwitchFolder("/nowhere/Movies", false);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name + " into " + std::to_string(test.start.size()) + " names");
        model.ClearFiles();
        for (const std::string& name : test.start) model.AppendFile(name);
        bool contains = false;
        switch (test.op) {
            case Append:
                model.AppendFile(test.name);
                break;
            case Insert:
                model.InsertSorted(test.name);
                break;
            case Remove:
                model.RemoveFile(test.name);
                break;
            case Contains:
                contains = model.ContainsFile(test.name);
                break;
        }
        EXPECT_EQ(ListOf(model), test.expected);
        EXPECT_EQ(contains, test.contains);
    }
}

TEST(MediaFolderModel, HandleChange) {
    struct Case {
        uint32_t action;
        std::string name;
        bool repaint;
        Names expected;
        std::string browsed = "/m/Movies";
        bool kept = false;  // the view keeps its distance from the end
    };
    const Names start = {"a.avi", "c.avi"};
    const std::string longName = std::string(300, 'l') + ".avi";
    const Case cases[] = {
        {1, "Movies/b.avi", false, start},
        {2, "Movies/a.avi", true, {"c.avi"}, "/m/Movies", true},
        {4, "Movies/a.avi", true, {"c.avi"}},
        {5, "Movies/b.avi", true, {"a.avi", "b.avi", "c.avi"}},
        {5, "Movies/b.jpg.txt", true, {"a.avi", "b.jpg.txt", "c.avi"}},
        {3, "Movies/a.avi", false, start},
        {2, "Movies/a.AVI", false, start},
        {2, "Single Shots/a.avi", false, start},
        {2, "a.avi", false, start},
        {2, "Movies/" + longName, true, {"a.avi", "c.avi"}, "/m/Movies", true},
        {5, "Movies/" + longName, true, {"a.avi", "c.avi", longName}},
        // The browsed folder, or a folder above it, removed or renamed away.
        {2, "Movies", true, {}, ""},
        {4, "Movies", true, {}, ""},
        {2, "Mov", false, start},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.action) + " " + test.name.substr(0, 40));
        CountingView view;
        CMediaFolderModel model(
            view, [] { return std::string("/m"); }, NoSource);
        model.SwitchFolder("/m/Movies", false);
        for (const std::string& name : start) model.AppendFile(name);
        if (test.name == "Movies/" + longName && test.action == 2) model.AppendFile(longName);
        EXPECT_EQ(model.HandleChange(test.action, test.name), test.repaint);
        EXPECT_EQ(ListOf(model), test.expected);
        EXPECT_EQ(model.GetBrowsedFolder(), test.browsed);
        EXPECT_EQ(view.Read(view.keeps) > 0, test.kept);
    }
    CountingView view;
    CMediaFolderModel model(
        view, [] { return std::string("/m"); }, NoSource);
    model.SwitchFolder("/m/Movies/20160406/000", false);
    EXPECT_TRUE(model.HandleChange(2, "Movies/20160406"));
    EXPECT_EQ(model.GetBrowsedFolder(), "");
}

TEST(MediaFolderModel, SwitchFolderScansMediaFilesOnlyAndNoFolderListsNothing) {
    MediaTree tree;
    CountingView view;
    CMediaFolderModel model(
        view, [&] { return tree.Root(); }, NoSource);
    model.SwitchFolder(tree / "Single Shots", true);
    EXPECT_EQ(ListOf(model), (Names{"a.jpg", "b.jpg", "c.jpg"}));  // in name order
    EXPECT_EQ(model.GetItemPath(3), "");
    EXPECT_EQ(view.Read(view.ends), 1);
    model.SwitchFolder(tree / "Single Shots", true);  // the same folder: nothing happens
    EXPECT_EQ(view.Read(view.updates), 1);
    model.SwitchFolder("", false);
    model.ScanFolder();
    EXPECT_EQ(model.GetFileCount(), 0u);
    model.SwitchFolder(tree / "missing", false);
    EXPECT_EQ(model.GetFileCount(), 0u);
}

// Only regular files, and links to them, are listed: a FIFO or a link to one named like a
// picture would only ever be a slot that cannot be drawn (and blocks whoever opens it).
TEST(MediaFolderModel, ScanListsRegularFilesAndLinksToThemOnly) {
    MediaTree tree;
    const fs::path shots = tree / "Single Shots";
    ASSERT_EQ(mkfifo((shots / "fifo.jpg").c_str(), 0600), 0);
    fs::create_symlink(shots / "fifo.jpg", shots / "link-to-fifo.jpg");
    fs::create_symlink(shots / "a.jpg", shots / "link-to-a.jpg");
    fs::create_symlink(shots / "gone.jpg", shots / "dangling.jpg");
    fs::create_symlink(shots / "folder.jpg", shots / "link-to-folder.jpg");
    CountingView view;
    CMediaFolderModel model(
        view, [&] { return tree.Root(); }, NoSource);
    model.SwitchFolder(shots, false);
    EXPECT_EQ(ListOf(model), (Names{"a.jpg", "b.jpg", "c.jpg", "link-to-a.jpg"}));
}

TEST(MediaFolderModel, FollowsDeletionsAndRenamesOfTheBrowsedFolderOnly) {
    MediaTree tree;
    WatchedModel watched(tree);
    ASSERT_TRUE(watched.Opened());
    CountingView& view = watched.view;
    CMediaFolderModel& model = watched.model;
    model.SwitchFolder(tree / "Movies", false);
    model.ClearFiles();
    model.AppendFile("m1.avi");
    model.AppendFile("m3.avi");
    fs::rename(tree / "Movies/m3.avi", tree / "Movies/m0.avi");
    EXPECT_TRUE(Eventually([&] {
        return ListOf(model) == Names{"m0.avi", "m1.avi"};
    })) << ListOf(model).size();

    model.SwitchFolder(tree / "Single Shots", false);
    const int keeps = view.Read(view.keeps);
    // Elsewhere in the tree, a copy into the browsed folder, then one deletion to wait on.
    fs::remove(tree / "Timed Shots/t.jpg");
    fs::remove(tree / "r.jpg");
    fs::rename(tree / "Movies/m1.avi", tree / "Movies/m2.avi");
    fs::copy_file(tree / "Single Shots/a.jpg", tree / "Single Shots/d.jpg");
    fs::remove(tree / "Single Shots/b.jpg");
    EXPECT_TRUE(Eventually([&] { return ListOf(model) == Names{"a.jpg", "c.jpg"}; }));
    EXPECT_GT(view.Read(view.keeps), keeps);
    // The copy is listed once the folder is chosen again.
    model.SwitchFolder("", false);
    model.SwitchFolder(tree / "Single Shots", false);
    EXPECT_EQ(ListOf(model), (Names{"a.jpg", "c.jpg", "d.jpg"}));
}

TEST(MediaFolderModel, ABurstOfDeletionsGivesOneRepaint) {
    MediaTree tree;
    for (int i = 0; i < 20; ++i) Touch(tree / ("Movies/burst" + std::to_string(i) + ".avi"));
    WatchedModel watched(tree);
    ASSERT_TRUE(watched.Opened());
    CountingView& view = watched.view;
    CMediaFolderModel& model = watched.model;
    model.SwitchFolder(tree / "Movies", false);
    const int repaints = view.Read(view.repaints);
    for (int i = 0; i < 20; ++i) fs::remove(tree / ("Movies/burst" + std::to_string(i) + ".avi"));
    ASSERT_TRUE(Eventually([&] { return model.GetFileCount() == 2; }));
    ASSERT_TRUE(view.WaitForRepaints(repaints + 1));
    // Well past the quiet period, no second repaint has come.
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * CMediaFolderModel::kQuietMs));
    EXPECT_EQ(view.Read(view.repaints), repaints + 1);
}

// 20 000 deletions in the browsed folder: the list ends consistent, and the window is asked
// for a bounded number of scroll updates and repaints, not one per file.
TEST(MediaFolderModel, MassDeletionBecomesOneRescan) {
    constexpr int kFiles = 20000;
    MediaTree tree;
    for (int i = 0; i < kFiles; ++i) Touch(tree / ("Movies/mass" + std::to_string(i) + ".avi"));
    WatchedModel watched(tree);
    ASSERT_TRUE(watched.Opened());
    CountingView& view = watched.view;
    CMediaFolderModel& model = watched.model;
    model.SwitchFolder(tree / "Movies", false);
    ASSERT_EQ(model.GetFileCount(), kFiles + 2u);
    const int keeps = view.Read(view.keeps);
    const int repaints = view.Read(view.repaints);
    for (int i = 0; i < kFiles; ++i)
        fs::remove(tree / ("Movies/mass" + std::to_string(i) + ".avi"));
    ASSERT_TRUE(Eventually([&] { return ListOf(model) == Names{"m1.avi", "m3.avi"}; }));
    ASSERT_TRUE(view.WaitForRepaints(repaints + 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(10 * CMediaFolderModel::kQuietMs));
    // A pause in the deletions may split them into a few bursts; one per file is 20 000.
    EXPECT_LE(view.Read(view.keeps) - keeps, 1000);
    EXPECT_LE(view.Read(view.repaints) - repaints, 10);
}

TEST(MediaFolderModel, DeletingTheBrowsedFolderLeavesNoneBrowsed) {
    for (bool moveAway : {false, true}) {
        SCOPED_TRACE(moveAway ? "moved out of the tree" : "deleted");
        MediaTree tree;
        const support::TempFolder away("media-model-away");
        fs::create_directories(tree / "Movies/20160406/000");
        Touch(tree / "Movies/20160406/000/Movie0000.avi");
        WatchedModel watched(tree);
        ASSERT_TRUE(watched.Opened());
        CMediaFolderModel& model = watched.model;
        model.SwitchFolder(tree / "Movies/20160406/000", false);
        ASSERT_EQ(model.GetFileCount(), 1u);
        if (moveAway)
            fs::rename(tree / "Movies/20160406", away / "day");
        else
            fs::remove_all(tree / "Movies/20160406");
        EXPECT_TRUE(Eventually([&] { return model.GetBrowsedFolder().empty(); }));
        EXPECT_EQ(model.GetFileCount(), 0u);
    }
}

TEST(MediaFolderModel, LostChangesRescanTheBrowsedFolder) {
    MediaTree tree;
    CountingView view;
    std::atomic<ScriptedSource*> source = nullptr;  // made on the monitor thread
    CMediaFolderModel model(
        view, [&] { return tree.Root(); },
        [&](const std::string&) -> std::unique_ptr<fswatch::IChangeSource> {
            auto scripted = std::make_unique<ScriptedSource>();
            source = scripted.get();
            return scripted;
        });
    model.SwitchFolder(tree / "Single Shots", false);
    ASSERT_TRUE(Eventually([&] { return source.load() != nullptr; }));
    const int repaints = view.Read(view.repaints);
    Touch(tree / "Single Shots/e.jpg");
    source.load()->Push({true, {}});
    EXPECT_TRUE(Eventually([&] { return model.GetFileCount() == 4; }));
    EXPECT_TRUE(view.WaitForRepaints(repaints + 1));
}

TEST(MediaFolderModel, ResetForNewRootStopsPromptlyAndWatchesTheNewRoot) {
    MediaTree first, second;
    std::string root = first.Root();
    CountingView view;
    Watch watch;
    CMediaFolderModel model(
        view, [&] { return root; }, std::ref(watch));
    ASSERT_TRUE(Eventually([&] { return watch.opened.load(); }));
    model.SwitchFolder(first / "Single Shots", false);
    root = second.Root();
    watch.opened = false;
    const auto start = std::chrono::steady_clock::now();
    model.ResetForNewRoot();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(model.GetBrowsedFolder(), "");
    ASSERT_TRUE(Eventually([&] { return watch.opened.load(); }));
    model.SwitchFolder(second / "Single Shots", false);
    fs::remove(second / "Single Shots/a.jpg");
    EXPECT_TRUE(Eventually([&] { return model.GetFileCount() == 2; }));
}

TEST(MediaFolderModel, ARootThatCannotBeWatchedIsTracedAndTheListStillFills) {
    MediaTree tree;
    support::TraceRecorder trace;
    CountingView view;
    const std::string missing = tree / "gone";
    CMediaFolderModel model(
        view, [&] { return missing; }, CMediaFolderModel::WatchTree);
    EXPECT_TRUE(Eventually([&] { return !trace.Find({"cannot be watched", missing}).empty(); }));
    model.SwitchFolder(tree / "Single Shots", false);
    EXPECT_EQ(model.GetFileCount(), 3u);
}
