// A time-lapse: the pictures of a timed-shot folder made into a movie of stills, with the
// same writer and format as recordings, off the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

// The rates offered, in pictures a second, and the one chosen unless the user picks another.
inline constexpr uint32_t kTimeLapseRates[] = {12, 24, 30};
inline constexpr uint32_t kDefaultTimeLapseRate = 24;

// The pictures of `folder` (full paths): its regular files, and links to them, whose names
// end in ".jpg", in byte order of their names, as the media strip lists them.
std::vector<std::string> TimeLapsePictures(const std::string& folder);

// The box for a folder without a picture to make a movie of.
std::string NoPictureText();

class CTimeLapseBuilder {
public:
    enum Outcome : int { kRunning, kMade, kCancelled, kFailed };

    // A movie of `pictures`, in that order, `rate` pictures a second, to be stored in
    // `moviesFolder` under the next movie name.
    CTimeLapseBuilder(std::vector<std::string> pictures, std::string moviesFolder, uint32_t rate);
    CTimeLapseBuilder(const CTimeLapseBuilder&) = delete;
    CTimeLapseBuilder& operator=(const CTimeLapseBuilder&) = delete;

    // Does the work on the calling thread. The movie has the size of the first picture that
    // decodes; the others are scaled to it. A picture that does not decode cleanly is
    // skipped and counted. The file gets its name only when it is complete, never replacing
    // one, so a cancelled or failed movie leaves nothing. A failure shows its box: the movie
    // writer's (the movies folder cannot take a file, the disk is full) or, when no
    // picture decodes, that there is none.
    Outcome Run();
    // Asks Run to stop at the next picture; callable from any thread.
    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }

    // Readable from any thread while Run works.
    int32_t Total() const { return static_cast<int32_t>(pictures_.size()); }
    int32_t Done() const { return done_.load(std::memory_order_relaxed); }
    int32_t Skipped() const { return skipped_.load(std::memory_order_relaxed); }
    Outcome Result() const { return outcome_.load(std::memory_order_acquire); }
    // The stored movie; set once Result is kMade.
    const std::string& MoviePath() const { return moviePath_; }
    // The box text of a failure; set once Result is kFailed.
    const std::string& ErrorText() const { return errorText_; }

private:
    Outcome Fail(const std::string& text);
    Outcome Finish(Outcome outcome);

    const std::vector<std::string> pictures_;
    const std::string moviesFolder_;
    const uint32_t rate_;
    std::atomic<bool> cancel_{false};
    std::atomic<int32_t> done_{0};
    std::atomic<int32_t> skipped_{0};
    std::atomic<Outcome> outcome_{kRunning};
    // Written by Run before it publishes the outcome.
    std::string moviePath_;
    std::string errorText_;
};
