#include "Stravo/CWifiDevice.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "Stravo/CFrameManager.h"
#include "common/WifiCameraAddress.h"
#include "platform/sys/Sys.h"

namespace {

constexpr int kUrlBufferSize = 260;
constexpr int kErrorTextSize = 255;
constexpr size_t kReadChunkBytes = 64 * 1024;
// Rows of the queued pictures are padded to 4 bytes, as a device-independent bitmap's are.
constexpr int kRowAlignment = 4;

int64_t SteadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string ErrorText(int code) {
    char text[kErrorTextSize] = {};
    av_strerror(code, text, sizeof(text));
    return text;
}

int RowPitch(int width) {
    return (width * 3 + kRowAlignment - 1) & ~(kRowAlignment - 1);
}

void FreePacket(AVPacket* packet) {
    av_packet_free(&packet);
}

// A scaler from a decoded picture to BGR24 of the same size. JPEG decoders give the
// full-range "J" formats, which the scaler takes only as their plain counterparts with the
// range stated (and otherwise complains on every stream).
SwsContext* BgrScalerFor(AVPixelFormat format, int width, int height) {
    static const std::pair<AVPixelFormat, AVPixelFormat> kFullRange[] = {
        {AV_PIX_FMT_YUVJ420P, AV_PIX_FMT_YUV420P},
        {AV_PIX_FMT_YUVJ422P, AV_PIX_FMT_YUV422P},
        {AV_PIX_FMT_YUVJ444P, AV_PIX_FMT_YUV444P},
        {AV_PIX_FMT_YUVJ440P, AV_PIX_FMT_YUV440P},
        {AV_PIX_FMT_YUVJ411P, AV_PIX_FMT_YUV411P}};
    int sourceRange = 0;
    for (const auto& [full, plain] : kFullRange) {
        if (format == full) {
            format = plain;
            sourceRange = 1;
        }
    }
    SwsContext* scaler = sws_getContext(width, height, format, width, height, AV_PIX_FMT_BGR24,
                                        SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (scaler != nullptr && sourceRange != 0) {
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler, coefficients, sourceRange, coefficients, 1, 0, 1 << 16,
                                 1 << 16);
    }
    return scaler;
}

}  // namespace

CWifiDevice* CWifiDevice::Acquire() {
    std::lock_guard<std::mutex> guard(usersLock_);
    ++users_;
    return Instance();
}

void CWifiDevice::Release() {
    std::lock_guard<std::mutex> guard(usersLock_);
    if (users_ > 0 && --users_ == 0) {
        Destroy();
    }
}

int32_t CWifiDevice::Users() {
    std::lock_guard<std::mutex> guard(usersLock_);
    return users_;
}

CWifiDevice::~CWifiDevice() {
    StopReceiveThread();
    StopDecodeThread();
    CloseInput();
    ReleaseDecoding();
    for (AVPacket* packet : packetQueue_) {
        FreePacket(packet);
    }
    packetQueue_.clear();
    if (networkStarted_) {
        avformat_network_deinit();
    }
}

bool CWifiDevice::ReadConfiguration() {
    return ReadWifiCameraAddress(cameraAddress_, cameraPort_);
}

std::string CWifiDevice::StreamUrl() const {
    in_addr networkOrder{};
    networkOrder.s_addr = htonl(cameraAddress_);
    char dotted[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &networkOrder, dotted, sizeof(dotted));
    char url[kUrlBufferSize] = {};
    snprintf(url, sizeof(url), "http://%s:%d/?action=stream", dotted, cameraPort_);
    return url;
}

bool CWifiDevice::IsOpen() const {
    return receiveThread_.joinable();
}

int CWifiDevice::Open(std::vector<VideoFormat>& formats) {
    std::lock_guard<std::mutex> guard(openLock_);
    // A second filter object shares the running stream instead of opening it again.
    if (IsOpen()) {
        formats.push_back(VideoFormat{width_, height_, kFrameRate});
        return 0;
    }
    // A rebuilt graph must not first show the last picture of a stream that has ended.
    CFrameManager::Instance()->Clear();
    ReadConfiguration();
    if (!networkStarted_) {
        avformat_network_init();
        networkStarted_ = true;
    }
    decoder_ = avcodec_alloc_context3(nullptr);
    std::string error;
    if (decoder_ == nullptr || !OpenInput(error) || !PrepareDecoding(error)) {
        printf("error =%s\n", error.c_str());
        fflush(stdout);
        CloseInput();
        ReleaseDecoding();
        return 1;
    }
    formats.push_back(VideoFormat{width_, height_, kFrameRate});
    StartReceiveThread();
    StartDecodeThread();
    return 0;
}

int CWifiDevice::InterruptCheck(void* opaque) {
    auto* device = static_cast<CWifiDevice*>(opaque);
    if (device->stopping_.load(std::memory_order_relaxed)) {
        return 1;
    }
    int64_t started = device->readStartedMs_.load(std::memory_order_relaxed);
    if (started != 0 && SteadyNowMs() - started > kReadTimeout.count()) {
        sys::DebugTraceF("shengxiashumu count=\n");
        return 1;
    }
    return 0;
}

void CWifiDevice::ArmReadWatchdog() {
    readStartedMs_.store(std::max<int64_t>(SteadyNowMs(), 1), std::memory_order_relaxed);
}

void CWifiDevice::DisarmReadWatchdog() {
    readStartedMs_.store(0, std::memory_order_relaxed);
}

bool CWifiDevice::OpenInput(std::string& error) {
    demuxer_ = avformat_alloc_context();
    if (demuxer_ == nullptr) {
        error = ErrorText(AVERROR(ENOMEM));
        return false;
    }
    demuxer_->interrupt_callback.callback = &CWifiDevice::InterruptCheck;
    demuxer_->interrupt_callback.opaque = this;
    const AVInputFormat* mjpeg = av_find_input_format("mjpeg");
    std::string url = StreamUrl();

    ArmReadWatchdog();
    int result = avformat_open_input(&demuxer_, url.c_str(), mjpeg, nullptr);
    DisarmReadWatchdog();
    if (result != 0) {
        // A failed open has already freed the demuxer.
        demuxer_ = nullptr;
        error = ErrorText(result);
        return false;
    }
    // Keep the analysis short so opening does not wait for several pictures.
    demuxer_->probesize = 2048;
    demuxer_->max_analyze_duration = 1000;
    ArmReadWatchdog();
    result = avformat_find_stream_info(demuxer_, nullptr);
    DisarmReadWatchdog();
    if (result < 0) {
        error = ErrorText(result);
        CloseInput();
        return false;
    }
    streamIndex_ = -1;
    for (unsigned i = 0; i < demuxer_->nb_streams; ++i) {
        if (demuxer_->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            streamIndex_ = static_cast<int>(i);
        }
    }
    if (streamIndex_ < 0) {
        error = "no video stream";
        CloseInput();
        return false;
    }
    av_read_play(demuxer_);
    // Pictures are read from the connection as they arrive (see ReceiveOnePacket); whatever
    // the stream analysis read ahead belongs to the past.
    splitter_.Reset();
    return true;
}

void CWifiDevice::CloseInput() {
    if (demuxer_ != nullptr) {
        av_read_pause(demuxer_);
        avformat_close_input(&demuxer_);
    }
}

bool CWifiDevice::PrepareDecoding(std::string& error) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    if (codec == nullptr) {
        error = "no MJPEG decoder";
        return false;
    }
    int result = avcodec_parameters_to_context(decoder_, demuxer_->streams[streamIndex_]->codecpar);
    if (result < 0) {
        error = ErrorText(result);
        return false;
    }
    width_ = decoder_->width;
    height_ = decoder_->height;
    if (width_ > kMaxPictureSide || height_ > kMaxPictureSide) {
        char text[96];
        snprintf(text, sizeof(text), "picture of %dx%d is larger than %dx%d", width_, height_,
                 kMaxPictureSide, kMaxPictureSide);
        error = text;
        return false;
    }
    // A later picture of more pixels than that is refused by the decoder before it
    // allocates anything; one of another size within it is decoded and skipped.
    decoder_->max_pixels = static_cast<int64_t>(kMaxPictureSide) * kMaxPictureSide;
    result = avcodec_open2(decoder_, codec, nullptr);
    if (result < 0) {
        error = ErrorText(result);
        return false;
    }
    if (width_ <= 0 || height_ <= 0 || decoder_->pix_fmt == AV_PIX_FMT_NONE) {
        error = "unknown picture size";
        return false;
    }
    if (!jpegDecoder_.Ready()) {
        error = jpegDecoder_.LastError();
        return false;
    }
    outputPicture_ = av_frame_alloc();
    pictureSize_ = av_image_get_buffer_size(AV_PIX_FMT_BGR24, width_, height_, kRowAlignment);
    if (outputPicture_ == nullptr || pictureSize_ <= 0) {
        error = ErrorText(AVERROR(ENOMEM));
        return false;
    }
    return true;
}

void CWifiDevice::ReleaseDecoding() {
    av_frame_free(&outputPicture_);
    sws_freeContext(scaler_);
    scaler_ = nullptr;
    scalerFormat_ = AV_PIX_FMT_NONE;
    avcodec_free_context(&decoder_);
}

bool CWifiDevice::ReceiveOnePacket() {
    if (decoder_ == nullptr || demuxer_ == nullptr || demuxer_->pb == nullptr) {
        return true;
    }
    // The connection is read directly rather than through the demuxer, whose splitting
    // would hold every picture back until the next one begins.
    readBuffer_.resize(kReadChunkBytes);
    ArmReadWatchdog();
    int received =
        avio_read_partial(demuxer_->pb, readBuffer_.data(), static_cast<int>(readBuffer_.size()));
    DisarmReadWatchdog();
    if (received < 0) {
        return received == AVERROR(EAGAIN);
    }
    splitter_.Append(readBuffer_.data(), static_cast<size_t>(received),
                     [this](const uint8_t* jpeg, size_t size) { QueuePacket(jpeg, size); });
    return true;
}

void CWifiDevice::QueuePacket(const uint8_t* jpeg, size_t size) {
    AVPacket* packet = av_packet_alloc();
    if (packet == nullptr || av_new_packet(packet, static_cast<int>(size)) < 0) {
        FreePacket(packet);
        return;
    }
    memcpy(packet->data, jpeg, size);
    packet->stream_index = streamIndex_;
    {
        std::lock_guard<std::mutex> guard(packetLock_);
        // Drop the oldest rather than wait, so the picture stays close to live.
        if (packetQueue_.size() > kMaxQueuedPackets - 1) {
            FreePacket(packetQueue_.front());
            packetQueue_.pop_front();
            packetsDropped_.fetch_add(1, std::memory_order_relaxed);
        }
        packetQueue_.push_back(packet);
        packetEvent_.Set();
    }
    packetsRead_.fetch_add(1, std::memory_order_relaxed);
}

bool CWifiDevice::DecodeOnePacket() {
    AVPacket* packet = nullptr;
    int32_t queued = 0;
    {
        std::lock_guard<std::mutex> guard(packetLock_);
        queued = static_cast<int32_t>(packetQueue_.size());
        sys::DebugTraceF("shengxiashumu count=%d\n", queued);
        if (packetQueue_.empty()) {
            return false;
        }
        packet = packetQueue_.front();
        packetQueue_.pop_front();
    }
    std::unique_ptr<AVPacket, decltype(&FreePacket)> packetOwner(packet, &FreePacket);
    if (decodePassObserver_) {
        decodePassObserver_(queued);
    }
    DecodePicture(packet->data, static_cast<size_t>(packet->size));
    return true;
}

void CWifiDevice::DecodePicture(const uint8_t* jpeg, size_t size) {
    if (decoder_ == nullptr) {
        return;
    }
    std::unique_ptr<uint8_t[]> picture(new uint8_t[pictureSize_]);
    const imaging::BgrImageSpan target{picture.get(), width_, height_, RowPitch(width_), true};
    const imaging::JpegDecodeStatus status = jpegDecoder_.Decode(jpeg, size, target);
    if (imaging::Shows(status)) {
        CFrameManager::Instance()->PushFrame(width_, height_, picture.release(), pictureSize_);
        picturesQueued_.fetch_add(1, std::memory_order_relaxed);
    } else if (status == imaging::JpegDecodeStatus::kOtherSize) {
        sys::DebugTraceF("picture of another size skipped, stream is %dx%d\n", width_, height_);
    } else {
        fallbackDecodes_.fetch_add(1, std::memory_order_relaxed);
        sys::DebugTraceF("libjpeg-turbo refused a picture (%s), decoding it with FFmpeg\n",
                         jpegDecoder_.LastError().c_str());
        DecodeWithFfmpeg(jpeg, size);
    }
}

void CWifiDevice::DecodeWithFfmpeg(const uint8_t* jpeg, size_t size) {
    std::unique_ptr<AVPacket, decltype(&FreePacket)> packet(av_packet_alloc(), &FreePacket);
    if (packet == nullptr || size > INT32_MAX ||
        av_new_packet(packet.get(), static_cast<int>(size)) < 0) {
        return;
    }
    memcpy(packet->data, jpeg, size);
    if (avcodec_send_packet(decoder_, packet.get()) < 0) {
        return;
    }
    AVFrame* frame = av_frame_alloc();
    if (frame == nullptr) {
        return;
    }
    while (avcodec_receive_frame(decoder_, frame) == 0) {
        QueuePicture(*frame);
        av_frame_unref(frame);
    }
    av_frame_free(&frame);
}

void CWifiDevice::QueuePicture(const AVFrame& frame) {
    // The pin offers the size the stream opened with; pictures of another size cannot be
    // delivered in its buffers.
    if (frame.width != width_ || frame.height != height_) {
        sys::DebugTraceF("picture of %dx%d skipped, stream is %dx%d\n", frame.width, frame.height,
                         width_, height_);
        return;
    }
    auto format = static_cast<AVPixelFormat>(frame.format);
    if (format != scalerFormat_) {
        sws_freeContext(scaler_);
        scaler_ = BgrScalerFor(format, width_, height_);
        scalerFormat_ = format;
    }
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (scaler_ == nullptr || descriptor == nullptr) {
        return;
    }
    // Start every plane at its last row and walk upwards: the scaler then writes the
    // picture bottom row first without a copy.
    const uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
    int strides[AV_NUM_DATA_POINTERS] = {};
    for (int i = 0; i < 4; ++i) {
        if (frame.data[i] == nullptr) {
            continue;
        }
        // Chroma planes of vertically subsampled formats have fewer rows.
        int rows = (i == 1 || i == 2) ? AV_CEIL_RSHIFT(frame.height, descriptor->log2_chroma_h)
                                      : frame.height;
        planes[i] = frame.data[i] + static_cast<ptrdiff_t>(rows - 1) * frame.linesize[i];
        strides[i] = -frame.linesize[i];
    }
    // The scaler writes straight into the array handed to the queue: one conversion, no copy.
    auto* picture = new uint8_t[pictureSize_];
    av_image_fill_arrays(outputPicture_->data, outputPicture_->linesize, picture, AV_PIX_FMT_BGR24,
                         width_, height_, kRowAlignment);
    sws_scale(scaler_, planes, strides, 0, height_, outputPicture_->data, outputPicture_->linesize);
    CFrameManager::Instance()->PushFrame(width_, height_, picture, pictureSize_);
    picturesQueued_.fetch_add(1, std::memory_order_relaxed);
}

bool CWifiDevice::WaitUnlessStopping(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> guard(stopLock_);
    return !stopSignal_.wait_for(guard, delay, [this] { return stopping_.load(); });
}

void CWifiDevice::ReceiveThreadProc() {
    int64_t tick = sys::ProcessClockMs();
    std::chrono::milliseconds reconnectDelay = kFirstReconnectDelay;
    while (receiveRunning_.load(std::memory_order_relaxed)) {
        if (demuxer_ == nullptr) {
            // The stream was lost: try again, waiting longer after every failure.
            if (!WaitUnlessStopping(reconnectDelay)) {
                break;
            }
            std::string error;
            if (OpenInput(error)) {
                reconnects_.fetch_add(1, std::memory_order_relaxed);
                reconnectDelay = kFirstReconnectDelay;
                sys::DebugTraceF("reconnected to %s\n", StreamUrl().c_str());
            } else {
                sys::DebugTraceF("error =%s\n", error.c_str());
                reconnectDelay = std::min(reconnectDelay * 2, kLongestReconnectDelay);
            }
            continue;
        }
        if (!ReceiveOnePacket()) {
            sys::DebugTraceF("stream lost, reconnecting\n");
            CloseInput();
            continue;
        }
        int64_t now = sys::ProcessClockMs();
        if (now - tick > 0) {
            sys::DebugTraceF("reading FPS = %d\n", static_cast<int>(1000 / (now - tick)));
        }
        tick = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void CWifiDevice::DecodeThreadProc() {
    int64_t tick = sys::ProcessClockMs();
    while (decodeRunning_.load(std::memory_order_relaxed)) {
        packetEvent_.Wait(std::chrono::milliseconds(1000));
        // One wake may stand for several packets: the event stays set once for all of them.
        while (decodeRunning_.load(std::memory_order_relaxed) && DecodeOnePacket()) {
        }
        int64_t now = sys::ProcessClockMs();
        if (now - tick > 0) {
            sys::DebugTraceF("decode FPS = %d\n", static_cast<int>(1000 / (now - tick)));
        }
        tick = now;
    }
}

void CWifiDevice::StartReceiveThread() {
    if (receiveThread_.joinable()) {
        return;
    }
    stopping_.store(false);
    StartThread(receiveThread_, receiveRunning_, &CWifiDevice::ReceiveThreadProc);
}

void CWifiDevice::StartDecodeThread() {
    if (decodeThread_.joinable()) {
        return;
    }
    StartThread(decodeThread_, decodeRunning_, &CWifiDevice::DecodeThreadProc);
}

void CWifiDevice::StartThread(std::thread& thread, std::atomic<bool>& running,
                              void (CWifiDevice::*proc)()) {
    running.store(true);
    try {
        thread = std::thread(proc, this);
    } catch (const std::system_error&) {
        running.store(false);
        sys::DebugTraceF("Failure to run thread of receive data");
    }
}

void CWifiDevice::StopReceiveThread() {
    {
        std::lock_guard<std::mutex> guard(stopLock_);
        // Aborts a read in progress, so the demuxer is never released under a read.
        stopping_.store(true);
        receiveRunning_.store(false);
    }
    stopSignal_.notify_all();
    if (receiveThread_.joinable()) {
        receiveThread_.join();
    }
}

void CWifiDevice::StopDecodeThread() {
    decodeRunning_.store(false);
    packetEvent_.Set();
    if (decodeThread_.joinable()) {
        decodeThread_.join();
    }
}

int32_t CWifiDevice::PacketCount() {
    std::lock_guard<std::mutex> guard(packetLock_);
    return static_cast<int32_t>(packetQueue_.size());
}

CWifiDevice::Statistics CWifiDevice::GetStatistics() const {
    Statistics statistics;
    statistics.packetsRead = packetsRead_.load(std::memory_order_relaxed);
    statistics.packetsDropped = packetsDropped_.load(std::memory_order_relaxed);
    statistics.picturesQueued = picturesQueued_.load(std::memory_order_relaxed);
    statistics.reconnects = reconnects_.load(std::memory_order_relaxed);
    statistics.fallbackDecodes = fallbackDecodes_.load(std::memory_order_relaxed);
    return statistics;
}

void CWifiDevice::SetDecodePassObserver(DecodePassObserver observer) {
    decodePassObserver_ = std::move(observer);
}
