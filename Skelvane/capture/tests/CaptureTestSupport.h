// Shared pieces of the capture tests: a private store, media folder, date and clock, a
// recording message box, a window stand-in, frames and a JPEG reader.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/FrameBuffer.h"
#include "platform/sys/Sys.h"
#include "tests/support/RecordingPresenter.h"

// The window as the capture code sees it: flags, events and revealed files recorded.
class FakeOwner : public ICaptureOwner {
public:
    std::atomic<int32_t>& TakePhoto() override { return takePhoto; }
    std::atomic<int32_t>& TimedShotRunning() override { return timedShotRunning; }
    std::atomic<int32_t>& Recording() override { return recording; }
    int32_t ShotPeriodMs() const override { return shotPeriodMs; }
    float TimedShotHours() const override { return timedShotHours; }
    void PostEvent(int eventNumber) override;
    void RevealFile(const std::string& path) override;

    std::vector<int> Events() const;
    std::vector<std::string> Revealed() const;

    std::atomic<int32_t> takePhoto{0};
    std::atomic<int32_t> timedShotRunning{0};
    std::atomic<int32_t> recording{0};
    int32_t shotPeriodMs = 1000;
    float timedShotHours = 1.0f;

private:
    mutable std::mutex lock_;
    std::vector<int> events_;
    std::vector<std::string> revealed_;
};

// A frame with its own bytes. Pixel (x, y) counts from the top-left of the picture.
class TestFrame {
public:
    TestFrame(int32_t width, int32_t height);
    void Set(int x, int y, uint8_t blue, uint8_t green, uint8_t red);
    // {blue, green, red} at (x, y).
    std::vector<int> At(int x, int y) const;
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // Four quadrants: top-left red, top-right green, bottom-left blue, bottom-right white.
    static TestFrame Quadrants(int32_t width, int32_t height);
    FrameBuffer Buffer() {
        return {bytes_.data(), static_cast<int32_t>(bytes_.size()), width_, height_};
    }

private:
    size_t Offset(int x, int y) const;

    int32_t width_;
    int32_t height_;
    std::vector<uint8_t> bytes_;
};

struct DecodedPicture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;  // top row first
    // {blue, green, red} at (x, y).
    std::vector<int> At(int x, int y) const;
};
std::string ReadWholeFile(const std::string& path);
// Reads a JPEG file back; width 0 when it cannot.
DecodedPicture DecodeJpegFile(const std::string& path);

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Current record: saving folder <temp>/saving (created), the layout, the capture size.
    void UseSettings(int32_t autocreatingfolder, int32_t captureWidth = 64,
                     int32_t captureHeight = 48);
    void SetSavingFolder(const std::string& folder);
    // Every file and folder below `folder`, relative and sorted; folders end with "/".
    static std::vector<std::string> Listing(const std::string& folder);
    // Creates a file (or a folder when `relativePath` ends with "/"), with its parents.
    static void Place(const std::string& folder, const std::string& relativePath,
                      const std::string& content = "x");

    std::string MediaRoot() const { return folder_ + "/saving/Skelvane"; }
    std::string Movies() const { return MediaRoot() + "/Movies"; }
    std::string SingleShots() const { return MediaRoot() + "/Single Shots"; }
    std::string TimedShots() const { return MediaRoot() + "/Timed Shots"; }

    std::string folder_;
    std::shared_ptr<support::RecordingPresenter> boxes_;
    std::atomic<int64_t> nowMs_{1460000000000};
    std::atomic<int64_t> processMs_{100000};
    std::atomic<int> year_{2016}, month_{4}, day_{6};

private:
    std::shared_ptr<sys::IMessageBoxPresenter> previousPresenter_;
    sys::ClockSource previousClocks_;
    std::string previousHome_;
};

// What libavformat and libavcodec make of a movie file.
struct MovieContents {
    bool opened = false;
    std::string format;  // the demuxer's name
    int streams = 0;
    std::string codec;
    std::string codecTag;  // the four characters
    std::string title;
    int width = 0;
    int height = 0;
    int rateNumerator = 0;  // the stream's frame rate as the header gives it
    int rateDenominator = 0;
    int guessedRateNumerator = 0;  // what libavformat makes of the header and the pictures
    int guessedRateDenominator = 0;
    int packets = 0;
    int keyPackets = 0;
    std::vector<int> packetSizes;
    int decodeErrors = 0;  // failed packets and error lines of the decoder
    std::vector<DecodedPicture> pictures;
};
MovieContents ReadMovie(const std::string& path);
// The little-endian 32-bit value at `offset` of a file; 0 when it cannot be read.
uint32_t FileWordAt(const std::string& path, long offset);

// Runs `record` in a child process and returns its exit status; the parent may act on
// what the child writes to `report` meanwhile through `watch`.
int RunInChild(const std::function<void(int report)>& record,
               const std::function<void(pid_t child, int report)>& watch);
// Runs `record` in a child whose files may grow to `fileLimit` bytes at most (a full disk
// as far as a writer can tell) and returns what it reported.
std::string RecordWithFileLimit(rlim_t fileLimit, const std::function<std::string()>& record);
