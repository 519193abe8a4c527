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

// The media names of a folder in name order; none for no folder or one that cannot be
// read. Linux file systems list names in hash order, not by name, and the strip, its
// appends at the end and its walks from the end all expect name order.
std::vector<std::string> ListMediaNames(const std::string& folder) {
    std::vector<std::string> names;
    if (folder.empty()) return names;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir) return names;
    while (const dirent* entry = readdir(dir.get())) {
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder =
                fstatat(dirfd(dir.get()), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        // "." and ".." are folders too.
        if (!isFolder && IsMediaName(entry->d_name)) names.emplace_back(entry->d_name);
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
    fileNames.push_back(name);
}

void CMediaFolderModel::InsertSorted(const std::string& name) {
    std::lock_guard lock(listLock);
    InsertSortedLocked(name);
}

void CMediaFolderModel::InsertSortedLocked(const std::string& name) {
    // A walk from the front, not a binary search: a scanned list is in the file system's
    // order, and the place found must be the one the walk finds.
    auto place = fileNames.begin();
    for (; place != fileNames.end(); ++place) {
        if (*place == name) return;
        if (name < *place) break;
    }
    fileNames.insert(place, name);
}

void CMediaFolderModel::RemoveFile(const std::string& name) {
    std::lock_guard lock(listLock);
    RemoveFileLocked(name);
}

bool CMediaFolderModel::RemoveFileLocked(const std::string& name) {
    const auto found = std::find(fileNames.begin(), fileNames.end(), name);
    if (found == fileNames.end()) return false;
    fileNames.erase(found);
    return true;
}

bool CMediaFolderModel::ContainsFile(const std::string& name) {
    // Files the program saves carry the greatest names so far, so the walk starts at the
    // end and stops at the first smaller name.
    std::lock_guard lock(listLock);
    for (auto entry = fileNames.rbegin(); entry != fileNames.rend(); ++entry) {
        if (*entry == name) return true;
        if (*entry < name) return false;
    }
    return false;
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

bool CMediaFolderModel::HandleChange(uint32_t action, const std::string& name) {
    // Files added by other programs are listed when the folder is scanned again; the
    // program's own files arrive through the folder tree.
    if (action == fswatch::FILE_ACTION_ADDED) return false;
    std::string root;
    {
        std::lock_guard lock(sourceLock);
        root = watchedRoot;
    }
    const std::string path = root + "/" + name;
    // The browsed folder is gone when it, or a folder above it, was removed or renamed.
    if (action == fswatch::FILE_ACTION_REMOVED || action == fswatch::FILE_ACTION_RENAMED_OLD_NAME) {
        const std::string browsed = GetBrowsedFolder();
        if (!browsed.empty() && IsSameOrBelow(browsed, path)) {
            SwitchFolder("", false);
            return true;
        }
    }
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
    // lost changes become one rescan of the browsed folder.
    bool rescan = false;
    bool repaint = false;
    int64_t lastTaken = sys::ProcessClockMs();
    std::unique_lock lock(queueLock);
    while (processorRunning) {
        if (!changeQueue.empty()) {
            const fswatch::Batch batch = std::move(changeQueue.front());
            changeQueue.pop_front();
            lastTaken = sys::ProcessClockMs();
            lock.unlock();
            if (batch.lost) rescan = repaint = true;
            for (const fswatch::Change& change : batch.changes) {
                if (sys::DebugTraceEnabled())
                    sys::DebugTraceF("media change %u %s", change.action, change.name.c_str());
                if (HandleChange(change.action, change.name)) repaint = true;
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
