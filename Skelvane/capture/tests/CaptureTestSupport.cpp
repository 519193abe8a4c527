#include "Skelvane/capture/tests/CaptureTestSupport.h"

#include <signal.h>
#include <sys/wait.h>
#include <turbojpeg.h>
#include <unistd.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TimedShot.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

void FakeOwner::PostEvent(int eventNumber) {
    std::lock_guard<std::mutex> guard(lock_);
    events_.push_back(eventNumber);
}

void FakeOwner::RevealFile(const std::string& path) {
    std::lock_guard<std::mutex> guard(lock_);
    revealed_.push_back(path);
}

std::vector<int> FakeOwner::Events() const {
    std::lock_guard<std::mutex> guard(lock_);
    return events_;
}

std::vector<std::string> FakeOwner::Revealed() const {
    std::lock_guard<std::mutex> guard(lock_);
    return revealed_;
}

TestFrame::TestFrame(int32_t width, int32_t height)
    : width_(width),
      height_(height),
      bytes_(static_cast<size_t>(FrameRowStride(width) * height), 0) {}

void TestFrame::Set(int x, int y, uint8_t blue, uint8_t green, uint8_t red) {
    uint8_t* pixel = bytes_.data() + Offset(x, y);
    pixel[0] = blue;
    pixel[1] = green;
    pixel[2] = red;
}

std::vector<int> TestFrame::At(int x, int y) const {
    const uint8_t* pixel = bytes_.data() + Offset(x, y);
    return {pixel[0], pixel[1], pixel[2]};
}

size_t TestFrame::Offset(int x, int y) const {
    // Bottom row first in memory.
    return static_cast<size_t>(FrameRowStride(width_) * (height_ - 1 - y) + x * 3);
}

TestFrame TestFrame::Quadrants(int32_t width, int32_t height) {
    TestFrame frame(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool right = x >= width / 2;
            const bool bottom = y >= height / 2;
            if (!right && !bottom) frame.Set(x, y, 0, 0, 255);
            if (right && !bottom) frame.Set(x, y, 0, 255, 0);
            if (!right && bottom) frame.Set(x, y, 255, 0, 0);
            if (right && bottom) frame.Set(x, y, 255, 255, 255);
        }
    }
    return frame;
}

std::vector<int> DecodedPicture::At(int x, int y) const {
    const uint8_t* pixel = bgr.data() + (static_cast<size_t>(y) * width + x) * 3;
    return {pixel[0], pixel[1], pixel[2]};
}

DecodedPicture DecodeJpegFile(const std::string& path) {
    const std::string bytes = ReadWholeFile(path);
    DecodedPicture picture;
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (!bytes.empty() && tjDecompressHeader3(decoder, data, bytes.size(), &width, &height,
                                              &subsampling, &colorspace) == 0) {
        picture.bgr.resize(static_cast<size_t>(width) * height * 3);
        if (tjDecompress2(decoder, data, bytes.size(), picture.bgr.data(), width, 0, height,
                          TJPF_BGR, 0) == 0) {
            picture.width = width;
            picture.height = height;
        }
    }
    tjDestroy(decoder);
    return picture;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void CaptureTest::SetUp() {
    std::string pattern = (fs::temp_directory_path() / "skelvane-capture-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    fs::create_directories(folder_ + "/home");
    fs::create_directories(folder_ + "/saving");
    registry::SetStoreFolders(folder_ + "/config", "");
    if (const char* home = std::getenv("HOME")) previousHome_ = home;
    setenv("HOME", (folder_ + "/home").c_str(), 1);
    previousClocks_ =
        sys::SetClockSource({[this] { return nowMs_.load(); }, [this] { return processMs_.load(); },
                             [this] {
                                 return sys::Date{year_.load(), month_.load(), day_.load()};
                             }});
    CSettingParamManage::Destroy();
    CLocalizableString::Destroy();
    CSavingLoactionManage::Destroy();
    ClearTimedShotQueue();
    // The language table is loaded here, so a box of its own cannot mix with the test's.
    previousPresenter_ =
        sys::SetMessageBoxPresenter(std::make_shared<support::RecordingPresenter>());
    UseSettings(0);
    GetLocalizedString("ui_alert_savefile", "");
    boxes_ = std::make_shared<support::RecordingPresenter>();
    sys::SetMessageBoxPresenter(boxes_);
}

void CaptureTest::TearDown() {
    ClearTimedShotQueue();
    CSettingParamManage::Destroy();
    CLocalizableString::Destroy();
    CSavingLoactionManage::Destroy();
    sys::SetMessageBoxPresenter(previousPresenter_);
    sys::SetClockSource(previousClocks_);
    setenv("HOME", previousHome_.c_str(), 1);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

void CaptureTest::UseSettings(int32_t autocreatingfolder, int32_t captureWidth,
                              int32_t captureHeight) {
    CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
    param.SetResourcesPath(folder_ + "/saving");
    param.autocreatingfolder = autocreatingfolder;
    CSettingParamManage::Instance()->Apply(param);
    CSettingParamManage::Instance()->SetCurrentCapture(captureWidth, captureHeight, false);
}

void CaptureTest::SetSavingFolder(const std::string& folder) {
    CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
    param.SetResourcesPath(folder);
    CSettingParamManage::Instance()->Apply(param);
}

std::vector<std::string> CaptureTest::Listing(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        std::string name = fs::relative(it->path(), folder).string();
        if (it->is_directory()) name += "/";
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void CaptureTest::Place(const std::string& folder, const std::string& relativePath,
                        const std::string& content) {
    const fs::path path = fs::path(folder) / relativePath;
    if (relativePath.back() == '/') {
        fs::create_directories(path);
        return;
    }
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

namespace {

std::atomic<int> decoderErrorLines{0};

void CountDecoderErrors(void* object, int level, const char* format, va_list arguments) {
    if (level <= AV_LOG_ERROR && object != nullptr) {
        const AVClass* type = *static_cast<AVClass**>(object);
        const AVClassCategory category =
            type->get_category != nullptr ? type->get_category(object) : type->category;
        if (category == AV_CLASS_CATEGORY_DECODER) decoderErrorLines.fetch_add(1);
    }
    av_log_default_callback(object, level, format, arguments);
}

DecodedPicture PictureOf(const AVFrame& frame) {
    DecodedPicture picture;
    SwsContext* converter = sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), frame.width,
        frame.height, AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (converter == nullptr) return picture;
    // swscale writes whole vectors: its rows get the library's padding, then are packed.
    uint8_t* target[4] = {};
    int targetStride[4] = {};
    if (av_image_alloc(target, targetStride, frame.width, frame.height, AV_PIX_FMT_BGR24, 64) >=
        0) {
        sws_scale(converter, frame.data, frame.linesize, 0, frame.height, target, targetStride);
        const size_t row = static_cast<size_t>(frame.width) * 3;
        picture.bgr.resize(row * frame.height);
        for (int y = 0; y < frame.height; ++y)
            std::memcpy(picture.bgr.data() + row * y, target[0] + targetStride[0] * y, row);
        av_freep(&target[0]);
    }
    sws_freeContext(converter);
    picture.width = frame.width;
    picture.height = frame.height;
    return picture;
}

}  // namespace

MovieContents ReadMovie(const std::string& path) {
    MovieContents movie;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return movie;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> formatOwner(
        format, [](AVFormatContext* f) { avformat_close_input(&f); });
    if (avformat_find_stream_info(format, nullptr) < 0 || format->nb_streams == 0) return movie;
    movie.opened = true;
    movie.format = format->iformat->name;
    movie.streams = static_cast<int>(format->nb_streams);
    const AVStream* stream = format->streams[0];
    const AVCodecParameters* parameters = stream->codecpar;
    movie.codec = avcodec_get_name(parameters->codec_id);
    for (int shift = 0; shift < 32; shift += 8)
        movie.codecTag += static_cast<char>((parameters->codec_tag >> shift) & 0xFF);
    if (const AVDictionaryEntry* title = av_dict_get(stream->metadata, "title", nullptr, 0))
        movie.title = title->value;
    movie.width = parameters->width;
    movie.height = parameters->height;
    movie.rateNumerator = stream->avg_frame_rate.num;
    movie.rateDenominator = stream->avg_frame_rate.den;
    movie.guessedRateNumerator = stream->r_frame_rate.num;
    movie.guessedRateDenominator = stream->r_frame_rate.den;

    const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    if (!decoder || avcodec_parameters_to_context(decoder.get(), parameters) < 0 ||
        avcodec_open2(decoder.get(), codec, nullptr) < 0) {
        movie.decodeErrors = 1;
        return movie;
    }
    av_log_set_callback(CountDecoderErrors);
    decoderErrorLines = 0;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    const auto receive = [&] {
        while (avcodec_receive_frame(decoder.get(), frame) == 0) {
            movie.pictures.push_back(PictureOf(*frame));
            av_frame_unref(frame);
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == 0) {
            movie.packetSizes.push_back(packet->size);
            if (packet->flags & AV_PKT_FLAG_KEY) ++movie.keyPackets;
            if (avcodec_send_packet(decoder.get(), packet) < 0) ++movie.decodeErrors;
            receive();
        }
        av_packet_unref(packet);
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receive();
    av_frame_free(&frame);
    av_packet_free(&packet);
    av_log_set_callback(av_log_default_callback);
    movie.packets = static_cast<int>(movie.packetSizes.size());
    movie.decodeErrors += decoderErrorLines.load();
    return movie;
}

uint32_t FileWordAt(const std::string& path, long offset) {
    const std::string bytes = ReadWholeFile(path);
    if (bytes.size() < static_cast<size_t>(offset) + 4) return 0;
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return value;
}

int RunInChild(const std::function<void(int report)>& record,
               const std::function<void(pid_t child, int report)>& watch) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeEnds[0]);
        record(pipeEnds[1]);
        ::_exit(0);
    }
    ::close(pipeEnds[1]);
    watch(child, pipeEnds[0]);
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return status;
}

std::string RecordWithFileLimit(rlim_t fileLimit, const std::function<std::string()>& record) {
    std::string reported;
    const int status = RunInChild(
        [&](int report) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{fileLimit, fileLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            const std::string text = record();
            if (::write(report, text.data(), text.size()) < 0) ::_exit(1);
        },
        [&](pid_t, int report) {
            char buffer[512];
            ssize_t got;
            while ((got = ::read(report, buffer, sizeof(buffer))) > 0) reported.append(buffer, got);
        });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return reported;
}
