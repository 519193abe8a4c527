#include "Skelvane/browser/ThumbnailCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "platform/sys/Sys.h"

struct CThumbnailCache::Core {
    struct Key {
        std::string path;
        int boxWidth = 0;
        auto operator<=>(const Key&) const = default;
    };
    // What a file was when it was decoded; a missing file has its own stamp, so a file that
    // appears later is decoded then.
    struct FileStamp {
        bool exists = false;
        uint64_t device = 0;
        uint64_t inode = 0;
        int64_t size = 0;
        int64_t modifiedSeconds = 0;
        int64_t modifiedNanoseconds = 0;
        bool operator==(const FileStamp&) const = default;
    };
    struct Entry;
    using Entries = std::map<Key, Entry>;
    struct Entry {
        FileStamp stamp;
        int64_t stampedAtMs = 0;                     // process clock when the stamp was taken
        std::shared_ptr<const Thumbnail> thumbnail;  // null: the file failed
        std::list<Entries::iterator>::iterator recent;
    };
    struct Request {
        Key key;
        uint64_t paint = 0;       // the last paint that asked for it
        int64_t notBeforeMs = 0;  // process clock before which it is not decoded
    };
    using Requests = std::list<Request>;

    Core(std::function<void()> onReady, size_t byteLimit, ThumbnailDecoder decode)
        : onReady_(std::move(onReady)), byteLimit_(byteLimit), decode_(std::move(decode)) {}

    static FileStamp StampOf(const std::string& path);
    static size_t PixelBytes(const Entry& entry);
    Lookup Find(const std::string& path, int boxWidth);
    void BeginPaint();
    void Queue(Key key, int64_t notBeforeMs);
    // The next request of the latest paint that is due, dropping older ones; nothing if none
    // is due, with `wakeAtMs` set to when the first delayed one is (0: none).
    std::optional<Key> TakeRequest(int64_t nowMs, int64_t& wakeAtMs);
    void Store(const Key& key, const FileStamp& stamp, int64_t stampedAtMs,
               std::optional<Thumbnail> thumbnail);
    void Forget(Entries::iterator entry);
    void DecodeLoop();
    static void Run(const std::shared_ptr<Core>& core);
    void Stop();

    const std::function<void()> onReady_;
    const size_t byteLimit_;
    const ThumbnailDecoder decode_;

    mutable std::mutex lock_;
    std::condition_variable requested_;
    std::condition_variable ended_;
    // Held while onReady_ runs; Stop sets `stopping_` under it, so no call is under way or
    // made once Stop returns.
    std::mutex callbackLock_;
    std::atomic<bool> stopping_{false};
    imaging::CancelFlag cancel_{false};
    bool threadEnded_ = false;
    Entries entries_;
    std::list<Entries::iterator> recentFirst_;  // every entry, most recently found first
    size_t bytes_ = 0;
    Requests requests_;
    std::map<Key, Requests::iterator> queued_;
    std::optional<Key> decoding_;
    uint64_t paint_ = 0;
    std::thread thread_;
};

CThumbnailCache::CThumbnailCache(std::function<void()> onReady, size_t byteLimit,
                                 ThumbnailDecoder decode)
    : core_(std::make_shared<Core>(std::move(onReady), byteLimit, std::move(decode))) {
    core_->thread_ = std::thread(&Core::Run, core_);
}

CThumbnailCache::~CThumbnailCache() {
    core_->Stop();
}

ThumbnailDecoder CThumbnailCache::DefaultDecoder() {
    return [](const std::string& path, int boxWidth, const imaging::CancelFlag& cancel) {
        return imaging::LoadThumbnail(path, boxWidth, &cancel);
    };
}

CThumbnailCache::Lookup CThumbnailCache::Find(const std::string& path, int boxWidth) {
    return core_->Find(path, boxWidth);
}

void CThumbnailCache::BeginPaint() {
    core_->BeginPaint();
}

size_t CThumbnailCache::Bytes() const {
    std::lock_guard<std::mutex> guard(core_->lock_);
    return core_->bytes_;
}

CThumbnailCache::Lookup CThumbnailCache::Core::Find(const std::string& path, int boxWidth) {
    // Nothing can be drawn in a box of no width; a whole-size decode would be wasted.
    if (boxWidth <= 0) return {State::Failed, nullptr};
    // Taken before the lock: the lock is never held for a call into the file system.
    const FileStamp stamp = StampOf(path);
    const int64_t now = sys::ProcessClockMs();
    Key key{path, boxWidth};
    std::lock_guard<std::mutex> guard(lock_);
    if (const auto found = entries_.find(key); found != entries_.end()) {
        Entry& entry = found->second;
        const int64_t due = entry.stampedAtMs + kRedecodeIntervalMs;
        if (entry.stamp == stamp || now < due) {
            recentFirst_.splice(recentFirst_.begin(), recentFirst_, entry.recent);
            if (entry.stamp != stamp && decoding_ != key) Queue(std::move(key), due);
            if (!entry.thumbnail) return {State::Failed, nullptr};
            return {State::Ready, entry.thumbnail};
        }
        Forget(found);
    }
    if (decoding_ != key) Queue(std::move(key), 0);
    return {State::Pending, nullptr};
}

void CThumbnailCache::Core::BeginPaint() {
    std::lock_guard<std::mutex> guard(lock_);
    // Requests the previous paint did not ask for would be dropped when their turn came.
    for (auto request = requests_.begin(); request != requests_.end();) {
        if (request->paint == paint_) {
            ++request;
            continue;
        }
        queued_.erase(request->key);
        request = requests_.erase(request);
    }
    ++paint_;
}

CThumbnailCache::Core::FileStamp CThumbnailCache::Core::StampOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return {};
    return {true,
            static_cast<uint64_t>(status.st_dev),
            static_cast<uint64_t>(status.st_ino),
            static_cast<int64_t>(status.st_size),
            static_cast<int64_t>(status.st_mtim.tv_sec),
            static_cast<int64_t>(status.st_mtim.tv_nsec)};
}

size_t CThumbnailCache::Core::PixelBytes(const Entry& entry) {
    return entry.thumbnail ? entry.thumbnail->picture.pixels.size() : 0;
}

void CThumbnailCache::Core::Queue(Key key, int64_t notBeforeMs) {
    if (const auto queued = queued_.find(key); queued != queued_.end()) {
        // Asked again: it moves behind the files this paint asked for before it.
        requests_.splice(requests_.end(), requests_, queued->second);
        queued->second->paint = paint_;
        queued->second->notBeforeMs = std::max(queued->second->notBeforeMs, notBeforeMs);
        return;
    }
    requests_.push_back({key, paint_, notBeforeMs});
    queued_.emplace(std::move(key), std::prev(requests_.end()));
    requested_.notify_one();
}

std::optional<CThumbnailCache::Core::Key> CThumbnailCache::Core::TakeRequest(int64_t nowMs,
                                                                             int64_t& wakeAtMs) {
    wakeAtMs = 0;
    for (auto request = requests_.begin(); request != requests_.end();) {
        if (request->paint != paint_) {
            queued_.erase(request->key);
            request = requests_.erase(request);
            continue;
        }
        if (request->notBeforeMs > nowMs) {
            wakeAtMs =
                wakeAtMs == 0 ? request->notBeforeMs : std::min(wakeAtMs, request->notBeforeMs);
            ++request;
            continue;
        }
        Key key = std::move(request->key);
        queued_.erase(key);
        requests_.erase(request);
        return key;
    }
    return std::nullopt;
}

void CThumbnailCache::Core::Store(const Key& key, const FileStamp& stamp, int64_t stampedAtMs,
                                  std::optional<Thumbnail> thumbnail) {
    if (const auto earlier = entries_.find(key); earlier != entries_.end()) Forget(earlier);
    const auto stored = entries_.emplace(key, Entry{}).first;
    Entry& entry = stored->second;
    entry.stamp = stamp;
    entry.stampedAtMs = stampedAtMs;
    if (thumbnail) entry.thumbnail = std::make_shared<const Thumbnail>(std::move(*thumbnail));
    recentFirst_.push_front(stored);
    entry.recent = recentFirst_.begin();
    bytes_ += PixelBytes(entry);
    // The least recently found thumbnails go first; failures, which hold no pixels, stay.
    // The new one, just drawn, stays even when it alone is over the limit, or the painter
    // would ask for it again and again.
    for (auto candidate = recentFirst_.end();
         bytes_ > byteLimit_ && candidate != recentFirst_.begin();) {
        const auto victim = std::prev(candidate);
        if (*victim == stored || PixelBytes((*victim)->second) == 0) {
            candidate = victim;
            continue;
        }
        Forget(*victim);
    }
    while (entries_.size() > kMaxEntries && recentFirst_.back() != stored)
        Forget(recentFirst_.back());
}

void CThumbnailCache::Core::Forget(Entries::iterator entry) {
    bytes_ -= PixelBytes(entry->second);
    recentFirst_.erase(entry->second.recent);
    entries_.erase(entry);
}

void CThumbnailCache::Core::Run(const std::shared_ptr<Core>& core) {
    core->DecodeLoop();
    std::lock_guard<std::mutex> guard(core->lock_);
    core->threadEnded_ = true;
    core->ended_.notify_all();
}

void CThumbnailCache::Core::DecodeLoop() {
    std::unique_lock<std::mutex> guard(lock_);
    while (true) {
        requested_.wait(guard, [this] { return stopping_ || !requests_.empty(); });
        if (stopping_) return;
        const int64_t now = sys::ProcessClockMs();
        int64_t wakeAt = 0;
        const std::optional<Key> key = TakeRequest(now, wakeAt);
        if (!key) {
            // Only files that changed too recently are queued: wait for the first of them
            // (or a new request).
            if (wakeAt != 0)
                requested_.wait_for(guard, std::chrono::milliseconds(std::clamp<int64_t>(
                                               wakeAt - now, 1, kRedecodeIntervalMs)));
            continue;
        }
        decoding_ = key;
        guard.unlock();
        // Stamped before decoding: a file that changes meanwhile is decoded again.
        const FileStamp stamp = StampOf(key->path);
        const int64_t stampedAt = sys::ProcessClockMs();
        std::optional<Thumbnail> thumbnail;
        try {
            thumbnail = decode_(key->path, key->boxWidth, cancel_);
        } catch (const std::bad_alloc&) {
            sys::DebugTraceF("thumbnail %s: out of memory", key->path.c_str());
        }
        guard.lock();
        decoding_.reset();
        if (stopping_) return;
        Store(*key, stamp, stampedAt, std::move(thumbnail));
        guard.unlock();
        {
            std::lock_guard<std::mutex> callback(callbackLock_);
            if (!stopping_ && onReady_) onReady_();
        }
        guard.lock();
    }
}

void CThumbnailCache::Core::Stop() {
    {
        std::lock_guard<std::mutex> callback(callbackLock_);
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    cancel_ = true;
    requested_.notify_all();
    std::unique_lock<std::mutex> guard(lock_);
    if (ended_.wait_for(guard, kStopWait, [this] { return threadEnded_; })) {
        guard.unlock();
        thread_.join();
        return;
    }
    guard.unlock();
    sys::DebugTraceF("thumbnail: a decode still under way after %lld ms is left behind",
                     static_cast<long long>(kStopWait.count()));
    // The thread keeps the core alive through its own reference and ends on its own.
    thread_.detach();
}
