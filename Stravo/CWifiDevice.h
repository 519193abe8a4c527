// The wireless camera's stream reader: reads the camera's Motion-JPEG stream over HTTP on a
// receive thread, decodes it on a decode thread into bottom-up BGR24 pictures at the
// camera's own size, and appends them to the frame queue (CFrameManager). Pictures are
// decoded by libjpeg-turbo straight into the queued array; FFmpeg's decoder only takes
// those libjpeg-turbo refuses.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Stravo/AutoResetEvent.h"
#include "Stravo/JpegSplitter.h"
#include "Stravo/VideoFormat.h"
#include "common/Singleton.h"
#include "common/WifiCameraAddress.h"
#include "platform/imaging/JpegDecoder.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

class CWifiDevice : public Tolm::Singleton<CWifiDevice> {
    friend class Tolm::Singleton<CWifiDevice>;

public:
    static constexpr uint32_t kDefaultAddress = kDefaultWifiCameraAddress;
    static constexpr int32_t kDefaultPort = kDefaultWifiCameraPort;
    static constexpr int32_t kFrameRate = 30;
    static constexpr size_t kMaxQueuedPackets = 3;
    // Larger pictures are refused when the stream opens, and not decoded at all later: a
    // camera's word alone must not make the reader allocate gigabytes.
    static constexpr int32_t kMaxPictureSide = 8192;
    // A read that waits longer than this counts as a lost stream.
    static constexpr std::chrono::milliseconds kReadTimeout{5000};
    static constexpr std::chrono::milliseconds kFirstReconnectDelay{1000};
    static constexpr std::chrono::milliseconds kLongestReconnectDelay{5000};

    struct Statistics {
        uint64_t packetsRead = 0;
        uint64_t packetsDropped = 0;  // oldest packets discarded because decoding fell behind
        uint64_t picturesQueued = 0;
        uint64_t reconnects = 0;
        uint64_t fallbackDecodes = 0;  // pictures libjpeg-turbo refused, decoded by FFmpeg
    };

    ~CWifiDevice() override;

    // Filter objects share the one reader: each takes it with Acquire and gives it back with
    // Release; the last Release destroys it, which stops the threads and closes the stream.
    static CWifiDevice* Acquire();
    static void Release();
    static int32_t Users();

    // Loads the camera's address and port from the settings tree: the "using" key when it
    // opens, else the "default" key. Returns false when a key or value was missing; the
    // defaults 192.168.5.1 and 8080 then stay for whatever was not read.
    bool ReadConfiguration();

    // Empties the frame queue of an earlier stream's pictures, connects and starts both
    // threads; appends the stream's format {width, height, 30} to `formats`. Returns 0 when
    // the stream runs, 1 when it could not be opened (after printing "error =..." on
    // standard output); `formats` is then left alone. On a reader that is already open it
    // only appends the known format.
    int Open(std::vector<VideoFormat>& formats);
    bool IsOpen() const;

    // One pass of the receive thread: reads what the stream has and queues every picture it
    // completes as a packet. False when the read failed, i.e. the stream is lost.
    bool ReceiveOnePacket();
    // One pass of the decode thread: decodes the oldest queued packet. False when there was
    // none.
    bool DecodeOnePacket();
    // Decodes one JPEG of the stream and queues it; a picture of another size than the
    // stream's is skipped. Needs an open stream.
    void DecodePicture(const uint8_t* jpeg, size_t size);

    void StartReceiveThread();
    void StartDecodeThread();
    void StopReceiveThread();
    void StopDecodeThread();

    uint32_t CameraAddress() const { return cameraAddress_; }
    int32_t CameraPort() const { return cameraPort_; }
    std::string StreamUrl() const;
    int32_t PacketCount();
    Statistics GetStatistics() const;

    // Called on the decode thread at the start of each pass that took a packet, with the
    // number of packets that were queued. Install before Open.
    using DecodePassObserver = std::function<void(int32_t queuedPackets)>;
    void SetDecodePassObserver(DecodePassObserver observer);

private:
    CWifiDevice() = default;

    static int InterruptCheck(void* opaque);
    bool OpenInput(std::string& error);
    void CloseInput();
    bool PrepareDecoding(std::string& error);
    void ReleaseDecoding();
    void QueuePacket(const uint8_t* jpeg, size_t size);
    void DecodeWithFfmpeg(const uint8_t* jpeg, size_t size);
    void QueuePicture(const AVFrame& frame);
    void ReceiveThreadProc();
    void DecodeThreadProc();
    // Runs `proc` on `thread`, `running` set while it may run; a thread the system refuses is
    // traced and leaves `running` clear.
    void StartThread(std::thread& thread, std::atomic<bool>& running, void (CWifiDevice::*proc)());
    // Waits `delay` unless stopping begins first; returns false when stopping.
    bool WaitUnlessStopping(std::chrono::milliseconds delay);
    void ArmReadWatchdog();
    void DisarmReadWatchdog();

    AVFormatContext* demuxer_ = nullptr;
    AVCodecContext* decoder_ = nullptr;  // the fallback decoder
    imaging::JpegDecoder jpegDecoder_;   // decode thread only
    SwsContext* scaler_ = nullptr;
    int scalerFormat_ = -1;             // the pixel format the scaler converts from, -1: none
    AVFrame* outputPicture_ = nullptr;  // planes and line sizes of the picture being written
    int32_t pictureSize_ = 0;           // bytes of one BGR24 picture, rows padded to 4
    uint32_t cameraAddress_ = kDefaultAddress;
    int32_t cameraPort_ = kDefaultPort;
    int streamIndex_ = -1;
    int32_t width_ = 0;
    int32_t height_ = 0;
    bool networkStarted_ = false;

    std::atomic<bool> receiveRunning_{false};
    std::thread receiveThread_;
    std::atomic<bool> decodeRunning_{false};
    std::thread decodeThread_;

    CJpegSplitter splitter_;  // receive thread only
    std::vector<uint8_t> readBuffer_;

    std::mutex packetLock_;
    std::list<AVPacket*> packetQueue_;
    AutoResetEvent packetEvent_;

    // Steady-clock milliseconds at which the current read began; 0 when no read runs.
    std::atomic<int64_t> readStartedMs_{0};
    std::atomic<bool> stopping_{false};
    std::mutex stopLock_;
    std::condition_variable stopSignal_;
    std::mutex openLock_;

    DecodePassObserver decodePassObserver_;

    std::atomic<uint64_t> packetsRead_{0};
    std::atomic<uint64_t> packetsDropped_{0};
    std::atomic<uint64_t> picturesQueued_{0};
    std::atomic<uint64_t> reconnects_{0};
    std::atomic<uint64_t> fallbackDecodes_{0};

    static inline std::mutex usersLock_;
    static inline int32_t users_ = 0;
};
