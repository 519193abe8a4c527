#include "Stravo/JpegSplitter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint8_t kStartOfImage = 0xD8;
constexpr uint8_t kEndOfImage = 0xD9;
constexpr uint8_t kStartOfScan = 0xDA;

// Restart markers and TEM carry no length.
bool StandsAlone(uint8_t code) {
    return (code >= 0xD0 && code <= 0xD7) || code == 0x01;
}

}  // namespace

void CJpegSplitter::Reset() {
    Drop();
}

void CJpegSplitter::Start() {
    picture_.assign({0xFF, kStartOfImage});
    state_ = State::kMarker;
}

void CJpegSplitter::Finish(size_t size, const PictureSink& sink) {
    sink(picture_.data(), size);
    Drop();
}

void CJpegSplitter::Drop() {
    picture_.clear();
    state_ = State::kSeekStart;
    sawFF_ = false;
}

void CJpegSplitter::OnMarker(uint8_t code, const PictureSink& sink) {
    const bool afterCodedData = state_ == State::kEntropyFF;
    if (code == 0xFF) {
        return;  // fill byte: the marker code is still to come
    }
    if (code == kEndOfImage) {
        Finish(picture_.size(), sink);
    } else if (code == kStartOfImage) {
        // The next picture begins before this one ended. One with coded data is complete
        // enough to decode; one still in its headers is not.
        if (afterCodedData) {
            Finish(picture_.size() - 2, sink);
        }
        Start();
    } else if (StandsAlone(code)) {
        state_ = afterCodedData ? State::kEntropy : State::kMarker;
    } else if (code == 0x00) {
        // A stuffed 0xFF belongs to coded data; in the headers it means the stream is broken.
        if (afterCodedData) {
            state_ = State::kEntropy;
        } else {
            Drop();
        }
    } else {
        marker_ = code;
        state_ = State::kLengthHigh;
    }
}

void CJpegSplitter::Append(const uint8_t* data, size_t size, const PictureSink& sink) {
    size_t at = 0;
    while (at < size) {
        switch (state_) {
            case State::kSeekStart: {
                const uint8_t byte = data[at++];
                if (sawFF_ && byte == kStartOfImage) {
                    Start();
                } else {
                    sawFF_ = byte == 0xFF;
                }
                continue;
            }
            case State::kSegment: {
                const size_t count = std::min(remaining_, size - at);
                picture_.insert(picture_.end(), data + at, data + at + count);
                at += count;
                remaining_ -= count;
                if (remaining_ == 0) {
                    state_ = marker_ == kStartOfScan ? State::kEntropy : State::kMarker;
                }
                break;
            }
            case State::kEntropy: {
                // Coded data runs up to the next 0xFF; everything before it is copied at once.
                const auto* mark =
                    static_cast<const uint8_t*>(std::memchr(data + at, 0xFF, size - at));
                const size_t end = mark != nullptr ? static_cast<size_t>(mark - data) + 1 : size;
                picture_.insert(picture_.end(), data + at, data + end);
                at = end;
                if (mark != nullptr) {
                    state_ = State::kEntropyFF;
                }
                break;
            }
            default: {
                const uint8_t byte = data[at++];
                picture_.push_back(byte);
                switch (state_) {
                    case State::kMarker:
                        if (byte == 0xFF) {
                            state_ = State::kMarkerCode;
                        } else {
                            Drop();  // headers must go from marker to marker
                        }
                        break;
                    case State::kLengthHigh:
                        remaining_ = static_cast<size_t>(byte) << 8;
                        state_ = State::kLengthLow;
                        break;
                    case State::kLengthLow:
                        remaining_ |= byte;
                        if (remaining_ < 2) {
                            Drop();
                        } else {
                            remaining_ -= 2;  // the length counts its own two bytes
                            state_ = State::kSegment;
                        }
                        break;
                    default:  // kMarkerCode, kEntropyFF
                        OnMarker(byte, sink);
                        break;
                }
                break;
            }
        }
        if (picture_.size() > kMaxPictureBytes) {
            Drop();
        }
    }
}
