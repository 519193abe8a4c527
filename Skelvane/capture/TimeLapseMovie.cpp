#include "Skelvane/capture/TimeLapseMovie.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <utility>

#include "Skelvane/capture/MovieFileWriter.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/settings/LocalizableString.h"
#include "platform/imaging/Imaging.h"
#include "platform/sys/Sys.h"

namespace {

constexpr char kPictureExtension[] = ".jpg";
// Larger pictures are taken for damaged: their header alone could make us allocate gigabytes.
constexpr int kMaxPictureSide = 16384;
// A name taken between naming and storing is passed over; this many in a row means
// something else is wrong.
constexpr int kNamingAttempts = 100;

struct FileCloser {
    explicit FileCloser(int descriptor) : fd(descriptor) {}
    ~FileCloser() {
        if (fd >= 0) ::close(fd);
    }
    FileCloser(const FileCloser&) = delete;
    FileCloser& operator=(const FileCloser&) = delete;
    int fd;
};

struct DecoderCloser {
    void operator()(void* handle) const { tjDestroy(handle); }
};

// Reads whole JPEG files into full-size pictures, reusing its buffers from one to the next.
class PictureReader {
public:
    PictureReader() : decoder_(tjInitDecompress()) {}

    // Nothing for a file that is not a regular file, cannot be read, or does not decode
    // without so much as a warning: a picture cut short or with damaged data would show
    // grey or smeared in the movie.
    const imaging::BgrBitmap* Read(const std::string& path) {
        if (!decoder_ || !Load(path)) return nullptr;
        if (Decode()) return &picture_;
        // A decoder stopped by an error or a warning refuses the pictures after it.
        decoder_.reset(tjInitDecompress());
        return nullptr;
    }

private:
    bool Load(const std::string& path) {
        // Opened without waiting: a FIFO named like a picture cannot hold the builder.
        const FileCloser file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        struct stat status {};
        if (file.fd < 0 || ::fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_size <= 0)
            return false;
        bytes_.resize(static_cast<size_t>(status.st_size));
        size_t got = 0;
        while (got < bytes_.size()) {
            const ssize_t read = ::read(file.fd, bytes_.data() + got, bytes_.size() - got);
            if (read < 0 && errno == EINTR) continue;
            if (read <= 0) return false;
            got += static_cast<size_t>(read);
        }
        return true;
    }

    bool Decode() {
        int width = 0, height = 0, subsampling = 0, colours = 0;
        if (tjDecompressHeader3(decoder_.get(), bytes_.data(), bytes_.size(), &width, &height,
                                &subsampling, &colours) != 0 ||
            width <= 0 || height <= 0 || width > kMaxPictureSide || height > kMaxPictureSide)
            return false;
        picture_.width = width;
        picture_.height = height;
        picture_.pixels.resize(static_cast<size_t>(width) * height * 3);
        return tjDecompress2(decoder_.get(), bytes_.data(), bytes_.size(), picture_.pixels.data(),
                             width, width * 3, height, TJPF_BGR, TJFLAG_STOPONWARNING) == 0;
    }

    std::unique_ptr<void, DecoderCloser> decoder_;
    std::vector<unsigned char> bytes_;
    imaging::BgrBitmap picture_;
};

bool IsPictureName(const std::string& name) {
    constexpr size_t length = sizeof(kPictureExtension) - 1;
    return name.size() > length &&
           name.compare(name.size() - length, length, kPictureExtension) == 0;
}

}  // namespace

std::string NoPictureText() {
    return GetLocalizedString("ui_alert_timelapse_no_picture",
                              "There is no picture to make a movie of");
}

std::vector<std::string> TimeLapsePictures(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code typeError;
        const std::string name = entry->path().filename().string();
        if (IsPictureName(name) && entry->is_regular_file(typeError)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (std::string& name : names) name = folder + "/" + name;
    return names;
}

CTimeLapseBuilder::CTimeLapseBuilder(std::vector<std::string> pictures, std::string moviesFolder,
                                     uint32_t rate)
    : pictures_(std::move(pictures)), moviesFolder_(std::move(moviesFolder)), rate_(rate) {}

CTimeLapseBuilder::Outcome CTimeLapseBuilder::Run() {
    const std::unique_ptr<CMovieFileWriter> writer =
        CMovieFileWriter::ForStills(moviesFolder_, rate_);
    PictureReader reader;
    for (const std::string& path : pictures_) {
        if (cancel_.load(std::memory_order_relaxed)) return Finish(kCancelled);
        if (const imaging::BgrBitmap* picture = reader.Read(path)) {
            if (FAILED(writer->AppendPicture(picture->View()))) return Fail(writer->ErrorText());
        } else {
            skipped_.fetch_add(1, std::memory_order_relaxed);
            sys::DebugTraceF("time-lapse: %s does not decode cleanly, skipped", path.c_str());
        }
        done_.fetch_add(1, std::memory_order_relaxed);
    }
    if (cancel_.load(std::memory_order_relaxed)) return Finish(kCancelled);
    if (writer->FramesWritten() == 0) return Fail(NoPictureText());
    if (!writer->Finish()) return Fail(writer->ErrorText());
    for (int attempt = 0; attempt < kNamingAttempts; ++attempt) {
        std::string path;
        if (!CSavingLoactionManage::Instance()->NextMovieFile(moviesFolder_, path))
            return Finish(kFailed);  // the saving location has shown its box
        if (writer->Publish(path)) {
            moviePath_ = path;
            return Finish(kMade);
        }
        if (errno != EEXIST) return Fail(SaveFileFailureText(path, errno));
    }
    return Fail(SaveFileFailureText(moviesFolder_, EEXIST));
}

CTimeLapseBuilder::Outcome CTimeLapseBuilder::Fail(const std::string& text) {
    errorText_ = text;
    sys::WarningBox(text);
    return Finish(kFailed);
}

CTimeLapseBuilder::Outcome CTimeLapseBuilder::Finish(Outcome outcome) {
    outcome_.store(outcome, std::memory_order_release);
    return outcome;
}
