#include "tools/vcam/ReaderWatch.h"

#include <dirent.h>
#include <limits.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/sys/Sys.h"

namespace vcam {
namespace {

// Names of the entries of `folder`; nothing when it cannot be read (a process that ended,
// or one of another user).
template <class Visit>
void ForEachEntry(const std::string& folder, Visit visit) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        if (!visit(entry->d_name)) break;
    }
    closedir(dir);
}

bool ParsePid(const char* name, pid_t& pid) {
    char* end = nullptr;
    const long value = std::strtol(name, &end, 10);
    if (end == name || *end != '\0' || value <= 0) return false;
    pid = static_cast<pid_t>(value);
    return true;
}

}  // namespace

CReaderWatch::CReaderWatch(std::string procRoot)
    : procRoot_(std::move(procRoot)), self_(getpid()) {}

bool CReaderWatch::Open(const std::string& node, std::string& error) {
    char resolved[PATH_MAX];
    struct stat status {};
    if (realpath(node.c_str(), resolved) == nullptr || stat(resolved, &status) != 0) {
        error = node + ": " + sys::ErrnoText(errno);
        return false;
    }
    node_ = resolved;
    inode_ = status.st_ino;
    inotify_.Reset(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (!inotify_.Valid() ||
        inotify_add_watch(inotify_.Get(), node_.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        error = "cannot watch " + node_ + ": " + sys::ErrnoText(errno);
        return false;
    }
    return true;
}

bool CReaderWatch::TakeNotices() {
    bool any = false;
    alignas(inotify_event) char buffer[4096];
    while (read(inotify_.Get(), buffer, sizeof(buffer)) > 0) any = true;
    return any;
}

bool CReaderWatch::HoldsDevice(const std::string& pidFolder) const {
    bool holds = false;
    const std::string fdFolder = pidFolder + "/fd/";
    ForEachEntry(fdFolder, [&](const char* name) {
        char target[PATH_MAX];
        const ssize_t length = readlink((fdFolder + name).c_str(), target, sizeof(target));
        holds = length == static_cast<ssize_t>(node_.size()) &&
                node_.compare(0, node_.size(), target, static_cast<size_t>(length)) == 0;
        return !holds;
    });
    return holds;
}

bool CReaderWatch::MapsDevice(const std::string& pidFolder) const {
    std::ifstream maps(pidFolder + "/maps");
    std::string line;
    // "address perms offset dev inode path": the device's buffers are mappings of its node.
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::string address, permissions, offset, device, path;
        unsigned long long inode = 0;
        if (fields >> address >> permissions >> offset >> device >> inode >> path &&
            inode == inode_ && path == node_)
            return true;
    }
    return false;
}

void CReaderWatch::FindOpeners() {
    openers_.clear();
    ForEachEntry(procRoot_, [&](const char* name) {
        pid_t pid = 0;
        if (ParsePid(name, pid) && pid != self_ && HoldsDevice(procRoot_ + "/" + name))
            openers_.insert(pid);
        return true;
    });
}

int CReaderWatch::CountReaders() {
    int readers = 0;
    for (auto it = openers_.begin(); it != openers_.end();) {
        const std::string folder = procRoot_ + "/" + std::to_string(*it);
        if (access(folder.c_str(), F_OK) != 0) {
            it = openers_.erase(it);
            continue;
        }
        if (MapsDevice(folder)) ++readers;
        ++it;
    }
    return readers;
}

}  // namespace vcam
