// The thumbnails of the media strip, decoded on one worker thread into a cache bounded by
// its pixel bytes, so the painter never waits for a file and a strip of thousands of files
// scrolls in bounded memory. Plain C++, so it runs without a display.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/imaging/Thumbnail.h"

using Thumbnail = imaging::Thumbnail;
// Decodes the file at a path for a box of the given width; nothing when it cannot be shown.
// The flag is set when the cache is being destroyed: a long decode may give up then.
using ThumbnailDecoder =
    std::function<std::optional<Thumbnail>(const std::string&, int, const imaging::CancelFlag&)>;

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
    // A file that keeps changing (a copy coming in, a movie being recorded) is decoded again
    // at most this often; meanwhile its last thumbnail is shown.
    static constexpr int64_t kRedecodeIntervalMs = 1000;
    // The destructor waits this long for a decode under way; a decode stuck in the file
    // system (a stale network mount) is left behind rather than hold up the program's end.
    static constexpr std::chrono::milliseconds kStopWait{2000};

    // Starts the decoding thread. `onReady` is called on that thread, with no lock held,
    // after each file was decoded or failed, and never once the destructor has returned;
    // the window posts one repaint from it. `decode` turns a file into its thumbnail (by
    // default imaging::LoadThumbnail).
    explicit CThumbnailCache(std::function<void()> onReady, size_t byteLimit = kDefaultByteLimit,
                             ThumbnailDecoder decode = DefaultDecoder());
    // Stops the decoding thread after the decode under way (waiting at most kStopWait),
    // dropping what is still queued.
    ~CThumbnailCache();
    CThumbnailCache(const CThumbnailCache&) = delete;
    CThumbnailCache& operator=(const CThumbnailCache&) = delete;

    static ThumbnailDecoder DefaultDecoder();

    // Never waits for a decode. Ready: the thumbnail of the file as it is now, for a box of
    // `boxWidth` (or, for a file that changed again within kRedecodeIntervalMs of its last
    // decode, as it was then; the new decode is queued for when the interval is over).
    // Failed: the file cannot be shown (also for a box of no width). Pending: the file is
    // queued, or being decoded, because it is not cached or changed since (its size,
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
    // Everything the decoding thread uses: shared with it, so a thread left behind by the
    // destructor still finds it.
    struct Core;
    std::shared_ptr<Core> core_;
};
