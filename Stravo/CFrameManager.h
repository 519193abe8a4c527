// The queue of decoded pictures between the stream reader's decode thread and the output
// pin's streaming thread. Bounded at 21 pictures and at kMaxQueuedBytes; the last picture is
// never taken away, so a pin that runs faster than the camera keeps receiving the most
// recent picture.
#pragma once

#include <cstdint>
#include <list>
#include <mutex>

#include "common/Singleton.h"

// One picture: packed 24-bit BGR rows (each padded to 4 bytes), bottom row first.
struct QueuedFrame {
    int32_t width = 0;
    int32_t height = 0;
    uint8_t* data = nullptr;  // allocated with new[]
    int32_t size = 0;
};

class CFrameManager : public Tolm::Singleton<CFrameManager> {
    friend class Tolm::Singleton<CFrameManager>;

public:
    static constexpr int32_t kMaxQueued = 21;
    // Three pictures of the largest size the stream reader accepts (8192 x 8192 BGR24):
    // 576 MiB. Below about 3100 x 3100 the count bound is the tighter one.
    static constexpr int64_t kMaxQueuedBytes = 3LL * 8192 * 8192 * 3;
    // More pictures waiting than this, and TakeLiveFrame skips to the newest.
    static constexpr int32_t kMostWaitingForLive = 2;

    ~CFrameManager() override;

    int32_t GetCount();
    // Takes ownership of `data` (new[]). Beyond 21 pictures the oldest is dropped first;
    // null data only drops. Then the oldest are dropped until the new picture fits within
    // kMaxQueuedBytes; the new picture itself is always kept.
    void PushFrame(int32_t width, int32_t height, uint8_t* data, int32_t size);
    // Hands out the oldest picture. With one picture queued it stays queued and `owned` is
    // false: the caller must not free it. Returns false, writing nothing, when empty.
    bool TakeFrame(QueuedFrame& out, bool& owned);
    // As TakeFrame, but with more than kMostWaitingForLive pictures waiting, all but the
    // newest are freed first: a consumer slower than the camera shows the present instead of
    // falling up to 21 pictures behind.
    bool TakeLiveFrame(QueuedFrame& out, bool& owned);
    // Frees every queued picture; one still lent to the consumer is freed at its next take.
    void Clear();

private:
    CFrameManager() = default;
    bool TakeHead(QueuedFrame& out, bool& owned);
    // Removes the oldest picture and frees it, or keeps it for the consumer it is lent to.
    void DropHead();

    std::recursive_mutex lock_;
    std::list<QueuedFrame> frames_;
    int64_t bytes_ = 0;  // sum of the queued pictures' sizes
    // The picture last lent to the consumer without ownership. If a push drops it while the
    // consumer may still be copying it, freeing waits for the consumer's next take.
    const uint8_t* lent_ = nullptr;
    uint8_t* retired_ = nullptr;
};
