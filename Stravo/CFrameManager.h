// The queue of decoded pictures between the stream reader's decode thread and the output
// pin's streaming thread. Bounded at 21 pictures; the last picture is never taken away, so
// a pin that runs faster than the camera keeps receiving the most recent picture.
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

    ~CFrameManager() override;

    int32_t GetCount();
    // Takes ownership of `data` (new[]). Beyond 21 pictures the oldest is dropped first;
    // null data only drops.
    void PushFrame(int32_t width, int32_t height, uint8_t* data, int32_t size);
    // Hands out the oldest picture. With one picture queued it stays queued and `owned` is
    // false: the caller must not free it. Returns false, writing nothing, when empty.
    bool TakeFrame(QueuedFrame& out, bool& owned);
    void Clear();

private:
    CFrameManager() = default;
    bool TakeHead(QueuedFrame& out, bool& owned);

    std::recursive_mutex lock_;
    std::list<QueuedFrame> frames_;
    // The picture last lent to the consumer without ownership. If a push drops it while the
    // consumer may still be copying it, freeing waits for the consumer's next take.
    const uint8_t* lent_ = nullptr;
    uint8_t* retired_ = nullptr;
};
