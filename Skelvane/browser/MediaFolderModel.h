// The media list's model: the media file names of the browsed folder, and the two worker
// threads that keep the list in step with deletions and renamings below the media root.
// Plain C++, so it runs without a display; the media list dialog draws from it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fswatch/FolderWatcher.h"

// What the model asks of the window that shows the list. Called from the model's worker
// threads as well as from the caller's; the window posts the work to its UI thread.
class IMediaListView {
public:
    virtual ~IMediaListView() = default;
    virtual void UpdateScrollRange() = 0;
    virtual void KeepScrollFromEnd() = 0;
    virtual void ScrollToEnd() = 0;
    virtual void RequestRepaint() = 0;
};

// A name with ".jpg" or ".avi" anywhere in it (case-sensitive).
bool IsMediaName(const std::string& name);

class CMediaFolderModel {
public:
    using MediaRootSource = std::function<std::string()>;
    using ChangeSourceFactory =
        std::function<std::unique_ptr<fswatch::IChangeSource>(const std::string& root)>;

    // Starts the monitor and the change processor. `mediaRoot` is read each time a monitor
    // starts; `openChanges` opens the change source on it (null: nothing to watch).
    CMediaFolderModel(IMediaListView& view, MediaRootSource mediaRoot,
                      ChangeSourceFactory openChanges);
    // The media root of the current settings, watched through inotify.
    explicit CMediaFolderModel(IMediaListView& view);
    ~CMediaFolderModel();
    // The defaults: the media root of the current settings, watched through inotify.
    static std::string CurrentMediaRoot();
    static std::unique_ptr<fswatch::IChangeSource> WatchTree(const std::string& root);
    CMediaFolderModel(const CMediaFolderModel&) = delete;
    CMediaFolderModel& operator=(const CMediaFolderModel&) = delete;

    // The list is kept in name order, so the searches bisect it.
    void ClearFiles();
    // Appends `name`; one that is not the greatest so far goes in its place instead.
    void AppendFile(const std::string& name);
    void InsertSorted(const std::string& name);
    void RemoveFile(const std::string& name);
    bool ContainsFile(const std::string& name);
    // Refills the list from the browsed folder (nothing when none is browsed).
    void ScanFolder();
    void SwitchFolder(const std::string& path, bool scrollToEnd);
    std::string GetBrowsedFolder();
    // The full path of the entry at `position`; empty beyond the end.
    std::string GetItemPath(size_t position);
    size_t GetFileCount();
    // True when the pane must be repainted.
    bool HandleChange(uint32_t action, const std::string& name);
    void StopMonitor();
    void ResetForNewRoot();

    // The quiet time after the last change before the pane is repainted.
    static constexpr int64_t kQuietMs = 50;
    // More changes than this before a quiet time are followed by one rescan instead of one
    // by one.
    static constexpr size_t kRescanAbove = 256;

private:
    std::string WatchedRoot();
    // When `name` (relative to `root`) removed or renamed away the browsed folder or one
    // above it, browses none and returns true.
    bool ForgetBrowsedFolderIfGone(const std::string& root, uint32_t action,
                                   const std::string& name);
    void InsertSortedLocked(const std::string& name);
    bool RemoveFileLocked(const std::string& name);
    // Sets `running` and starts `proc` on `thread`; a thread that cannot be made clears the
    // flag again and shows the thread failure box.
    void StartWorker(std::atomic<bool>& running, std::thread& thread,
                     void (CMediaFolderModel::*proc)());
    void StartMonitor();
    void MonitorThreadProc();
    void ChangeProcessorProc();

    IMediaListView& view_;
    MediaRootSource mediaRoot_;
    ChangeSourceFactory openChanges_;

    std::vector<std::string> fileNames;
    std::string browsedFolder;
    std::mutex listLock;

    std::deque<fswatch::Batch> changeQueue;
    std::mutex queueLock;
    std::condition_variable queueChanged;

    std::atomic<bool> monitorRunning{false};
    std::atomic<bool> processorRunning{false};
    // The watched root and the monitor's change source, reachable by StopMonitor to wake it.
    std::mutex sourceLock;
    std::string watchedRoot;
    std::unique_ptr<fswatch::IChangeSource> changeSource;
    std::thread monitorThread;
    std::thread processorThread;
};
