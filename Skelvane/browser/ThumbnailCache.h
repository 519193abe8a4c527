// The thumbnails of the media strip, decoded on one worker thread into a cache bounded by
// its pixel bytes, so the painter never waits for a file and a strip of thousands of files
// scrolls in bounded memory. Plain C++, so it runs without a display.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/imaging/Thumbnail.h"

using Thumbnail = imaging::Thumbnail;
// Decodes the file at a path for a box of the given width; nothing when it cannot be shown.
using ThumbnailDecoder = std::function<std::optional<Thumbnail>(const std::string&, int)>;

class CThumbnailCache {
public:
    enum class State { Pending, Ready, Failed };
    struct Lookup {
        State state = State::Pending;
        std::shared_ptr<const Thumbnail> thumbnail;  // set when Ready
    };

    // A 160-pixel box holds thumbnails of up to 160 x 100 pixels, 48 000 bytes: this keeps
    // about 700 of them, dozens of screens of the strip, so scrolling back and forth never
    // decodes again, at a fraction of the memory of a few camera frames.
    static constexpr size_t kDefaultByteLimit = size_t{32} << 20;
    // Failed files hold no pixels; this bounds how many entries of any kind are kept.
    static constexpr size_t kMaxEntries = 4096;

    // Starts the decoding thread. `onReady` is called on that thread, with no lock held,
    // after each file was decoded or failed; the window posts one repaint from it.
    // `decode` turns a file into its thumbnail (by default imaging::LoadThumbnail).
    explicit CThumbnailCache(std::function<void()> onReady, size_t byteLimit = kDefaultByteLimit,
                             ThumbnailDecoder decode = imaging::LoadThumbnail);
    // Stops the decoding thread after the decode under way, dropping what is still queued.
    ~CThumbnailCache();
    CThumbnailCache(const CThumbnailCache&) = delete;
    CThumbnailCache& operator=(const CThumbnailCache&) = delete;

    // Never waits for a decode. Ready: the thumbnail of the file as it is now, for a box of
    // `boxWidth`. Failed: the file cannot be shown (also for a box of no width). Pending: the
    // file is queued, or being decoded, because it is not cached or changed since (its size,
    // modification time or identity differ).
    Lookup Find(const std::string& path, int boxWidth);
    // Starts a paint: a queued file that this paint does not Find again is dropped from the
    // queue, so scrolling fast past thousands of files decodes only those left on screen.
    // The queue is served in the order of the latest paint's requests.
    void BeginPaint();
    // Pixel bytes of the cached thumbnails. At most the byte limit, except that one thumbnail
    // larger than the limit is kept on its own rather than decoded again on every paint.
    size_t Bytes() const;

private:
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
        std::shared_ptr<const Thumbnail> thumbnail;  // null: the file failed
        std::list<Entries::iterator>::iterator recent;
    };
    struct Request {
        Key key;
        uint64_t paint = 0;  // the last paint that asked for it
    };
    using Requests = std::list<Request>;

    static FileStamp StampOf(const std::string& path);
    static size_t PixelBytes(const Entry& entry);
    void Queue(Key key);
    // The next request asked for by the latest paint, dropping older ones; nothing if none.
    std::optional<Key> TakeRequest();
    void Store(const Key& key, const FileStamp& stamp, std::optional<Thumbnail> thumbnail);
    void Forget(Entries::iterator entry);
    void DecodeThreadProc();

    const std::function<void()> onReady_;
    const size_t byteLimit_;
    const ThumbnailDecoder decode_;

    mutable std::mutex lock_;
    std::condition_variable requested_;
    bool stopping_ = false;
    Entries entries_;
    std::list<Entries::iterator> recentFirst_;  // every entry, most recently found first
    size_t bytes_ = 0;
    Requests requests_;
    std::map<Key, Requests::iterator> queued_;
    std::optional<Key> decoding_;
    uint64_t paint_ = 0;
    std::thread decodeThread_;  // last: started when everything it uses is set up
};
