#include "platform/imaging/Thumbnail.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/imaging/Exif.h"
#include "platform/sys/Sys.h"
#include "platform/sys/UniqueFd.h"

namespace imaging {

namespace {

struct Size {
    int width = 0;
    int height = 0;
};

// The size a picture is decoded to: the fitted size (never below one pixel a side, so an
// extreme shape still shows a sliver), or the whole picture for a box of no width.
Size TargetSize(int width, int height, int boxWidth) {
    if (boxWidth <= 0) return {width, height};
    const ThumbnailRect fit = FitThumbnail(width, height, boxWidth, 0);
    return {std::max(fit.width, 1), std::max(fit.height, 1)};
}

bool AcceptedSourceSize(int width, int height) {
    return width > 0 && height > 0 && width <= kMaxThumbnailSourceSide &&
           height <= kMaxThumbnailSourceSide;
}

// The regular file at `path` opened for reading, with its size; an invalid descriptor for
// anything else. Opened without waiting: opening a FIFO for reading would otherwise block
// until a writer came, and a device could do anything. The type is checked on the open
// descriptor, so the file cannot be swapped between a check and the open.
sys::UniqueFd OpenRegularFile(const std::string& path, int64_t& size) {
    sys::UniqueFd file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat status {};
    if (file.Get() < 0 || fstat(file.Get(), &status) != 0) {
        sys::DebugTraceF("thumbnail %s: cannot open: %s", path.c_str(),
                         sys::ErrnoText(errno).c_str());
        return sys::UniqueFd(-1);
    }
    if (!S_ISREG(status.st_mode)) {
        sys::DebugTraceF("thumbnail %s: not a regular file", path.c_str());
        return sys::UniqueFd(-1);
    }
    size = status.st_size;
    return file;
}

// The whole file, or nothing when it cannot be read, is empty or holds more than `maxBytes`.
std::optional<std::vector<uint8_t>> ReadFile(const std::string& path, size_t maxBytes) {
    int64_t size = 0;
    const sys::UniqueFd file = OpenRegularFile(path, size);
    if (file.Get() < 0) return std::nullopt;
    if (size <= 0 || static_cast<uint64_t>(size) > maxBytes) {
        sys::DebugTraceF("thumbnail %s: refused a file of %lld bytes", path.c_str(),
                         static_cast<long long>(size));
        return std::nullopt;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            sys::DebugTraceF("thumbnail %s: read %zu of %zu bytes", path.c_str(), done,
                             bytes.size());
            return std::nullopt;
        }
        done += static_cast<size_t>(got);
    }
    return bytes;
}

struct JpegDecoderDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
using JpegDecoder = std::unique_ptr<void, JpegDecoderDeleter>;

// The decoder's smallest reduction (1/8 up to 1/1) whose picture still covers `target`, so
// the final scale only ever shrinks, by less than half.
Size ReducedDecodeSize(int width, int height, Size target) {
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    Size best{width, height};
    for (int i = 0; factors != nullptr && i < count; ++i) {
        const tjscalingfactor factor = factors[i];
        if (factor.num > factor.denom) continue;
        const Size scaled{TJSCALED(width, factor), TJSCALED(height, factor)};
        if (scaled.width >= target.width && scaled.height >= target.height &&
            scaled.width < best.width)
            best = scaled;
    }
    return best;
}

struct AvDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
    void operator()(SwsContext* context) const { sws_freeContext(context); }
    void operator()(AVIOContext* context) const {
        av_freep(&context->buffer);
        avio_context_free(&context);
    }
};
template <class T>
using AvPtr = std::unique_ptr<T, AvDeleter>;

// A damaged movie can hold many packets that never give a picture; the one decoding thread
// gives up after this many of the video stream's, or this many times as many packets of
// any stream, rather than read a long file to its end.
constexpr int kMaxPacketsBeforeFirstFrame = 250;
constexpr int kMaxPacketsOfAnyStream = 4 * kMaxPacketsBeforeFirstFrame;
constexpr int kMovieIoBufferSize = 64 * 1024;
// libswscale's vector code writes whole vectors past the end of a row of packed pixels:
// it converts into rows with this much room and the rows are copied out tight.
constexpr int kRowRoomPixels = 32;

// The movie is read through the descriptor opened here, never by a name libavformat opens:
// what it reads is the regular file that was checked, and a demuxer asking to open another
// file or address (a playlist's entries, a reference to another movie) is refused.
struct MovieSource {
    int descriptor = -1;
    const CancelFlag* cancel = nullptr;

    bool Cancelled() const { return cancel != nullptr && cancel->load(std::memory_order_relaxed); }
};

int ReadMovie(void* opaque, uint8_t* bytes, int size) {
    const auto& source = *static_cast<const MovieSource*>(opaque);
    if (source.Cancelled()) return AVERROR_EXIT;
    ssize_t got;
    do {
        got = read(source.descriptor, bytes, static_cast<size_t>(size));
    } while (got < 0 && errno == EINTR);
    if (got < 0) return AVERROR(errno);
    return got == 0 ? AVERROR_EOF : static_cast<int>(got);
}

int64_t SeekMovie(void* opaque, int64_t offset, int whence) {
    const auto& source = *static_cast<const MovieSource*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat status {};
        return fstat(source.descriptor, &status) == 0 ? status.st_size : AVERROR(errno);
    }
    const off_t position = lseek(source.descriptor, offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

int MovieCancelled(void* opaque) {
    return static_cast<const MovieSource*>(opaque)->Cancelled() ? 1 : 0;
}

int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char* url, int, AVDictionary**) {
    sys::DebugTraceF("thumbnail: refused to open %s for a movie", url);
    return AVERROR(EPERM);
}

std::optional<BgrBitmap> FrameToBgr(const AVFrame& frame, int boxWidth) {
    const Size target = TargetSize(frame.width, frame.height, boxWidth);
    const AvPtr<SwsContext> converter(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), target.width,
        target.height, AV_PIX_FMT_BGR24, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
        nullptr, nullptr, nullptr));
    if (!converter) return std::nullopt;
    const int roomyStride = (target.width + kRowRoomPixels) * 3;
    std::vector<uint8_t> roomy(static_cast<size_t>(roomyStride) * (target.height + 1));
    uint8_t* const planes[4] = {roomy.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {roomyStride, 0, 0, 0};
    if (sws_scale(converter.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) !=
        target.height)
        return std::nullopt;
    BgrBitmap bitmap{target.width, target.height,
                     std::vector<uint8_t>(static_cast<size_t>(target.width) * target.height * 3)};
    const size_t rowBytes = static_cast<size_t>(target.width) * 3;
    for (int row = 0; row < target.height; ++row)
        std::memcpy(bitmap.pixels.data() + row * rowBytes,
                    roomy.data() + static_cast<size_t>(row) * roomyStride, rowBytes);
    return bitmap;
}

// The first video stream, with its codec known (asking the demuxer to probe only when the
// header did not tell); -1 when there is none.
int FirstVideoStream(AVFormatContext& movie) {
    const auto find = [&movie] {
        for (unsigned i = 0; i < movie.nb_streams; ++i) {
            if (movie.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
                return static_cast<int>(i);
        }
        return -1;
    };
    int index = find();
    if (index < 0 || movie.streams[index]->codecpar->codec_id == AV_CODEC_ID_NONE) {
        if (avformat_find_stream_info(&movie, nullptr) < 0) return -1;
        index = find();
    }
    return index;
}

AvPtr<AVCodecContext> OpenDecoder(const AVCodecParameters& parameters) {
    const AVCodec* codec = avcodec_find_decoder(parameters.codec_id);
    if (codec == nullptr) return nullptr;
    AvPtr<AVCodecContext> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), &parameters) < 0) return nullptr;
    decoder->max_pixels = int64_t{kMaxThumbnailSourceSide} * kMaxThumbnailSourceSide;
    // One frame is wanted; more threads would only add set-up and delay.
    decoder->thread_count = 1;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return nullptr;
    return decoder;
}

// Feeds the stream's packets until the decoder gives a frame, then flushes it at the end of
// the file for a frame it still holds back.
bool DecodeFirstFrame(AVFormatContext& movie, int stream, AVCodecContext& decoder, AVFrame& frame) {
    const AvPtr<AVPacket> packet(av_packet_alloc());
    if (!packet) return false;
    for (int sent = 0, read = 0;
         sent < kMaxPacketsBeforeFirstFrame && read < kMaxPacketsOfAnyStream; ++read) {
        if (av_read_frame(&movie, packet.get()) < 0) break;
        const bool ours = packet->stream_index == stream;
        // A damaged packet is skipped; a later one may still decode.
        if (ours) avcodec_send_packet(&decoder, packet.get());
        av_packet_unref(packet.get());
        if (!ours) continue;
        ++sent;
        if (avcodec_receive_frame(&decoder, &frame) == 0) return true;
    }
    avcodec_send_packet(&decoder, nullptr);
    return avcodec_receive_frame(&decoder, &frame) == 0;
}

// The thumbnail a camera embedded in the Exif of `jpeg`, at the target size: only when it
// has the picture's shape (some cameras letterbox theirs) and covers the target, so it
// looks as the picture itself would. Nothing otherwise.
std::optional<BgrBitmap> EmbeddedThumbnail(tjhandle decoder, const std::vector<uint8_t>& jpeg,
                                           int width, int height, Size target) {
    const ByteRange embedded = FindExifThumbnail(jpeg.data(), jpeg.size());
    int thumbWidth = 0, thumbHeight = 0, subsampling = 0, colorspace = 0;
    if (embedded.data == nullptr ||
        tjDecompressHeader3(decoder, embedded.data, embedded.size, &thumbWidth, &thumbHeight,
                            &subsampling, &colorspace) != 0 ||
        thumbWidth < target.width || thumbHeight < target.height ||
        !AcceptedSourceSize(thumbWidth, thumbHeight))
        return std::nullopt;
    // Shapes within 2 % of each other.
    const int64_t across = int64_t{thumbWidth} * height;
    const int64_t down = int64_t{thumbHeight} * width;
    if (std::abs(across - down) * 50 > across) return std::nullopt;
    BgrBitmap picture{thumbWidth, thumbHeight,
                      std::vector<uint8_t>(static_cast<size_t>(thumbWidth) * thumbHeight * 3)};
    if (tjDecompress2(decoder, embedded.data, embedded.size, picture.pixels.data(), thumbWidth, 0,
                      thumbHeight, TJPF_BGR, TJFLAG_FASTUPSAMPLE) != 0)
        return std::nullopt;
    if (thumbWidth == target.width && thumbHeight == target.height) return picture;
    return ScaleBicubic(picture.View(), target.width, target.height);
}

}  // namespace

ThumbnailRect FitThumbnail(int pictureWidth, int pictureHeight, int boxWidth, int top) {
    if (pictureWidth <= 0 || pictureHeight <= 0 || boxWidth <= 0) return {};
    const double ratio = static_cast<double>(pictureHeight) / pictureWidth;
    ThumbnailRect rect;
    if (static_cast<double>(kThumbnailBoxHeight) / boxWidth > ratio) {
        rect.width = boxWidth;
        rect.height = static_cast<int>(ratio * boxWidth);
    } else {
        rect.height = kThumbnailBoxHeight;
        rect.width = static_cast<int>(kThumbnailBoxHeight / ratio);
    }
    rect.x = (boxWidth - rect.width) / 2;
    rect.y = top + (kThumbnailBoxHeight - rect.height) / 2;
    return rect;
}

std::optional<BgrBitmap> DecodeJpegThumbnail(const std::string& path, int boxWidth) {
    // No picture of the largest accepted size codes into more than this.
    static const unsigned long maxFileBytes =
        tjBufSize(kMaxThumbnailSourceSide, kMaxThumbnailSourceSide, TJSAMP_444);
    const std::optional<std::vector<uint8_t>> jpeg = ReadFile(path, maxFileBytes);
    if (!jpeg) return std::nullopt;
    thread_local const JpegDecoder decoder(tjInitDecompress());
    if (!decoder) {
        sys::DebugTraceF("thumbnail %s: no decoder: %s", path.c_str(), tjGetErrorStr2(nullptr));
        return std::nullopt;
    }
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(decoder.get(), jpeg->data(), jpeg->size(), &width, &height,
                            &subsampling, &colorspace) != 0 ||
        !AcceptedSourceSize(width, height)) {
        sys::DebugTraceF("thumbnail %s: not a JPEG picture of an accepted size (%dx%d)",
                         path.c_str(), width, height);
        return std::nullopt;
    }
    const Size target = TargetSize(width, height, boxWidth);
    if (boxWidth > 0) {
        if (std::optional<BgrBitmap> embedded =
                EmbeddedThumbnail(decoder.get(), *jpeg, width, height, target))
            return embedded;
    }
    const Size decoded = ReducedDecodeSize(width, height, target);
    BgrBitmap picture{
        decoded.width, decoded.height,
        std::vector<uint8_t>(static_cast<size_t>(decoded.width) * decoded.height * 3)};
    // Warnings (stray bytes between markers, data cut short) leave a picture that viewers
    // show; only an error leaves none.
    if (tjDecompress2(decoder.get(), jpeg->data(), jpeg->size(), picture.pixels.data(),
                      decoded.width, 0, decoded.height, TJPF_BGR, TJFLAG_FASTUPSAMPLE) != 0 &&
        tjGetErrorCode(decoder.get()) != TJERR_WARNING) {
        sys::DebugTraceF("thumbnail %s: decoding failed: %s", path.c_str(),
                         tjGetErrorStr2(decoder.get()));
        return std::nullopt;
    }
    if (decoded.width == target.width && decoded.height == target.height) return picture;
    return ScaleBicubic(picture.View(), target.width, target.height);
}

std::optional<BgrBitmap> FirstMovieFrame(const std::string& path, int boxWidth,
                                         const CancelFlag* cancel) {
    int64_t size = 0;
    const sys::UniqueFd file = OpenRegularFile(path, size);
    if (!file.Valid()) return std::nullopt;
    MovieSource source{file.Get(), cancel};
    auto* ioBuffer = static_cast<uint8_t*>(av_malloc(kMovieIoBufferSize));
    AVIOContext* io = ioBuffer == nullptr
                          ? nullptr
                          : avio_alloc_context(ioBuffer, kMovieIoBufferSize, 0, &source, ReadMovie,
                                               nullptr, SeekMovie);
    if (io == nullptr) av_free(ioBuffer);
    const AvPtr<AVIOContext> movieIo(io);
    AVFormatContext* opened = avformat_alloc_context();
    if (!movieIo || opened == nullptr) {
        avformat_free_context(opened);
        return std::nullopt;
    }
    opened->pb = movieIo.get();
    opened->flags |= AVFMT_FLAG_CUSTOM_IO;
    opened->io_open = RefuseNestedOpen;
    opened->interrupt_callback = {MovieCancelled, &source};
    // On failure the context is freed by the call itself.
    if (avformat_open_input(&opened, path.c_str(), nullptr, nullptr) < 0) {
        sys::DebugTraceF("thumbnail %s: the movie does not open", path.c_str());
        return std::nullopt;
    }
    const AvPtr<AVFormatContext> movie(opened);
    const int stream = FirstVideoStream(*movie);
    if (stream < 0) {
        sys::DebugTraceF("thumbnail %s: no video stream", path.c_str());
        return std::nullopt;
    }
    const AVCodecParameters& parameters = *movie->streams[stream]->codecpar;
    if (parameters.width > kMaxThumbnailSourceSide || parameters.height > kMaxThumbnailSourceSide) {
        sys::DebugTraceF("thumbnail %s: refused a %dx%d movie", path.c_str(), parameters.width,
                         parameters.height);
        return std::nullopt;
    }
    const AvPtr<AVCodecContext> decoder = OpenDecoder(parameters);
    const AvPtr<AVFrame> frame(av_frame_alloc());
    if (!decoder || !frame || !DecodeFirstFrame(*movie, stream, *decoder, *frame) ||
        !AcceptedSourceSize(frame->width, frame->height)) {
        sys::DebugTraceF("thumbnail %s: no frame decodes", path.c_str());
        return std::nullopt;
    }
    return FrameToBgr(*frame, boxWidth);
}

std::optional<Thumbnail> LoadThumbnail(const std::string& path, int boxWidth,
                                       const CancelFlag* cancel) {
    const auto named = [&path](const char* extension) {
        return path.find(extension, 1) != std::string::npos;
    };
    std::optional<BgrBitmap> picture;
    bool movie = false;
    if (named(".jpg")) {
        picture = DecodeJpegThumbnail(path, boxWidth);
    } else if (named(".avi")) {
        picture = FirstMovieFrame(path, boxWidth, cancel);
        movie = true;
    }
    if (!picture) return std::nullopt;
    return Thumbnail{std::move(*picture), movie};
}

}  // namespace imaging
