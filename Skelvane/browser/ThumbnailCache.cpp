#include "Skelvane/browser/ThumbnailCache.h"

#include <sys/stat.h>

#include <new>
#include <utility>

#include "platform/sys/Sys.h"

CThumbnailCache::CThumbnailCache(std::function<void()> onReady, size_t byteLimit,
                                 ThumbnailDecoder decode)
    : onReady_(std::move(onReady)),
      byteLimit_(byteLimit),
      decode_(std::move(decode)),
      decodeThread_(&CThumbnailCache::DecodeThreadProc, this) {}

CThumbnailCache::~CThumbnailCache() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    requested_.notify_all();
    decodeThread_.join();
}

CThumbnailCache::Lookup CThumbnailCache::Find(const std::string& path, int boxWidth) {
    // Nothing can be drawn in a box of no width; a whole-size decode would be wasted.
    if (boxWidth <= 0) return {State::Failed, nullptr};
    // Taken before the lock: the lock is never held for a call into the file system.
    const FileStamp stamp = StampOf(path);
    Key key{path, boxWidth};
    std::lock_guard<std::mutex> guard(lock_);
    if (const auto found = entries_.find(key); found != entries_.end()) {
        Entry& entry = found->second;
        if (entry.stamp == stamp) {
            recentFirst_.splice(recentFirst_.begin(), recentFirst_, entry.recent);
            if (!entry.thumbnail) return {State::Failed, nullptr};
            return {State::Ready, entry.thumbnail};
        }
        Forget(found);
    }
    if (decoding_ != key) Queue(std::move(key));
    return {State::Pending, nullptr};
}

void CThumbnailCache::BeginPaint() {
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

size_t CThumbnailCache::Bytes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return bytes_;
}

CThumbnailCache::FileStamp CThumbnailCache::StampOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return {};
    return {true,
            static_cast<uint64_t>(status.st_dev),
            static_cast<uint64_t>(status.st_ino),
            static_cast<int64_t>(status.st_size),
            static_cast<int64_t>(status.st_mtim.tv_sec),
            static_cast<int64_t>(status.st_mtim.tv_nsec)};
}

size_t CThumbnailCache::PixelBytes(const Entry& entry) {
    return entry.thumbnail ? entry.thumbnail->picture.pixels.size() : 0;
}

void CThumbnailCache::Queue(Key key) {
    if (const auto queued = queued_.find(key); queued != queued_.end()) {
        // Asked again: it moves behind the files this paint asked for before it.
        requests_.splice(requests_.end(), requests_, queued->second);
        queued->second->paint = paint_;
        return;
    }
    requests_.push_back({key, paint_});
    queued_.emplace(std::move(key), std::prev(requests_.end()));
    requested_.notify_one();
}

std::optional<CThumbnailCache::Key> CThumbnailCache::TakeRequest() {
    while (!requests_.empty()) {
        Request request = std::move(requests_.front());
        requests_.pop_front();
        queued_.erase(request.key);
        if (request.paint == paint_) return std::move(request.key);
    }
    return std::nullopt;
}

void CThumbnailCache::Store(const Key& key, const FileStamp& stamp,
                            std::optional<Thumbnail> thumbnail) {
    if (const auto earlier = entries_.find(key); earlier != entries_.end()) Forget(earlier);
    const auto stored = entries_.emplace(key, Entry{}).first;
    Entry& entry = stored->second;
    entry.stamp = stamp;
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

void CThumbnailCache::Forget(Entries::iterator entry) {
    bytes_ -= PixelBytes(entry->second);
    recentFirst_.erase(entry->second.recent);
    entries_.erase(entry);
}

void CThumbnailCache::DecodeThreadProc() {
    std::unique_lock<std::mutex> guard(lock_);
    while (true) {
        requested_.wait(guard, [this] { return stopping_ || !requests_.empty(); });
        if (stopping_) return;
        const std::optional<Key> key = TakeRequest();
        if (!key) continue;
        decoding_ = key;
        guard.unlock();
        // Stamped before decoding: a file that changes meanwhile is decoded again.
        const FileStamp stamp = StampOf(key->path);
        std::optional<Thumbnail> thumbnail;
        try {
            thumbnail = decode_(key->path, key->boxWidth);
        } catch (const std::bad_alloc&) {
            sys::DebugTraceF("thumbnail %s: out of memory", key->path.c_str());
        }
        guard.lock();
        decoding_.reset();
        if (stopping_) return;
        Store(*key, stamp, std::move(thumbnail));
        guard.unlock();
        if (onReady_) onReady_();
        guard.lock();
    }
}
