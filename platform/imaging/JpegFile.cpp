#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "platform/imaging/Exif.h"
#include "platform/imaging/Imaging.h"
#include "platform/sys/Sys.h"

namespace imaging {

namespace {

// Chroma halved both ways, as the usual still-picture encoders do at every quality.
constexpr int kSubsampling = TJSAMP_420;
// The embedded thumbnail's quality, as cameras write theirs.
constexpr int kThumbnailQuality = 85;
constexpr int kTemporaryNameAttempts = 100;
// tjAlloc takes an int.
constexpr unsigned long kMaxBufferBytes = 0x7FFFFFFF;

// Each thread that saves pictures keeps its compressor and an output buffer of the largest
// size it has needed, so a picture costs no set-up and no fresh pages for its bytes.
class ThreadEncoder {
public:
    ThreadEncoder() : handle_(tjInitCompress()) {}
    ~ThreadEncoder() {
        tjFree(buffer_);
        if (handle_ != nullptr) tjDestroy(handle_);
    }
    ThreadEncoder(const ThreadEncoder&) = delete;
    ThreadEncoder& operator=(const ThreadEncoder&) = delete;

    bool Ready() const { return handle_ != nullptr; }

    // On success `bytes` points into the buffer, valid until the next call.
    bool Encode(const BgrImageView& image, int quality, const unsigned char*& bytes,
                unsigned long& size) {
        const unsigned long needed = tjBufSize(image.width, image.height, kSubsampling);
        if (needed == static_cast<unsigned long>(-1) || needed > kMaxBufferBytes) {
            sys::DebugTraceF("jpeg: a %dx%d picture is too large to encode", image.width,
                             image.height);
            return false;
        }
        if (needed > capacity_) {
            tjFree(buffer_);
            buffer_ = tjAlloc(static_cast<int>(needed));
            capacity_ = buffer_ != nullptr ? needed : 0;
            if (buffer_ == nullptr) {
                sys::DebugTraceF("jpeg: no memory for the %lu bytes of a %dx%d picture", needed,
                                 image.width, image.height);
                return false;
            }
        }
        unsigned char* out = buffer_;
        size = capacity_;
        const int flags =
            TJFLAG_ACCURATEDCT | TJFLAG_NOREALLOC | (image.bottomUp ? TJFLAG_BOTTOMUP : 0);
        if (tjCompress2(handle_, image.pixels, image.width, image.rowStride, image.height, TJPF_BGR,
                        &out, &size, kSubsampling, quality, flags) != 0) {
            sys::DebugTraceF("jpeg: encoding a %dx%d picture failed: %s", image.width, image.height,
                             tjGetErrorStr2(handle_));
            return false;
        }
        bytes = out;
        return true;
    }

private:
    tjhandle handle_;
    unsigned char* buffer_ = nullptr;
    unsigned long capacity_ = 0;
};

WriteResult FromErrno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return {Gdiplus::AccessDenied, error};
        case ENOENT:
            return {Gdiplus::FileNotFound, error};
        default:
            return {Gdiplus::Win32Error, error};
    }
}

// A file beside the target, removed again unless it was renamed into place.
class TemporaryFile {
public:
    ~TemporaryFile() {
        if (fd_ >= 0) close(fd_);
        if (!path_.empty()) unlink(path_.c_str());
    }

    // Creates "<folder>/.photo-<pid>-<n>.tmp". The leading dot keeps it out of listings, and
    // the name holds no media extension: a folder scan during a save, or after a crash that
    // left the file behind, never takes it for a picture.
    int Create(const std::string& target) {
        const int error = CreateIn(target);
        return error ? Failed(target, "the temporary file cannot be created", error) : 0;
    }

    int Write(const std::string& target, const unsigned char* data, size_t size) {
        while (size > 0) {
            const ssize_t written = write(fd_, data, size);
            if (written < 0) {
                if (errno == EINTR) continue;
                return Failed(target, "writing the temporary file failed", errno);
            }
            data += written;
            size -= static_cast<size_t>(written);
        }
        return 0;
    }

    // Flushes, closes and moves the file to `target`, refusing to replace an existing one.
    int Commit(const std::string& target) {
        if (fdatasync(fd_) != 0) return Failed(target, "fdatasync failed", errno);
        const int closeResult = close(fd_);
        fd_ = -1;
        if (closeResult != 0) return Failed(target, "close failed", errno);
        if (int error = RenameInto(target))
            return Failed(target, "renaming the temporary file into place failed", error);
        path_.clear();
        return 0;
    }

private:
    static int Failed(const std::string& target, const char* what, int error) {
        sys::DebugTraceF("jpeg %s: %s: %s", target.c_str(), what, sys::ErrnoText(error).c_str());
        return error;
    }

    int CreateIn(const std::string& target) {
        static std::atomic<unsigned> counter{0};
        const size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
        for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
            std::string candidate = folder + ".photo-" + std::to_string(getpid()) + "-" +
                                    std::to_string(counter.fetch_add(1)) + ".tmp";
            fd_ = open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd_ >= 0) {
                path_ = std::move(candidate);
                return 0;
            }
            if (errno != EEXIST) return errno;
        }
        return EEXIST;
    }

    int RenameInto(const std::string& target) const {
        if (renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return 0;
        if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return errno;
        // A file system without the no-replace rename: test, then rename.
        struct stat existing;
        if (lstat(target.c_str(), &existing) == 0) return EEXIST;
        return rename(path_.c_str(), target.c_str()) == 0 ? 0 : errno;
    }

    int fd_ = -1;
    std::string path_;
};

// The Exif segment for a photo of `image`, encoding its thumbnail with `encoder`; empty
// when the thumbnail does not encode or fit.
std::vector<uint8_t> PhotoExif(const BgrImageView& image, const PhotoTags& tags,
                               ThreadEncoder& encoder) {
    const BgrBitmap thumbnail = ExifThumbnailPicture(image);
    const unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!encoder.Encode(thumbnail.View(), kThumbnailQuality, jpeg, size)) return {};
    std::vector<uint8_t> segment = ExifSegment(tags, image.width, image.height, jpeg, size);
    if (segment.empty()) sys::DebugTraceF("jpeg: a thumbnail of %lu bytes does not fit", size);
    return segment;
}

}  // namespace

std::vector<ImageCodecInfo> GetImageEncoders() {
    // The library is linked in, so what it can start does not change: asked once.
    static const std::vector<ImageCodecInfo> encoders = [] {
        const ThreadEncoder encoder;
        return encoder.Ready() ? std::vector<ImageCodecInfo>{{"image/jpeg", "JPEG"}}
                               : std::vector<ImageCodecInfo>{};
    }();
    return encoders;
}

WriteResult WriteJpegFile(const BgrImageView& image, const std::string& path, int quality,
                          const PhotoTags* tags) {
    if (image.pixels == nullptr || image.width <= 0 || image.height <= 0 ||
        image.rowStride < image.width * 3 || quality < 1 || quality > 100 || path.empty()) {
        sys::DebugTraceF("jpeg %s: refused: %dx%d picture, %d bytes per row, quality %d%s",
                         path.c_str(), image.width, image.height, image.rowStride, quality,
                         image.pixels == nullptr ? ", no pixels" : "");
        return {Gdiplus::InvalidParameter, 0};
    }
    thread_local ThreadEncoder encoder;
    if (!encoder.Ready()) {
        sys::DebugTraceF("jpeg %s: no encoder: %s", path.c_str(), tjGetErrorStr2(nullptr));
        return {Gdiplus::GdiplusNotInitialized, 0};
    }
    const unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    if (!encoder.Encode(image, quality, jpeg, jpegSize)) return {Gdiplus::GenericError, 0};

    // The segment goes between the JFIF segment and the rest, written as three pieces so
    // the picture's bytes are not copied.
    std::vector<uint8_t> exif;
    size_t head = 0;
    if (tags != nullptr) {
        thread_local ThreadEncoder thumbnailEncoder;
        head = ExifInsertionPoint(jpeg, jpegSize);
        if (head != 0 && thumbnailEncoder.Ready()) exif = PhotoExif(image, *tags, thumbnailEncoder);
    }
    TemporaryFile file;
    int error = file.Create(path);
    if (error == 0) error = file.Write(path, jpeg, head);
    if (error == 0) error = file.Write(path, exif.data(), exif.size());
    if (error == 0) error = file.Write(path, jpeg + head, jpegSize - head);
    if (error == 0) error = file.Commit(path);
    return error == 0 ? WriteResult{} : FromErrno(error);
}

}  // namespace imaging
