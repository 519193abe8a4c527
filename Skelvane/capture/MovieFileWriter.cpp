#include "Skelvane/capture/MovieFileWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "Skelvane/capture/FrameBuffer.h"
#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/Sys.h"

namespace {

constexpr ScreenSize kNoScreenSize{1920, 1080};
constexpr size_t kErrorTextLimit = 259;
constexpr int32_t kMaxDroppedFrames = 3;
// Fixed quantiser of every frame: intra-only MPEG-4 at 3 keeps camera detail with no
// visible blocking, and a fixed quantiser needs no rate control on the streaming thread.
constexpr int kQuantizer = 3;
constexpr int kFileIoBufferSize = 64 * 1024;
constexpr char kWriteFailure[] = "Unable to Write Video Stream to the output Movie File";
// The encoder stamps each picture with its capture time in milliseconds. Stamped at the
// nominal rate instead, the pictures would claim 12 frames per second after the header
// was given the achieved rate, and players would drop or repeat frames.
constexpr AVRational kCaptureClock{1, 1000};

std::mutex& ScreenLock() {
    static std::mutex lock;
    return lock;
}

ScreenSizeSource& ScreenSource() {
    static ScreenSizeSource source;
    return source;
}

// The AVI file is created by us (exclusively), so libavformat writes through our descriptor.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoBytes = const uint8_t*;
#else
using IoBytes = uint8_t*;
#endif

int WriteToFile(void* opaque, IoBytes bytes, int size) {
    const int descriptor = *static_cast<int*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t written = ::write(descriptor, bytes + done, static_cast<size_t>(size - done));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return AVERROR(written < 0 ? errno : EIO);
        done += static_cast<int>(written);
    }
    return size;
}

int64_t SeekInFile(void* opaque, int64_t offset, int whence) {
    const int descriptor = *static_cast<int*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return ::fstat(descriptor, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = ::lseek(descriptor, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

}  // namespace

ScreenSizeSource SetScreenSizeSource(ScreenSizeSource source) {
    std::lock_guard<std::mutex> guard(ScreenLock());
    std::swap(ScreenSource(), source);
    return source;
}

ScreenSize CurrentScreenSize() {
    ScreenSizeSource source;
    {
        std::lock_guard<std::mutex> guard(ScreenLock());
        source = ScreenSource();
    }
    const ScreenSize size = source ? source() : kNoScreenSize;
    return size.width > 0 && size.height > 0 ? size : kNoScreenSize;
}

void CMovieFileWriter::AvDeleter::operator()(AVFormatContext* context) const {
    avformat_free_context(context);
}
void CMovieFileWriter::AvDeleter::operator()(AVCodecContext* context) const {
    avcodec_free_context(&context);
}
void CMovieFileWriter::AvDeleter::operator()(AVIOContext* context) const {
    av_freep(&context->buffer);
    avio_context_free(&context);
}
void CMovieFileWriter::AvDeleter::operator()(AVFrame* frame) const {
    av_frame_free(&frame);
}
void CMovieFileWriter::AvDeleter::operator()(AVPacket* packet) const {
    av_packet_free(&packet);
}
void CMovieFileWriter::AvDeleter::operator()(SwsContext* context) const {
    sws_freeContext(context);
}
void CMovieFileWriter::AvDeleter::operator()(uint8_t* bytes) const {
    av_free(bytes);
}

CMovieFileWriter::CMovieFileWriter(const std::string& path) : fileName(path) {}

std::unique_ptr<CMovieFileWriter> CMovieFileWriter::ForStills(const std::string& folder,
                                                              uint32_t rate) {
    std::unique_ptr<CMovieFileWriter> writer(new CMovieFileWriter(folder));
    writer->stills = true;
    if (rate > 0) writer->rate = rate;
    return writer;
}

CMovieFileWriter::~CMovieFileWriter() {
    Close();
}

HRESULT CMovieFileWriter::AppendFrame(int32_t width, int32_t height, const uint8_t* data,
                                      int32_t bitsPerPixel) {
    if (state == kFailed) return E_FAIL;
    if (bitsPerPixel != 24) return E_INVALIDARG;
    return AppendPicture({data, width, height, static_cast<int>(FrameRowStride(width)), true});
}

HRESULT CMovieFileWriter::AppendPicture(const imaging::BgrImageView& frame) {
    if (state == kFailed) return E_FAIL;
    if (frame.pixels == nullptr || frame.width <= 0 || frame.height <= 0) return E_INVALIDARG;
    if (state == kWaitingForFirstFrame) {
        if (FAILED(PrepareFirstFrame(frame.width, frame.height))) return E_FAIL;
        state = kWriting;
    }
    return WriteFrame(frame);
}

HRESULT CMovieFileWriter::RecordFrame(int32_t width, int32_t height, const uint8_t* data) {
    if (droppedFrames < kMaxDroppedFrames) {
        const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
        const MovieFrameSize movie = current.GetMovieFrameSize();
        if (current.captureWidth != movie.width || current.captureHeight != movie.height) {
            ++droppedFrames;
            return S_OK;
        }
        droppedFrames = kMaxDroppedFrames;
    }
    return AppendFrame(width, height, data, 24);
}

HRESULT CMovieFileWriter::PrepareFirstFrame(int32_t width, int32_t height) {
    // Sized for the larger of the screen and the frame, and never smaller than the picture
    // the encoder reads, so it serves the whole recording.
    const ScreenSize screen = CurrentScreenSize();
    const int pictureBytes = av_image_get_buffer_size(AV_PIX_FMT_YUV420P, width, height, 32);
    const int64_t bufferBytes = std::max<int64_t>(
        int64_t{std::max(screen.width, width)} * std::max(screen.height, height) * 4, pictureBytes);
    if (pictureBytes > 0 && static_cast<uint64_t>(bufferBytes) <= SIZE_MAX)
        frameBuffer.reset(static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(bufferBytes))));
    if (!frameBuffer) return Fail("Unable to Allocate Memory on Heap");

    // Created exclusively: a recording never writes over a file that is already there. A
    // movie of stills is unnamed until Publish.
    fileDescriptor = stills
                         ? ::open(fileName.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644)
                         : ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fileDescriptor < 0) return Fail(SaveFileFailureText(fileName, errno));
    fileCreated = !stills;
    AVFormatContext* format = nullptr;
    avformat_alloc_output_context2(&format, nullptr, "avi", fileName.c_str());
    aviFile.reset(format);
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kFileIoBufferSize));
    if (ioBuffer != nullptr) {
        fileIo.reset(avio_alloc_context(ioBuffer, kFileIoBufferSize, 1, &fileDescriptor, nullptr,
                                        WriteToFile, SeekInFile));
        if (!fileIo) av_free(ioBuffer);
    }
    if (!aviFile || !fileIo) return Fail(SaveFileFailureText(fileName, ENOMEM));
    aviFile->pb = fileIo.get();
    aviFile->flags |= AVFMT_FLAG_CUSTOM_IO;

    AVStream* stream = avformat_new_stream(aviFile.get(), nullptr);
    if (stream == nullptr || av_dict_set(&stream->metadata, "title", "Video Stream", 0) < 0)
        return Fail("Unable to Create Video Stream in the Movie File");
    const AVRational movieTimeBase{1, static_cast<int>(rate)};
    stream->time_base = movieTimeBase;
    stream->avg_frame_rate = av_inv_q(movieTimeBase);

    const AVCodec* mpeg4 = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    if (mpeg4 != nullptr) encoder.reset(avcodec_alloc_context3(mpeg4));
    if (encoder) {
        encoder->codec_tag = MKTAG('X', 'V', 'I', 'D');
        encoder->width = width;
        encoder->height = height;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = stills ? movieTimeBase : kCaptureClock;
        encoder->gop_size = 1;  // every frame a key frame
        encoder->max_b_frames = 0;
        encoder->flags |= AV_CODEC_FLAG_QSCALE;
        encoder->global_quality = FF_QP2LAMBDA * kQuantizer;
        // The streaming thread does the work; the other cores draw and save pictures.
        encoder->thread_count = 1;
    }
    picture.reset(av_frame_alloc());
    packet.reset(av_packet_alloc());
    if (!encoder || !picture || !packet || avcodec_open2(encoder.get(), mpeg4, nullptr) < 0)
        return Fail("Unable to Create Compressed Stream: Check your CODEC options");
    picture->format = AV_PIX_FMT_YUV420P;
    picture->width = width;
    picture->height = height;
    picture->quality = encoder->global_quality;
    av_image_fill_arrays(picture->data, picture->linesize, frameBuffer.get(), AV_PIX_FMT_YUV420P,
                         width, height, 32);

    if (avcodec_parameters_from_context(stream->codecpar, encoder.get()) < 0 ||
        avformat_write_header(aviFile.get(), nullptr) < 0)
        return Fail("Unable to Set Video Stream Format");
    headerWritten = true;
    avio_flush(fileIo.get());
    if (fileIo->error < 0) return Fail("Unable to Set Video Stream Format");

    startTime = sys::ProcessClockMs();
    return S_OK;
}

HRESULT CMovieFileWriter::WriteFrame(const imaging::BgrImageView& frame) {
    // A frame of another size than the first is scaled to the movie's size.
    converter.reset(sws_getCachedContext(
        converter.release(), frame.width, frame.height, AV_PIX_FMT_BGR24, picture->width,
        picture->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr));
    ++framesWritten;
    if (!converter) return Fail(kWriteFailure);
    // Rows that come bottom first are read from the last one backwards, so the movie is upright.
    const int64_t stride = frame.rowStride;
    const uint8_t* const source[] = {frame.bottomUp ? frame.pixels + stride * (frame.height - 1)
                                                    : frame.pixels};
    const int sourceStride[] = {static_cast<int>(frame.bottomUp ? -stride : stride)};
    sws_scale(converter.get(), source, sourceStride, 0, frame.height, picture->data,
              picture->linesize);
    // Stills follow each other at the movie's rate; recorded frames carry their capture time.
    picture->pts = stills ? lastPictureTime + 1
                          : std::max(lastPictureTime + 1, sys::ProcessClockMs() - startTime);
    lastPictureTime = picture->pts;
    if (avcodec_send_frame(encoder.get(), picture.get()) < 0 || !DrainEncoder())
        return Fail(kWriteFailure);
    return S_OK;
}

bool CMovieFileWriter::DrainEncoder() {
    AVStream* stream = aviFile->streams[0];
    while (avcodec_receive_packet(encoder.get(), packet.get()) == 0) {
        // Where the file ends with this frame's predecessor; a frame that cannot be stored
        // whole is cut off again, so the file ends with a whole frame.
        const int64_t wholeEnd = avio_tell(fileIo.get());
        const uint64_t stored = static_cast<uint64_t>(packet->size);
        // The file counts samples: one frame per sample index, whatever its capture time.
        packet->stream_index = stream->index;
        packet->pts = packet->dts = nextSample++;
        packet->duration = 1;
        const int result = av_write_frame(aviFile.get(), packet.get());
        av_packet_unref(packet.get());
        // Pushed to the file at once: a crash or a lost camera loses no whole frame.
        avio_flush(fileIo.get());
        if (result < 0 || fileIo->error < 0) {
            fileRefused = true;
            if (::ftruncate(fileDescriptor, wholeEnd) != 0)
                sys::DebugTraceF("movie %s: cannot cut off the unfinished frame: %s",
                                 fileName.c_str(), sys::ErrnoText(errno).c_str());
            return false;
        }
        accumulatedSize += stored;
    }
    return true;
}

std::string SaveFileFailureText(const std::string& path, int error) {
    return FormatWithText(GetLocalizedString("ui_alert_savefile", "Save file %s failure"), path) +
           sys::ErrnoText(error);
}

HRESULT CMovieFileWriter::Fail(const std::string& text) {
    errorText = text.substr(0, kErrorTextLimit);
    errorFlag = true;
    Release();
    CloseFile();
    return E_FAIL;
}

bool CMovieFileWriter::EndFile() {
    if (!headerWritten || fileRefused) return true;
    if (avcodec_send_frame(encoder.get(), nullptr) == 0) DrainEncoder();
    return !fileRefused && av_write_trailer(aviFile.get()) >= 0 && fileIo->error >= 0;
}

bool CMovieFileWriter::Release() {
    // The index and the counts go in on every close of a recording that can still write
    // them. A file that refused bytes ends with its last whole frame instead: players read
    // such a file frame by frame without its index. A movie of stills is ended by Finish
    // only: one that was not finished is thrown away.
    const bool ended = stills || EndFile();
    converter.reset();
    packet.reset();
    picture.reset();
    encoder.reset();
    aviFile.reset();
    fileIo.reset();
    headerWritten = false;
    frameBuffer.reset();
    state = kFailed;
    return ended;
}

void CMovieFileWriter::CloseFile() {
    if (fileDescriptor < 0) return;
    struct stat opened {};
    struct stat named {};
    const bool stillNamed = ::fstat(fileDescriptor, &opened) == 0 &&
                            ::stat(fileName.c_str(), &named) == 0 &&
                            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
    // A file without a single frame holds nothing worth keeping (the header alone, when the
    // disk filled or the size limit was hit right after it); it goes, unless another file
    // has taken its name meanwhile.
    if (accumulatedSize == 0 && stillNamed) ::unlink(fileName.c_str());
    ::close(fileDescriptor);
    fileDescriptor = -1;
    fileCreated = stillNamed && accumulatedSize > 0;
}

bool CMovieFileWriter::Finish() {
    if (state != kWriting) return false;
    const bool ended = EndFile();
    Release();
    if (!ended) {
        errorText = kWriteFailure;
        errorFlag = true;
    }
    return ended;
}

bool CMovieFileWriter::Publish(const std::string& path) {
    if (!stills || errorFlag || fileDescriptor < 0 || accumulatedSize == 0 || headerWritten) {
        errno = EINVAL;
        return false;
    }
    // On the disk before it has a name, as pictures are.
    if (::fsync(fileDescriptor) != 0) return false;
    const std::string self = "/proc/self/fd/" + std::to_string(fileDescriptor);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    fileName = path;
    return true;
}

void CMovieFileWriter::Close() {
    const bool open = headerWritten;
    const bool ended = Release();
    if (open && !errorFlag && !stills) {
        if (ended) {
            WriteAchievedRate();
        } else {
            // The frames are in the file, but its index or counts are not complete.
            errorText = kWriteFailure;
            errorFlag = true;
            sys::WarningBox(errorText);
        }
    }
    CloseFile();
}

void CMovieFileWriter::WriteAchievedRate() {
    const int64_t elapsed = sys::ProcessClockMs() - startTime;
    // With no time elapsed the nominal rate stays; a rate of 0 would make the file unplayable.
    if (elapsed > 0)
        rate = static_cast<uint32_t>(std::max<int64_t>(1, int64_t{framesWritten} * 1000 / elapsed));
    const uint8_t bytes[4] = {static_cast<uint8_t>(rate), static_cast<uint8_t>(rate >> 8),
                              static_cast<uint8_t>(rate >> 16), static_cast<uint8_t>(rate >> 24)};
    // Through the descriptor the movie was written with: the file may have been renamed
    // meanwhile, and another file may have taken its name.
    if (::pwrite(fileDescriptor, bytes, sizeof(bytes), kAviStreamRateOffset) != sizeof(bytes))
        sys::WarningBox(sys::ErrnoText(errno));
}
