// Change notification for a folder tree: inotify watches on the root and every folder
// below it, turned into the change records the media browser consumes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/sys/UniqueFd.h"

namespace fswatch {

// Action codes of a change record, with the Windows numbers.
enum Action : uint32_t {
    FILE_ACTION_ADDED = 1,
    FILE_ACTION_REMOVED = 2,
    FILE_ACTION_MODIFIED = 3,
    FILE_ACTION_RENAMED_OLD_NAME = 4,
    FILE_ACTION_RENAMED_NEW_NAME = 5,
};

struct Change {
    uint32_t action = 0;
    std::string name;  // relative to the watched root, "/" between folders
    bool operator==(const Change&) const = default;
};

// What one wait delivers: changes in the order they happened, or `lost` when the kernel's
// queue overflowed and the caller must look at the tree afresh.
struct Batch {
    bool lost = false;
    std::vector<Change> changes;
};

// Anything that delivers batches of changes and can be woken to stop (the watcher below;
// tests script their own).
class IChangeSource {
public:
    virtual ~IChangeSource() = default;
    // Blocks until changes arrive. False once Wake() was called, or when watching ended
    // (the root went away, a read failed).
    virtual bool Wait(Batch& batch) = 0;
    // Makes the pending and every later Wait return false; callable from any thread.
    virtual void Wake() = 0;
};

class FolderWatcher : public IChangeSource {
public:
    // Null when the root cannot be watched (missing, not a folder, no inotify).
    static std::unique_ptr<FolderWatcher> Open(const std::string& root);

    bool Wait(Batch& batch) override;
    void Wake() override;

private:
    FolderWatcher(sys::UniqueFd inotify, sys::UniqueFd wake, std::string root);

    // Watches `relative` (empty: the root) and every folder below it. With `report`, the
    // entries found below it are reported as added: they may have appeared before the
    // watch existed. Returns the folder's watch, negative when it could not be watched.
    int WatchTree(const std::string& relative, bool report, std::vector<Change>& out);
    void ForgetTree(const std::string& relative);
    void MoveTree(const std::string& from, const std::string& to);
    // Reads what the kernel has queued; false on a read failure.
    bool ReadEvents(Batch& batch);
    // Waits up to `timeoutMs` for the inotify queue or the wake; true when events can be read.
    bool Readable(int timeoutMs, bool& woken);

    sys::UniqueFd inotify_;
    sys::UniqueFd wake_;
    std::string root_;
    int rootWatch_ = -1;
    bool rootGone_ = false;
    std::unordered_map<int, std::string> folders_;  // watch -> folder relative to the root
    std::vector<char> buffer_;
};

}  // namespace fswatch
