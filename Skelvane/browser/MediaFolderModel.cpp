#include "Skelvane/browser/MediaFolderModel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <system_error>

#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/Sys.h"

namespace {

constexpr const char* kThreadFailure = "Thread of monitoring lumivor path  run failure";

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// True for a regular file, or a link to one. Anything else named like a media file (a
// FIFO, a device, a folder, a dangling link) is not listed: it cannot be shown, and opening
// some of them blocks.
bool IsRegularFile(int folder, const char* name) {
    struct stat info {};
    return fstatat(folder, name, &info, 0) == 0 && S_ISREG(info.st_mode);
}

// The media names of a folder in name order; none for no folder or one that cannot be
// read. Linux file systems list names in hash order, not by name, and the strip, its
// appends at the end and its searches all expect name order.
std::vector<std::string> ListMediaNames(const std::string& folder) {
    std::vector<std::string> names;
    if (folder.empty()) return names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        if (!IsMediaName(entry->d_name)) continue;
        const bool regular =
            entry->d_type == DT_REG || ((entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) &&
                                        IsRegularFile(dirfd(dir.get()), entry->d_name));
        if (regular) names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsSameOrBelow(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

}  // namespace

bool IsMediaName(const std::string& name) {
    return name.find(".jpg") != std::string::npos || name.find(".avi") != std::string::npos;
}

CMediaFolderModel::CMediaFolderModel(IMediaListView& view, MediaRootSource mediaRoot,
                                     ChangeSourceFactory openChanges)
    : view_(view), mediaRoot_(std::move(mediaRoot)), openChanges_(std::move(openChanges)) {
    StartMonitor();
    StartWorker(processorRunning, processorThread, &CMediaFolderModel::ChangeProcessorProc);
}

void CMediaFolderModel::StartWorker(std::atomic<bool>& running, std::thread& thread,
                                    void (CMediaFolderModel::*proc)()) {
    running = true;
    try {
        thread = std::thread(proc, this);
    } catch (const std::system_error&) {
        running = false;
        sys::WarningBox(kThreadFailure);
    }
}

CMediaFolderModel::CMediaFolderModel(IMediaListView& view)
    : CMediaFolderModel(view, CurrentMediaRoot, WatchTree) {}

std::string CMediaFolderModel::CurrentMediaRoot() {
    return CSettingParamManage::Instance()->GetCurrent().GetMediaRoot();
}

std::unique_ptr<fswatch::IChangeSource> CMediaFolderModel::WatchTree(const std::string& root) {
    return fswatch::FolderWatcher::Open(root);
}

CMediaFolderModel::~CMediaFolderModel() {
    StopMonitor();
    {
        std::lock_guard lock(queueLock);
        processorRunning = false;
    }
    queueChanged.notify_all();
    if (processorThread.joinable()) processorThread.join();
}

void CMediaFolderModel::ClearFiles() {
    std::lock_guard lock(listLock);
    fileNames.clear();
}

void CMediaFolderModel::AppendFile(const std::string& name) {
    std::lock_guard lock(listLock);
    // The program's files carry the greatest names so far; one that does not is put in its
    // place, so the list stays in name order for the searches below.
    if (fileNames.empty() || fileNames.back() < name)
        fileNames.push_back(name);
    else
        InsertSortedLocked(name);
}

void CMediaFolderModel::InsertSorted(const std::string& name) {
    std::lock_guard lock(listLock);
    InsertSortedLocked(name);
}

void CMediaFolderModel::InsertSortedLocked(const std::string& name) {
    const auto place = std::lower_bound(fileNames.begin(), fileNames.end(), name);
    if (place == fileNames.end() || *place != name) fileNames.insert(place, name);
}

void CMediaFolderModel::RemoveFile(const std::string& name) {
    std::lock_guard lock(listLock);
    RemoveFileLocked(name);
}

bool CMediaFolderModel::RemoveFileLocked(const std::string& name) {
    const auto found = std::lower_bound(fileNames.begin(), fileNames.end(), name);
    if (found == fileNames.end() || *found != name) return false;
    fileNames.erase(found);
    return true;
}

bool CMediaFolderModel::ContainsFile(const std::string& name) {
    std::lock_guard lock(listLock);
    return std::binary_search(fileNames.begin(), fileNames.end(), name);
}

void CMediaFolderModel::ScanFolder() {
    const std::string folder = GetBrowsedFolder();
    std::vector<std::string> names = ListMediaNames(folder);
    std::lock_guard lock(listLock);
    // The folder may have been switched while it was read; its names would not belong.
    if (browsedFolder == folder) fileNames = std::move(names);
}

void CMediaFolderModel::SwitchFolder(const std::string& path, bool scrollToEnd) {
    {
        std::lock_guard lock(listLock);
        if (browsedFolder == path) return;
        fileNames.clear();
        browsedFolder = path;
    }
    ScanFolder();
    view_.UpdateScrollRange();
    if (scrollToEnd) view_.ScrollToEnd();
    view_.RequestRepaint();
}

std::string CMediaFolderModel::GetBrowsedFolder() {
    std::lock_guard lock(listLock);
    return browsedFolder;
}

std::string CMediaFolderModel::GetItemPath(size_t position) {
    std::lock_guard lock(listLock);
    if (position >= fileNames.size()) return {};
    return browsedFolder + "/" + fileNames[position];
}

size_t CMediaFolderModel::GetFileCount() {
    std::lock_guard lock(listLock);
    return fileNames.size();
}

std::string CMediaFolderModel::WatchedRoot() {
    std::lock_guard lock(sourceLock);
    return watchedRoot;
}

bool CMediaFolderModel::ForgetBrowsedFolderIfGone(const std::string& root, uint32_t action,
                                                  const std::string& name) {
    // The browsed folder is gone when it, or a folder above it, was removed or renamed.
    if (action != fswatch::FILE_ACTION_REMOVED && action != fswatch::FILE_ACTION_RENAMED_OLD_NAME)
        return false;
    const std::string browsed = GetBrowsedFolder();
    if (browsed.empty() || !IsSameOrBelow(browsed, root + "/" + name)) return false;
    SwitchFolder("", false);
    return true;
}

bool CMediaFolderModel::HandleChange(uint32_t action, const std::string& name) {
    // Files added by other programs are listed when the folder is scanned again; the
    // program's own files arrive through the folder tree.
    if (action == fswatch::FILE_ACTION_ADDED) return false;
    const std::string root = WatchedRoot();
    if (ForgetBrowsedFolderIfGone(root, action, name)) return true;
    const size_t slash = name.rfind('/');
    if (slash == std::string::npos) return false;  // directly in the root
    const std::string folder = root + "/" + name.substr(0, slash);
    const std::string file = name.substr(slash + 1);
    if (!IsMediaName(file)) return false;
    {
        std::lock_guard lock(listLock);
        if (browsedFolder != folder) return false;
        switch (action) {
            case fswatch::FILE_ACTION_REMOVED:
            case fswatch::FILE_ACTION_RENAMED_OLD_NAME:
                RemoveFileLocked(file);
                break;
            case fswatch::FILE_ACTION_RENAMED_NEW_NAME:
                InsertSortedLocked(file);
                break;
            default:
                return false;
        }
    }
    if (action == fswatch::FILE_ACTION_REMOVED) view_.KeepScrollFromEnd();
    return true;
}

void CMediaFolderModel::StartMonitor() {
    {
        std::lock_guard lock(sourceLock);
        watchedRoot = mediaRoot_();
    }
    StartWorker(monitorRunning, monitorThread, &CMediaFolderModel::MonitorThreadProc);
}

void CMediaFolderModel::StopMonitor() {
    monitorRunning = false;
    {
        // A monitor that has not opened its source yet sees the cleared flag under this
        // lock and never waits; one that has is woken here.
        std::lock_guard lock(sourceLock);
        if (changeSource) changeSource->Wake();
    }
    if (monitorThread.joinable()) monitorThread.join();
    std::lock_guard lock(sourceLock);
    changeSource.reset();
}

void CMediaFolderModel::ResetForNewRoot() {
    SwitchFolder("", false);
    StopMonitor();
    StartMonitor();
}

void CMediaFolderModel::MonitorThreadProc() {
    fswatch::IChangeSource* source = nullptr;
    std::string root;
    {
        std::lock_guard lock(sourceLock);
        if (!monitorRunning) return;
        root = watchedRoot;
        changeSource = openChanges_(watchedRoot);
        source = changeSource.get();
    }
    // A root that cannot be watched leaves the list unfollowed until the next root.
    if (!source) {
        sys::DebugTraceF("media root %s cannot be watched", root.c_str());
        return;
    }
    fswatch::Batch batch;
    while (monitorRunning && source->Wait(batch)) {
        {
            std::lock_guard lock(queueLock);
            changeQueue.push_back(std::move(batch));
        }
        queueChanged.notify_one();
    }
}

void CMediaFolderModel::ChangeProcessorProc() {
    // A burst of changes becomes one repaint once the queue has been quiet for kQuietMs;
    // lost changes, and a burst of more than kRescanAbove, become one rescan of the browsed
    // folder (20 000 deletions are then one listing, not 20 000 searches and window calls).
    bool rescan = false;
    bool repaint = false;
    size_t burst = 0;  // changes taken since the last repaint
    int64_t lastTaken = sys::ProcessClockMs();
    std::unique_lock lock(queueLock);
    while (processorRunning) {
        if (!changeQueue.empty()) {
            const fswatch::Batch batch = std::move(changeQueue.front());
            changeQueue.pop_front();
            lastTaken = sys::ProcessClockMs();
            lock.unlock();
            burst += batch.changes.size();
            if (batch.lost || burst > kRescanAbove) rescan = repaint = true;
            const std::string root = rescan ? WatchedRoot() : std::string();
            for (const fswatch::Change& change : batch.changes) {
                if (sys::DebugTraceEnabled())
                    sys::DebugTraceF("media change %u %s", change.action, change.name.c_str());
                if (rescan)
                    ForgetBrowsedFolderIfGone(root, change.action, change.name);
                else if (HandleChange(change.action, change.name))
                    repaint = true;
            }
            lock.lock();
            continue;
        }
        if (!rescan && !repaint) {
            queueChanged.wait(lock);
            continue;
        }
        const int64_t quiet = sys::ProcessClockMs() - lastTaken;
        if (quiet <= kQuietMs) {
            queueChanged.wait_for(lock, std::chrono::milliseconds(kQuietMs + 1 - quiet));
            continue;
        }
        burst = 0;
        lock.unlock();
        if (rescan) {
            rescan = false;
            ScanFolder();
            view_.KeepScrollFromEnd();
        }
        repaint = false;
        view_.RequestRepaint();
        lock.lock();
    }
    changeQueue.clear();
}
