#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Stravo/JpegSplitter.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

// A segment: marker, two length bytes counting themselves, payload.
Bytes Segment(uint8_t marker, const Bytes& payload) {
    const size_t length = payload.size() + 2;
    return Join(
        {{0xFF, marker, static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)}, payload});
}

// A picture shaped as cameras send them; `tag` makes pictures tell apart. The tables hold
// bytes that look like markers, and the coded data holds stuffed 0xFF and a restart marker.
Bytes Picture(uint8_t tag, bool withEnd = true) {
    Bytes picture = Join({{0xFF, 0xD8},
                          Segment(0xE0, Text("JFIF")),
                          // An embedded thumbnail: its own start and end markers are payload.
                          Segment(0xE1, {0xFF, 0xD8, 0x01, 0xFF, 0xD9}),
                          Segment(0xDB, Bytes(64, 0xFF)),
                          Segment(0xC0, {8, 0, 16, 0, 16, 1, 1, 0x11, 0}),
                          Segment(0xDA, {1, 1, 0, 0, 63, 0}),
                          {tag, 0xFF, 0x00, 0x12, 0xFF, 0xD0, 0x34, 0xFF, 0xFF, 0x00, tag}});
    if (withEnd) picture.insert(picture.end(), {0xFF, 0xD9});
    return picture;
}

Bytes PartHead() {
    return Text("--boundarydonotcross\r\nContent-Type: image/jpeg\r\nContent-Length: 99\r\n\r\n");
}

std::vector<Bytes> Split(const Bytes& stream, size_t chunk) {
    CJpegSplitter splitter;
    std::vector<Bytes> pictures;
    for (size_t at = 0; at < stream.size(); at += chunk) {
        const size_t size = std::min(chunk, stream.size() - at);
        splitter.Append(stream.data() + at, size, [&](const uint8_t* data, size_t length) {
            pictures.emplace_back(data, data + length);
        });
    }
    return pictures;
}

struct SplitCase {
    const char* name;
    Bytes stream;
    std::vector<Bytes> expected;
};

TEST(JpegSplitterTest, CutsWholePicturesWhateverTheChunksAndWhateverLiesBetween) {
    const Bytes headless = Join({{0xFF, 0xD8}, Segment(0xE0, Text("JFIF")), {0x42, 0x17}});
    const SplitCase cases[] = {
        {"multipart stream",
         Join({PartHead(), Picture(1), Text("\r\n"), PartHead(), Picture(2)}),
         {Picture(1), Picture(2)}},
        {"pictures back to back",
         Join({Picture(1), Picture(2), Picture(3)}),
         {Picture(1), Picture(2), Picture(3)}},
        // Ended by the next start marker instead: usable, so handed on.
        {"picture without an end",
         Join({Picture(1, false), Picture(2)}),
         {Picture(1, false), Picture(2)}},
        {"stray 0xFF before a start", Join({{0xFF, 0xFF, 0x00, 0xFF}, Picture(4)}), {Picture(4)}},
        // Headers must go from marker to marker; this one cannot be read.
        {"broken headers", Join({headless, Text("junk"), Picture(5)}), {Picture(5)}},
        {"start without coded data, then a picture",
         Join({{0xFF, 0xD8, 0xFF, 0xD8}, Picture(6)}),
         {Picture(6)}},
        {"nothing but text", Text("HTTP/1.0 200 OK\r\n\r\n"), {}},
    };
    for (const SplitCase& split : cases) {
        for (size_t chunk : {size_t{1}, size_t{7}, split.stream.size()}) {
            EXPECT_EQ(Split(split.stream, chunk), split.expected)
                << split.name << ", chunks of " << chunk;
        }
    }
}

TEST(JpegSplitterTest, HandsOnAPictureAsSoonAsItsEndArrives) {
    CJpegSplitter splitter;
    int pictures = 0;
    const auto count = [&](const uint8_t*, size_t) { ++pictures; };
    const Bytes first = Join({PartHead(), Picture(1)});
    splitter.Append(first.data(), first.size() - 1, count);
    EXPECT_EQ(pictures, 0);
    splitter.Append(&first.back(), 1, count);
    EXPECT_EQ(pictures, 1) << "not held back until the next picture begins";

    // A connection lost mid-picture: the new connection's pictures do not inherit its bytes.
    const Bytes second = Picture(2);
    splitter.Append(second.data(), second.size() / 2, count);
    splitter.Reset();
    const Bytes third = Picture(3);
    std::vector<Bytes> after;
    splitter.Append(third.data(), third.size(), [&](const uint8_t* data, size_t size) {
        after.emplace_back(data, data + size);
    });
    EXPECT_EQ(after, std::vector<Bytes>{Picture(3)});
}

TEST(JpegSplitterTest, DropsAPictureThatGrowsBeyondTheBound) {
    CJpegSplitter splitter;
    std::vector<Bytes> pictures;
    const auto keep = [&](const uint8_t* data, size_t size) {
        pictures.emplace_back(data, data + size);
    };
    Bytes start = Picture(1, false);
    splitter.Append(start.data(), start.size(), keep);
    const Bytes coded(1 << 20, 0x55);
    for (size_t sent = 0; sent <= CJpegSplitter::kMaxPictureBytes; sent += coded.size()) {
        splitter.Append(coded.data(), coded.size(), keep);
    }
    const Bytes end = {0xFF, 0xD9};
    splitter.Append(end.data(), end.size(), keep);
    EXPECT_TRUE(pictures.empty());
    const Bytes next = Picture(2);
    splitter.Append(next.data(), next.size(), keep);
    EXPECT_EQ(pictures, std::vector<Bytes>{Picture(2)});
}

}  // namespace
