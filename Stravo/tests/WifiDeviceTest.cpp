#include <gtest/gtest.h>

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
