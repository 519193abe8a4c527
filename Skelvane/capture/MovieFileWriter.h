// One movie file: the preview frames of a recording compressed as MPEG-4 Part 2 key frames
// (codec tag "XVID") in an AVI file, at a nominal 12 frames per second that Close replaces
// by the rate actually achieved. A movie of stills (a time-lapse) is the same file at a rate
// chosen in advance, made without a name and given one only when it is complete.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/com/Com.h"
#include "platform/imaging/Imaging.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct SwsContext;

// The screen the program shows its window on; the frame buffer of a movie is sized for the
// larger of the screen and the frame. The program installs its display's size.
struct ScreenSize {
    int32_t width = 0;
    int32_t height = 0;
};
using ScreenSizeSource = std::function<ScreenSize()>;
// Installs `source` (empty: none) and returns the previous one. With none, or when the
// source reports no screen, a 1920 x 1080 screen is assumed.
ScreenSizeSource SetScreenSizeSource(ScreenSizeSource source);
ScreenSize CurrentScreenSize();

// The box for a movie file that cannot be stored: the localized "Save file %s failure" with
// the path, then the system's text for `error`.
std::string SaveFileFailureText(const std::string& path, int error);

// Byte offset of the first stream header's rate field in the AVI files written here.
inline constexpr long kAviStreamRateOffset = 132;
inline constexpr uint32_t kNominalMovieRate = 12;

class CMovieFileWriter {
public:
    enum State : int { kFailed = 0, kWaitingForFirstFrame = 1, kWriting = 2 };

    // Nothing is created until the first frame: the file appears with it.
    explicit CMovieFileWriter(const std::string& path);
    // A movie of stills shown `rate` times a second, made as an unnamed file in `folder`
    // (it needs a file system that has them, as the usual local ones do): until Publish it
    // has no name, so a cancelled or failed movie leaves nothing behind.
    static std::unique_ptr<CMovieFileWriter> ForStills(const std::string& folder, uint32_t rate);
    ~CMovieFileWriter();
    CMovieFileWriter(const CMovieFileWriter&) = delete;
    CMovieFileWriter& operator=(const CMovieFileWriter&) = delete;

    // Appends one frame of 24-bit blue-green-red rows, bottom row first, each padded to a
    // multiple of 4 bytes. The first frame fixes the movie's size and creates the file; a
    // later frame of another size is scaled to it. On failure the error text tells why,
    // the writer lets go of the file (which keeps every frame written so far) and refuses
    // every further frame.
    HRESULT AppendFrame(int32_t width, int32_t height, const uint8_t* data, int32_t bitsPerPixel);
    // AppendFrame, but the first frames (at most 3) are dropped while the capture size of
    // the current settings is not yet the movie size: the preview is still being switched.
    HRESULT RecordFrame(int32_t width, int32_t height, const uint8_t* data);
    // AppendFrame for a picture in any row order and stride.
    HRESULT AppendPicture(const imaging::BgrImageView& picture);
    // Writes the end of a movie of stills (index and counts); false, with the error text
    // set and no box shown, when it cannot. The file stays open for Publish.
    bool Finish();
    // Gives the finished movie of stills the name `path`, never replacing a file there;
    // false with errno set (EEXIST when the name is taken). Close lets go of it afterwards.
    bool Publish(const std::string& path);
    // Stored (compressed) bytes of the frames written so far.
    uint64_t AccumulatedSize() const { return accumulatedSize; }
    // Finishes the file (index and counts) and, unless an error was stored, writes the
    // achieved rate into its header. When the index cannot be written (the disk filled), a
    // warning box says "Unable to Write Video Stream to the output Movie File" and the rate
    // stays nominal. A file that holds no frame is removed. Safe to call more than once.
    void Close();

    const std::string& FileName() const { return fileName; }
    const std::string& ErrorText() const { return errorText; }
    bool Failed() const { return errorFlag; }
    int GetState() const { return state; }
    // True once the file exists (it was created by this writer); after Close, true only when
    // the file holds frames and is still at its name (it was not renamed or removed while
    // it was recorded).
    bool FileCreated() const { return fileCreated; }
    int32_t FramesWritten() const { return framesWritten; }

private:
    struct AvDeleter {
        void operator()(AVFormatContext* context) const;
        void operator()(AVCodecContext* context) const;
        void operator()(AVIOContext* context) const;
        void operator()(AVFrame* frame) const;
        void operator()(AVPacket* packet) const;
        void operator()(SwsContext* context) const;
        void operator()(uint8_t* bytes) const;
    };
    template <class T>
    using AvPtr = std::unique_ptr<T, AvDeleter>;

    HRESULT PrepareFirstFrame(int32_t width, int32_t height);
    HRESULT WriteFrame(const imaging::BgrImageView& frame);
    // Hands the encoder's packets to the file; false when the file refused one.
    bool DrainEncoder();
    HRESULT Fail(const std::string& text);
    // Writes the end of the file (index and counts) when its header is out and it took every
    // byte so far; false when that failed.
    bool EndFile();
    // Ends a recording's file (when its header is out) and lets go of everything but the file's
    // descriptor; state 0. False when the end of the file could not be written.
    bool Release();
    // Closes the file, removing it when it holds no frame.
    void CloseFile();
    void WriteAchievedRate();

    AvPtr<uint8_t> frameBuffer;  // the encoder's input picture
    int32_t nextSample = 0;
    int64_t lastPictureTime = -1;  // ms after the start, as the encoder was given it
    int fileDescriptor = -1;
    AvPtr<AVIOContext> fileIo;
    AvPtr<AVFormatContext> aviFile;
    AvPtr<AVCodecContext> encoder;
    AvPtr<AVFrame> picture;
    AvPtr<AVPacket> packet;
    AvPtr<SwsContext> converter;
    bool headerWritten = false;
    bool fileRefused = false;  // a write to the file failed
    bool fileCreated = false;
    std::string fileName;
    std::string errorText = "Method Succeeded";
    int state = kWaitingForFirstFrame;
    uint64_t accumulatedSize = 0;
    uint32_t rate = kNominalMovieRate;
    bool stills = false;  // a fixed rate, an unnamed file until Publish
    int64_t startTime = 0;
    bool errorFlag = false;
    int32_t framesWritten = 0;
    int32_t droppedFrames = 0;
};
