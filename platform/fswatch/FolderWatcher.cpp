#include "platform/fswatch/FolderWatcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace fswatch {

namespace {

// Names, folders and attributes, as the browser asks of the platform. Writes are reported
// once per closing of a written file, not per write, so a recording movie stays quiet.
constexpr uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                IN_DONT_FOLLOW;

// The partner of a move is queued by the same rename; this only covers a read that ended
// between the two halves.
constexpr int kMovePartnerWaitMs = 10;

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (name.empty()) return folder;
    return folder + "/" + name;
}

bool IsSameOrBelow(const std::string& path, const std::string& folder) {
    return path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::unique_ptr<FolderWatcher> FolderWatcher::Open(const std::string& root) {
    sys::UniqueFd inotify(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    sys::UniqueFd wake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!inotify.Valid() || !wake.Valid() || root.empty()) return nullptr;
    std::unique_ptr<FolderWatcher> watcher(
        new FolderWatcher(std::move(inotify), std::move(wake), root));
    std::vector<Change> ignored;
    watcher->rootWatch_ = watcher->WatchTree("", false, ignored);
    if (watcher->rootWatch_ < 0) return nullptr;
    return watcher;
}

FolderWatcher::FolderWatcher(sys::UniqueFd inotify, sys::UniqueFd wake, std::string root)
    : inotify_(std::move(inotify)),
      wake_(std::move(wake)),
      root_(std::move(root)),
      buffer_(64 * 1024) {}

bool FolderWatcher::Wait(Batch& batch) {
    batch = Batch{};
    while (!rootGone_) {
        bool woken = false;
        if (!Readable(-1, woken)) return false;
        if (!ReadEvents(batch)) return false;
        if (batch.lost || !batch.changes.empty()) return true;
    }
    return false;
}

void FolderWatcher::Wake() {
    const uint64_t one = 1;
    // The counter is never read back, so the wake stays set for every later wait.
    [[maybe_unused]] ssize_t written = write(wake_.Get(), &one, sizeof one);
}

bool FolderWatcher::Readable(int timeoutMs, bool& woken) {
    pollfd fds[2] = {{inotify_.Get(), POLLIN, 0}, {wake_.Get(), POLLIN, 0}};
    for (;;) {
        const int ready = poll(fds, 2, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        if (fds[1].revents & POLLIN) {
            woken = true;
            return false;
        }
        return (fds[0].revents & POLLIN) != 0;
    }
}

bool FolderWatcher::ReadEvents(Batch& batch) {
    struct PendingMove {
        uint32_t cookie;
        std::string name;
        bool folder;
    };
    std::optional<PendingMove> pending;
    // A move whose other half never came left the tree.
    auto movedOut = [&] {
        if (!pending) return;
        batch.changes.push_back({FILE_ACTION_REMOVED, pending->name});
        if (pending->folder) ForgetTree(pending->name);
        pending.reset();
    };
    for (;;) {
        const ssize_t length = read(inotify_.Get(), buffer_.data(), buffer_.size());
        if (length < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN) return false;
        }
        for (ssize_t offset = 0; offset + ssize_t(sizeof(inotify_event)) <= length;) {
            inotify_event event;
            std::memcpy(&event, buffer_.data() + offset, sizeof event);
            const char* rawName = buffer_.data() + offset + sizeof event;
            offset += sizeof event + event.len;
            if (event.mask & IN_Q_OVERFLOW) {
                batch.lost = true;
                continue;
            }
            if (event.mask & IN_IGNORED) {
                if (event.wd == rootWatch_) rootGone_ = true;
                folders_.erase(event.wd);
                continue;
            }
            const auto folder = folders_.find(event.wd);
            if (folder == folders_.end()) continue;
            if (event.len == 0) {
                // About the watched folder itself; its parent reports the same change by
                // name. Only the root has no parent here.
                if (event.wd == rootWatch_ && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF)))
                    rootGone_ = true;
                continue;
            }
            const std::string name = Join(folder->second, std::string(rawName));
            const bool isFolder = (event.mask & IN_ISDIR) != 0;
            const bool pairsPending =
                pending && (event.mask & IN_MOVED_TO) && event.cookie == pending->cookie;
            if (!pairsPending) movedOut();
            if (pairsPending) {
                batch.changes.push_back({FILE_ACTION_RENAMED_OLD_NAME, pending->name});
                batch.changes.push_back({FILE_ACTION_RENAMED_NEW_NAME, name});
                if (isFolder) MoveTree(pending->name, name);
                pending.reset();
            } else if (event.mask & IN_MOVED_FROM) {
                pending = PendingMove{event.cookie, name, isFolder};
            } else if (event.mask & (IN_MOVED_TO | IN_CREATE)) {
                batch.changes.push_back({FILE_ACTION_ADDED, name});
                if (isFolder) WatchTree(name, true, batch.changes);
            } else if (event.mask & IN_DELETE) {
                batch.changes.push_back({FILE_ACTION_REMOVED, name});
            } else if (event.mask & (IN_ATTRIB | IN_CLOSE_WRITE)) {
                batch.changes.push_back({FILE_ACTION_MODIFIED, name});
            }
        }
        bool woken = false;
        if (!pending || !Readable(kMovePartnerWaitMs, woken)) break;
    }
    movedOut();
    // Folders created while events were being dropped have no watch yet.
    if (batch.lost) WatchTree("", false, batch.changes);
    return true;
}

int FolderWatcher::WatchTree(const std::string& relative, bool report, std::vector<Change>& out) {
    const std::string path = Join(root_, relative);
    // A root that is a link to a folder (a media folder moved to another disk) is followed;
    // links below it are not, as the walk below does not follow them either.
    const uint32_t mask = relative.empty() ? kWatchMask & ~IN_DONT_FOLLOW : kWatchMask;
    const int watch = inotify_add_watch(inotify_.Get(), path.c_str(), mask);
    if (watch < 0) return watch;
    folders_[watch] = relative;
    std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
    if (!dir) return watch;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        bool isFolder = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = fstatat(dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                       S_ISDIR(info.st_mode);
        }
        const std::string child = Join(relative, name);
        if (report) out.push_back({FILE_ACTION_ADDED, child});
        if (isFolder) WatchTree(child, report, out);
    }
    return watch;
}

void FolderWatcher::ForgetTree(const std::string& relative) {
    for (auto it = folders_.begin(); it != folders_.end();) {
        if (it->first != rootWatch_ && IsSameOrBelow(it->second, relative)) {
            inotify_rm_watch(inotify_.Get(), it->first);
            it = folders_.erase(it);
        } else {
            ++it;
        }
    }
}

void FolderWatcher::MoveTree(const std::string& from, const std::string& to) {
    for (auto& [watch, folder] : folders_)
        if (watch != rootWatch_ && IsSameOrBelow(folder, from))
            folder = to + folder.substr(from.size());
}

}  // namespace fswatch
