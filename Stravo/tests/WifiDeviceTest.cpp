#include <gtest/gtest.h>
#include <turbojpeg.h>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "Stravo/CFrameManager.h"
#include "Stravo/CWifiDevice.h"
#include "Stravo/tests/TempStore.h"
#include "tools/camsim/CamSimProcess.h"
#include "tools/camsim/TestPattern.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kUsingKey = kUsingSystemKey;
constexpr const char* kDefaultKey = kDefaultSystemKey;

template <class Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

std::vector<std::string> CamSimArguments(const std::string& address, int port,
                                         const std::string& size = "640x480") {
    return {"--address", address, "--port", std::to_string(port), "--size", size};
}

class WifiDeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        CWifiDevice::Destroy();
        CFrameManager::Destroy();
    }
    TempStore store_;
};

struct ConfigurationCase {
    const char* name;
    std::vector<std::tuple<const char*, const char*, uint32_t>> values;
    std::vector<const char*> emptyKeys;
    bool expectedResult;
    uint32_t expectedAddress;
    int32_t expectedPort;
};

TEST(WifiDeviceConfigurationTest, UsingKeyElseDefaultKeyDecidedByWhetherTheKeyOpens) {
    const uint32_t kCamera = HostOrderAddress("127.0.0.71");
    const uint32_t kOther = HostOrderAddress("127.0.0.72");
    const uint32_t kDefault = CWifiDevice::kDefaultAddress;
    const std::vector<ConfigurationCase> cases = {
        {"using key with both values",
         {{kUsingKey, "wifideviceip", kCamera},
          {kUsingKey, "wifideviceport", 81},
          {kDefaultKey, "wifideviceip", kOther},
          {kDefaultKey, "wifideviceport", 82}},
         {},
         true,
         kCamera,
         81},
        {"no using key: the default key's values",
         {{kDefaultKey, "wifideviceip", kOther}, {kDefaultKey, "wifideviceport", 82}},
         {},
         true,
         kOther,
         82},
        {"using key without an address: defaults, not the default key",
         {{kUsingKey, "wifideviceport", 81},
          {kDefaultKey, "wifideviceip", kOther},
          {kDefaultKey, "wifideviceport", 82}},
         {},
         false,
         kDefault,
         8080},
        {"address but no port: the port keeps its default",
         {{kUsingKey, "wifideviceip", kCamera}},
         {},
         false,
         kCamera,
         8080},
        {"empty using key", {}, {kUsingKey}, false, kDefault, 8080},
        {"no keys at all", {}, {}, false, kDefault, 8080},
    };
    for (const ConfigurationCase& configurationCase : cases) {
        SCOPED_TRACE(configurationCase.name);
        TempStore store;
        for (const auto& [key, name, value] : configurationCase.values) {
            ASSERT_TRUE(store.Write(key, name, value));
        }
        for (const char* key : configurationCase.emptyKeys) {
            ASSERT_TRUE(store.CreateKey(key));
        }
        CWifiDevice* device = CWifiDevice::Instance();
        EXPECT_EQ(device->ReadConfiguration(), configurationCase.expectedResult);
        EXPECT_EQ(device->CameraAddress(), configurationCase.expectedAddress);
        EXPECT_EQ(device->CameraPort(), configurationCase.expectedPort);
        CWifiDevice::Destroy();
    }
}

// The built-in address is the camera's own private one (the settings' default); tests never
// store an address outside loopback, so it is only read here, never connected to.
TEST_F(WifiDeviceTest, UrlHoldsTheDottedAddressAndPort) {
    CWifiDevice* device = CWifiDevice::Instance();
    EXPECT_FALSE(device->ReadConfiguration());
    EXPECT_EQ(device->StreamUrl(), "http://192.168.5.1:8080/?action=stream");
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.73", 18073));
    ASSERT_TRUE(device->ReadConfiguration());
    EXPECT_EQ(device->StreamUrl(), "http://127.0.0.73:18073/?action=stream");
}

struct PictureCase {
    const char* name;
    const char* address;
    int port;
    int width;
    int height;
    int32_t expectedStride;
    int32_t expectedSize;
};

void PrintTo(const PictureCase& pictureCase, std::ostream* out) {
    *out << pictureCase.name;
}

class WifiDevicePictureTest : public WifiDeviceTest,
                              public ::testing::WithParamInterface<PictureCase> {};

void ExpectColour(const uint8_t* bgr, camsim::Rgb expected, const char* corner) {
    SCOPED_TRACE(corner);
    EXPECT_NEAR(bgr[0], expected.blue, 40);
    EXPECT_NEAR(bgr[1], expected.green, 40);
    EXPECT_NEAR(bgr[2], expected.red, 40);
}

TEST_P(WifiDevicePictureTest, QueuesBottomUpBgrPicturesOfTheCameraSize) {
    const PictureCase& pictureCase = GetParam();
    CamSimProcess camera(CamSimArguments(
        pictureCase.address, pictureCase.port,
        std::to_string(pictureCase.width) + "x" + std::to_string(pictureCase.height)));
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt(pictureCase.address, pictureCase.port));

    std::vector<VideoFormat> formats;
    CWifiDevice* device = CWifiDevice::Instance();
    ASSERT_EQ(device->Open(formats), 0);
    ASSERT_EQ(formats.size(), 1u);
    EXPECT_EQ(formats[0], (VideoFormat{pictureCase.width, pictureCase.height, 30}));

    CFrameManager* queue = CFrameManager::Instance();
    ASSERT_TRUE(WaitFor([&] { return queue->GetCount() >= 3; }, 10s));
    std::vector<uint32_t> counters;
    for (int i = 0; i < 2; ++i) {
        QueuedFrame frame;
        bool owned = false;
        ASSERT_TRUE(queue->TakeFrame(frame, owned));
        ASSERT_TRUE(owned);
        EXPECT_EQ(frame.width, pictureCase.width);
        EXPECT_EQ(frame.height, pictureCase.height);
        EXPECT_EQ(frame.size, pictureCase.expectedSize);
        // The first row in memory is the picture's bottom row.
        const int stride = pictureCase.expectedStride;
        const uint8_t* bottomRow = frame.data + 2 * stride;
        const uint8_t* topRow = frame.data + (frame.height - 3) * stride;
        const int right = (frame.width - 3) * 3;
        ExpectColour(topRow + 6, camsim::kTopLeftColour, "top left");
        ExpectColour(topRow + right, camsim::kTopRightColour, "top right");
        ExpectColour(bottomRow + 6, camsim::kBottomLeftColour, "bottom left");
        ExpectColour(bottomRow + right, camsim::kBottomRightColour, "bottom right");
        counters.push_back(
            camsim::ReadFrameCounter(frame.data, frame.width, frame.height, stride, true));
        delete[] frame.data;
    }
    EXPECT_LT(counters[0], counters[1]) << "pictures arrive in camera order";

    // A second filter object shares the open stream instead of opening it again.
    std::vector<VideoFormat> secondFormats;
    EXPECT_EQ(device->Open(secondFormats), 0);
    EXPECT_EQ(secondFormats, formats);
    uint64_t queuedBefore = device->GetStatistics().picturesQueued;
    EXPECT_TRUE(
        WaitFor([&] { return device->GetStatistics().picturesQueued > queuedBefore + 3; }, 10s));
    EXPECT_EQ(device->GetStatistics().reconnects, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WifiDevicePictureTest,
    ::testing::Values(PictureCase{"VGA", "127.0.0.41", 18041, 640, 480, 1920, 921600},
                      // 322 x 3 = 966 bytes: rows are padded to 968.
                      PictureCase{"OddWidth", "127.0.0.42", 18042, 322, 240, 968, 232320}),
    [](const ::testing::TestParamInfo<PictureCase>& info) { return info.param.name; });

TEST_F(WifiDeviceTest, SlowDecoderNeverLetsMoreThanThreePacketsWaitAndDropsTheOldest) {
    CamSimProcess camera(CamSimArguments("127.0.0.43", 18043));
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.43", 18043));

    CWifiDevice* device = CWifiDevice::Instance();
    std::atomic<int32_t> mostQueued{0};
    device->SetDecodePassObserver([&](int32_t queued) {
        int32_t previous = mostQueued.load();
        while (queued > previous && !mostQueued.compare_exchange_weak(previous, queued)) {
        }
        std::this_thread::sleep_for(150ms);
    });
    std::vector<VideoFormat> formats;
    ASSERT_EQ(device->Open(formats), 0);
    int32_t mostSeen = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            mostSeen = std::max(mostSeen, device->PacketCount());
            return device->GetStatistics().picturesQueued >= 8;
        },
        20s));
    device->StopDecodeThread();

    EXPECT_LE(mostSeen, 3);
    EXPECT_EQ(mostQueued.load(), 3) << "decoding fell behind, so the queue filled";
    EXPECT_GT(device->GetStatistics().packetsDropped, 0u);

    // The decoded pictures keep camera order with gaps: the dropped packets were the oldest.
    CFrameManager* queue = CFrameManager::Instance();
    std::vector<uint32_t> counters;
    QueuedFrame frame;
    bool owned = true;
    while (owned && queue->TakeFrame(frame, owned)) {
        counters.push_back(
            camsim::ReadFrameCounter(frame.data, frame.width, frame.height, frame.width * 3, true));
        if (owned) {
            delete[] frame.data;
        }
    }
    ASSERT_GE(counters.size(), 8u);
    bool gap = false;
    for (size_t i = 1; i < counters.size(); ++i) {
        EXPECT_GT(counters[i], counters[i - 1]);
        gap = gap || counters[i] > counters[i - 1] + 1;
    }
    EXPECT_TRUE(gap);
}

TEST_F(WifiDeviceTest, UnreachableCameraPrintsTheErrorAndOffersNoFormat) {
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.44", 18044));
    std::vector<VideoFormat> formats;
    testing::internal::CaptureStdout();
    int result = CWifiDevice::Instance()->Open(formats);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(formats.empty());
    EXPECT_EQ(printed.rfind("error =", 0), 0u) << printed;
    EXPECT_FALSE(CWifiDevice::Instance()->IsOpen());
}

TEST_F(WifiDeviceTest, OpeningAStreamEmptiesTheQueueOfAnEarlierOne) {
    CFrameManager* queue = CFrameManager::Instance();
    const auto pushOldPicture = [queue] { queue->PushFrame(1, 1, new uint8_t[3]{7, 7, 7}, 3); };

    pushOldPicture();
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.74", 18074));  // nothing listens there
    std::vector<VideoFormat> formats;
    testing::internal::CaptureStdout();
    EXPECT_EQ(CWifiDevice::Instance()->Open(formats), 1);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(queue->GetCount(), 0) << "an unreachable camera shows nothing old either";
    CWifiDevice::Destroy();

    CamSimProcess camera(CamSimArguments("127.0.0.75", 18075));
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.75", 18075));
    pushOldPicture();
    ASSERT_EQ(CWifiDevice::Instance()->Open(formats), 0);
    ASSERT_TRUE(WaitFor([&] { return queue->GetCount() >= 1; }, 10s));
    QueuedFrame first;
    bool owned = false;
    ASSERT_TRUE(queue->TakeFrame(first, owned));
    EXPECT_EQ(first.width, 640) << "the first picture is the new stream's";
    if (owned) {
        delete[] first.data;
    }
}

struct LargeSizeCase {
    const char* name;
    const char* size;
    int expectedResult;
    std::vector<VideoFormat> expectedFormats;
};

TEST_F(WifiDeviceTest, PicturesAboveTheLargestSizeAreRefusedWhenTheStreamOpens) {
    const LargeSizeCase cases[] = {
        {"widest accepted", "8192x16", 0, {{8192, 16, 30}}},
        {"one column too wide", "8193x16", 1, {}},
        {"one row too tall", "16x8193", 1, {}},
        {"12000 x 12000", "12000x12000", 1, {}},
    };
    int slot = 0;
    for (const LargeSizeCase& sizeCase : cases) {
        SCOPED_TRACE(sizeCase.name);
        const std::string address = "127.0.0." + std::to_string(80 + slot);
        const int port = 18080 + slot++;
        std::vector<std::string> arguments = CamSimArguments(address, port);
        arguments.insert(arguments.end(), {"--plain-size", sizeCase.size});
        CamSimProcess camera(arguments);
        ASSERT_TRUE(camera.Ready());
        ASSERT_TRUE(store_.PointCameraAt(address.c_str(), port));
        std::vector<VideoFormat> formats;
        testing::internal::CaptureStdout();
        EXPECT_EQ(CWifiDevice::Instance()->Open(formats), sizeCase.expectedResult);
        const std::string printed = testing::internal::GetCapturedStdout();
        EXPECT_EQ(formats, sizeCase.expectedFormats);
        if (sizeCase.expectedResult != 0) {
            EXPECT_EQ(printed.rfind("error =picture of ", 0), 0u) << printed;
            EXPECT_NE(printed.find("larger than 8192x8192"), std::string::npos) << printed;
            EXPECT_FALSE(CWifiDevice::Instance()->IsOpen());
        }
        CWifiDevice::Destroy();
        CFrameManager::Destroy();
    }
}

// Every other picture of this camera is larger than the one the stream opened with: those
// are skipped, and nothing is written past a queued picture (AddressSanitizer watches).
TEST_F(WifiDeviceTest, PicturesOfAnotherSizeThanTheOpenedOneAreSkipped) {
    std::vector<std::string> arguments = CamSimArguments("127.0.0.76", 18076, "320x240");
    arguments.insert(arguments.end(), {"--alternate-size", "640x480", "--fps", "0"});
    CamSimProcess camera(arguments);
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.76", 18076));
    std::vector<VideoFormat> formats;
    CWifiDevice* device = CWifiDevice::Instance();
    ASSERT_EQ(device->Open(formats), 0);
    ASSERT_EQ(formats, (std::vector<VideoFormat>{{320, 240, 30}}));
    ASSERT_TRUE(WaitFor([&] { return device->GetStatistics().picturesQueued >= 10; }, 10s));
    device->StopDecodeThread();

    CFrameManager* queue = CFrameManager::Instance();
    QueuedFrame frame;
    bool owned = true;
    int taken = 0;
    while (owned && queue->TakeFrame(frame, owned)) {
        ++taken;
        EXPECT_EQ(frame.width, 320);
        EXPECT_EQ(frame.height, 240);
        EXPECT_EQ(frame.size, 320 * 3 * 240);
        EXPECT_EQ(camsim::ReadFrameCounter(frame.data, 320, 240, 320 * 3, true) % 2, 0u)
            << "only the even pictures have the opened size";
        if (owned) {
            delete[] frame.data;
        }
    }
    EXPECT_GE(taken, 10);
    const CWifiDevice::Statistics statistics = device->GetStatistics();
    // At most 3 packets wait undecoded: more decoded than queued means some were skipped.
    EXPECT_GT(statistics.packetsRead - statistics.packetsDropped, statistics.picturesQueued + 3)
        << "larger pictures were decoded, and skipped";
}

// The quadrant colours as a top-down BGR picture.
std::vector<uint8_t> QuadrantPicture(int width, int height) {
    std::vector<uint8_t> bgr(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool top = y < height / 2;
            const bool left = x < width / 2;
            const camsim::Rgb colour =
                top ? (left ? camsim::kTopLeftColour : camsim::kTopRightColour)
                    : (left ? camsim::kBottomLeftColour : camsim::kBottomRightColour);
            uint8_t* pixel = &bgr[(static_cast<size_t>(y) * width + x) * 3];
            pixel[0] = colour.blue;
            pixel[1] = colour.green;
            pixel[2] = colour.red;
        }
    }
    return bgr;
}

std::vector<uint8_t> BaselineJpeg(const std::vector<uint8_t>& bgr, int width, int height) {
    tjhandle encoder = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(encoder, bgr.data(), width, 0, height, TJPF_BGR, &jpeg, &size, TJSAMP_422,
                          90, 0),
              0);
    std::vector<uint8_t> bytes(jpeg, jpeg + size);
    tjFree(jpeg);
    tjDestroy(encoder);
    return bytes;
}

// A lossless JPEG (SOF3), which libjpeg-turbo 2 does not decode and FFmpeg does.
std::vector<uint8_t> LosslessJpeg(const std::vector<uint8_t>& bgr, int width, int height) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_LJPEG);
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    std::vector<uint8_t> bytes;
    if (context != nullptr && frame != nullptr && packet != nullptr) {
        context->width = width;
        context->height = height;
        context->pix_fmt = AV_PIX_FMT_BGR24;
        context->time_base = {1, 30};
        frame->format = AV_PIX_FMT_BGR24;
        frame->width = width;
        frame->height = height;
        if (avcodec_open2(context, codec, nullptr) == 0 && av_frame_get_buffer(frame, 0) == 0) {
            for (int y = 0; y < height; ++y)
                std::copy_n(&bgr[static_cast<size_t>(y) * width * 3], width * 3,
                            frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0]);
            if (avcodec_send_frame(context, frame) == 0 &&
                avcodec_receive_packet(context, packet) == 0)
                bytes.assign(packet->data, packet->data + packet->size);
        }
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    return bytes;
}

// Pictures libjpeg-turbo refuses go to FFmpeg's decoder and are counted; a picture cut
// short only warns and is shown. Either way the picture arrives upright, in its colours.
TEST_F(WifiDeviceTest, RefusedPicturesAreDecodedByFfmpegAndCutShortOnesAreShown) {
    constexpr int kWidth = 320, kHeight = 240;
    CamSimProcess camera(CamSimArguments("127.0.0.97", 18097, "320x240"));
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.97", 18097));
    std::vector<VideoFormat> formats;
    CWifiDevice* device = CWifiDevice::Instance();
    ASSERT_EQ(device->Open(formats), 0);
    device->StopDecodeThread();
    CFrameManager* queue = CFrameManager::Instance();
    queue->Clear();

    const std::vector<uint8_t> bgr = QuadrantPicture(kWidth, kHeight);
    const std::vector<uint8_t> lossless = LosslessJpeg(bgr, kWidth, kHeight);
    std::vector<uint8_t> cutShort = BaselineJpeg(bgr, kWidth, kHeight);
    // The top half's data and a little more: the rest of the picture decodes as grey.
    cutShort.resize(cutShort.size() * 2 / 3);
    struct Case {
        const char* name;
        const std::vector<uint8_t>& jpeg;
        uint64_t fallbacks;
        bool wholePicture;
    };
    const Case cases[] = {{"lossless", lossless, 1, true}, {"cut short", cutShort, 1, false}};
    for (const Case& pictureCase : cases) {
        SCOPED_TRACE(pictureCase.name);
        ASSERT_FALSE(pictureCase.jpeg.empty());
        const uint64_t queued = device->GetStatistics().picturesQueued;
        device->DecodePicture(pictureCase.jpeg.data(), pictureCase.jpeg.size());
        EXPECT_EQ(device->GetStatistics().picturesQueued, queued + 1);
        EXPECT_EQ(device->GetStatistics().fallbackDecodes, pictureCase.fallbacks);
        QueuedFrame frame;
        bool owned = false;
        ASSERT_TRUE(queue->TakeFrame(frame, owned));
        const int stride = kWidth * 3;
        const uint8_t* topRow = frame.data + (kHeight - 3) * stride;
        const uint8_t* bottomRow = frame.data + 2 * stride;
        ExpectColour(topRow + 6, camsim::kTopLeftColour, "top left");
        ExpectColour(topRow + stride - 9, camsim::kTopRightColour, "top right");
        if (pictureCase.wholePicture) {
            ExpectColour(bottomRow + 6, camsim::kBottomLeftColour, "bottom left");
            ExpectColour(bottomRow + stride - 9, camsim::kBottomRightColour, "bottom right");
        }
        if (owned) delete[] frame.data;
        queue->Clear();
    }
}

uint32_t LatestCounter(CFrameManager* queue) {
    QueuedFrame frame;
    bool owned = true;
    uint32_t counter = 0;
    while (owned && queue->TakeFrame(frame, owned)) {
        counter =
            camsim::ReadFrameCounter(frame.data, frame.width, frame.height, frame.width * 3, true);
        if (owned) {
            delete[] frame.data;
        }
    }
    return counter;
}

TEST_F(WifiDeviceTest, ReconnectsWhenTheCameraComesBack) {
    auto camera = std::make_unique<CamSimProcess>(CamSimArguments("127.0.0.45", 18045));
    ASSERT_TRUE(camera->Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.45", 18045));
    std::vector<VideoFormat> formats;
    CWifiDevice* device = CWifiDevice::Instance();
    ASSERT_EQ(device->Open(formats), 0);
    CFrameManager* queue = CFrameManager::Instance();
    ASSERT_TRUE(WaitFor([&] { return device->GetStatistics().picturesQueued >= 5; }, 20s));

    camera.reset();
    std::this_thread::sleep_for(1500ms);
    EXPECT_GE(queue->GetCount(), 1) << "the last picture stays for the pin";
    uint32_t lastBeforeLoss = LatestCounter(queue);

    camera = std::make_unique<CamSimProcess>(CamSimArguments("127.0.0.45", 18045));
    ASSERT_TRUE(camera->Ready());
    ASSERT_TRUE(WaitFor([&] { return device->GetStatistics().reconnects >= 1; }, 15s));
    uint64_t queuedAfter = device->GetStatistics().picturesQueued;
    ASSERT_TRUE(
        WaitFor([&] { return device->GetStatistics().picturesQueued > queuedAfter + 3; }, 10s));
    EXPECT_NE(LatestCounter(queue), lastBeforeLoss) << "pictures come from the restarted camera";
}

TEST_F(WifiDeviceTest, ReadThatWaitsTooLongCountsAsALostStream) {
    CamSimProcess camera(CamSimArguments("127.0.0.46", 18046));
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.46", 18046));
    std::vector<VideoFormat> formats;
    CWifiDevice* device = CWifiDevice::Instance();
    ASSERT_EQ(device->Open(formats), 0);
    ASSERT_TRUE(WaitFor([&] { return device->GetStatistics().picturesQueued >= 3; }, 10s));

    camera.Pause();
    std::this_thread::sleep_for(CWifiDevice::kReadTimeout + 1500ms);
    camera.Resume();
    ASSERT_TRUE(WaitFor([&] { return device->GetStatistics().reconnects >= 1; }, 20s));
    uint64_t queuedAfter = device->GetStatistics().picturesQueued;
    EXPECT_TRUE(
        WaitFor([&] { return device->GetStatistics().picturesQueued > queuedAfter + 3; }, 10s));
}

TEST_F(WifiDeviceTest, DestructionDoesNotWaitForABlockedRead) {
    CamSimProcess camera(CamSimArguments("127.0.0.47", 18047));
    ASSERT_TRUE(camera.Ready());
    ASSERT_TRUE(store_.PointCameraAt("127.0.0.47", 18047));
    std::vector<VideoFormat> formats;
    ASSERT_EQ(CWifiDevice::Instance()->Open(formats), 0);
    ASSERT_TRUE(WaitFor([&] { return CFrameManager::Instance()->GetCount() >= 1; }, 10s));

    camera.Pause();
    std::this_thread::sleep_for(300ms);
    auto started = std::chrono::steady_clock::now();
    CWifiDevice::Destroy();
    // Well below the read time-out: stopping aborted the read instead of waiting it out.
    EXPECT_LT(std::chrono::steady_clock::now() - started, CWifiDevice::kReadTimeout - 1s);
    camera.Resume();
}

}  // namespace
