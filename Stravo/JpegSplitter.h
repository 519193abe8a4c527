// Cuts whole JPEG pictures out of a camera's byte stream, whatever lies between them
// (multipart headers, line ends). A picture ends at its end-of-image marker, so it can be
// decoded as soon as its last byte has arrived rather than when the next picture begins;
// the last picture before a camera stalls is not held back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

class CJpegSplitter {
public:
    // A picture growing beyond this is dropped: a stream that never ends its picture cannot
    // take memory without limit.
    static constexpr size_t kMaxPictureBytes = 32u << 20;

    using PictureSink = std::function<void(const uint8_t* data, size_t size)>;

    // Takes the next bytes of the stream; every picture they complete goes to `sink`, in
    // stream order.
    void Append(const uint8_t* data, size_t size, const PictureSink& sink);
    // Forgets the picture in progress, for a new connection.
    void Reset();

private:
    enum class State {
        kSeekStart,   // outside a picture, looking for its start marker
        kMarker,      // inside the headers: a marker is due
        kMarkerCode,  // after a marker's 0xFF
        kLengthHigh,  // a segment's length, two bytes
        kLengthLow,
        kSegment,    // a segment's payload, skipped by its length
        kEntropy,    // coded picture data, up to the next marker
        kEntropyFF,  // after a 0xFF in the coded data
    };

    // Handles the marker code after 0xFF; `code` is already part of the picture.
    void OnMarker(uint8_t code, const PictureSink& sink);
    void Start();
    void Finish(size_t size, const PictureSink& sink);
    void Drop();

    State state_ = State::kSeekStart;
    bool sawFF_ = false;  // the byte before was 0xFF, while seeking a start
    uint8_t marker_ = 0;  // the marker whose segment is being read
    size_t remaining_ = 0;
    std::vector<uint8_t> picture_;
};
