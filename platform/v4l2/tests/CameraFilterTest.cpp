#include "platform/v4l2/CameraFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/v4l2/tests/FakeCameras.h"
#include "platform/v4l2/tests/GraphTestSupport.h"

namespace v4l2 {
namespace {

using testing::BuildGraph;
using testing::Create;
using testing::FakeDeviceSystem;
using testing::FrameCounter;
using testing::NameAndPath;
using testing::PrivateStore;
using Graph = support::GrabberGraph;

class CameraFilterTest : public ::testing::Test {
protected:
    void SetUp() override { previous_ = SetDeviceSystem(&system_); }
    void TearDown() override { SetDeviceSystem(previous_); }

    CComPtr<IBaseFilter> MakeFilter(const std::string& node) {
        CComPtr<IBaseFilter> filter;
        EXPECT_EQ(CCameraFilter::Create(system_, node, &filter), S_OK);
        return filter;
    }

    FakeDeviceSystem system_;
    IDeviceSystem* previous_ = nullptr;
    PrivateStore store_{"skelvane-v4l2"};
};

// The system device enumerator lists the cameras with their names and bus paths, and binds
// each to its filter.
TEST_F(CameraFilterTest, CamerasAppearInTheVideoInputCategory) {
    InstallCameraProvider();
    auto devices = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    CComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    std::vector<std::pair<std::string, std::string>> listed;
    CComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK) {
        listed.push_back(NameAndPath(moniker));
        CComPtr<IBaseFilter> filter;
        EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                        reinterpret_cast<void**>(&filter)),
                  S_OK);
        moniker.Release();
    }
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"vivid", "v4l2#platform:vivid-000"},
        {"USB2.0 PC CAMERA", "usb#vid_0c45&pid_6340&mi_00#usb-0000:00:14.0-1"},
        {"HD Pro Webcam C920", "usb#vid_046d&pid_082d&mi_00#usb-0000:00:14.0-2"},
        {"Busy Cam", "usb#vid_1e4e&pid_0102&mi_00#usb-0000:00:14.0-3"},
        {"Integrated Webcam", "usb#vid_0bda&pid_58c2&mi_00#usb-0000:00:14.0-5"},
    };
    EXPECT_EQ(listed, expected);
}

// The pins report their categories and offer the camera's sizes as RGB24 formats.
TEST_F(CameraFilterTest, PinsOfferTheCameraSizesAsRgb24) {
    auto camera = MakeFilter("/dev/video0");
    auto builder =
        Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
    ASSERT_EQ(graph->AddFilter(camera, L"Capture Filter"), S_OK);

    CComPtr<IAMStreamConfig> config;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, camera, IID_IAMStreamConfig,
                                     reinterpret_cast<void**>(&config)),
              S_OK);
    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(size, 128);
    const std::pair<LONG, LONG> sizes[] = {{640, 480}, {1280, 720}, {1920, 1080}};
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        BYTE caps[128];
        ASSERT_EQ(config->GetStreamCaps(i, &type, caps), S_OK);
        EXPECT_EQ(type->majortype, MEDIATYPE_Video);
        EXPECT_EQ(type->subtype, MEDIASUBTYPE_RGB24);
        ASSERT_EQ(type->formattype, FORMAT_VideoInfo);
        ASSERT_GE(type->cbFormat, 88u);
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
        EXPECT_EQ(info->bmiHeader.biWidth, sizes[i].first);
        EXPECT_EQ(info->bmiHeader.biHeight, sizes[i].second);
        EXPECT_EQ(info->bmiHeader.biBitCount, 24);
        EXPECT_EQ(info->bmiHeader.biSizeImage, DWORD(sizes[i].first * 3 * sizes[i].second));
        EXPECT_EQ(info->AvgTimePerFrame, 333333);
        DeleteMediaType(type);
    }
    AM_MEDIA_TYPE* type = nullptr;
    BYTE caps[128];
    EXPECT_EQ(config->GetStreamCaps(3, &type, caps), S_FALSE);

    // Choosing a size: one of the camera's is taken, another is refused.
    ASSERT_EQ(config->GetStreamCaps(1, &type, caps), S_OK);
    EXPECT_EQ(config->SetFormat(type), S_OK);
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    info->bmiHeader.biWidth = 800;
    info->bmiHeader.biHeight = 600;
    EXPECT_TRUE(FAILED(config->SetFormat(type)));
    DeleteMediaType(type);
    ASSERT_EQ(config->GetFormat(&type), S_OK);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth, 1280);
    DeleteMediaType(type);

    // The still pin is found by its category and follows the capture size.
    CComPtr<IAMStreamConfig> stillConfig;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_STILL, nullptr, camera, IID_IAMStreamConfig,
                                     reinterpret_cast<void**>(&stillConfig)),
              S_OK);
    ASSERT_EQ(stillConfig->GetFormat(&type), S_OK);
    EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader.biWidth, 1280);
    EXPECT_EQ(stillConfig->SetFormat(type), S_OK);
    DeleteMediaType(type);
    ASSERT_EQ(stillConfig->GetStreamCaps(0, &type, caps), S_OK);
    EXPECT_TRUE(FAILED(stillConfig->SetFormat(type)));  // 640 x 480 while capture is 1280 x 720
    DeleteMediaType(type);
}

// Frames reach the grabber at the negotiated size, bottom row first, for each kind of camera.
TEST_F(CameraFilterTest, DeliversConvertedFramesOfTheNegotiatedSize) {
    struct Case {
        const char* node;
        int mode;  // index of the size chosen before connecting
        LONG width, height;
    };
    const Case cases[] = {{"/dev/video0", 1, 1280, 720},  // MJPEG
                          {"/dev/video2", 2, 320, 240},   // MJPEG-only camera
                          {"/dev/video4", 0, 320, 240},   // YUYV
                          {"/dev/video6", 0, 640, 360}};  // NV12
    for (const auto& c : cases) {
        SCOPED_TRACE(c.node);
        auto camera = MakeFilter(c.node);
        FrameCounter counter;
        {
            CComPtr<IAMStreamConfig> config;
            CComPtr<IEnumPins> pins;
            ASSERT_EQ(camera->EnumPins(&pins), S_OK);
            CComPtr<IPin> pin;
            ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
            ASSERT_EQ(pin.QueryInterface(IID_IAMStreamConfig, &config), S_OK);
            AM_MEDIA_TYPE* type = nullptr;
            BYTE caps[128];
            ASSERT_EQ(config->GetStreamCaps(c.mode, &type, caps), S_OK);
            ASSERT_EQ(config->SetFormat(type), S_OK);
            DeleteMediaType(type);
        }
        Graph g = BuildGraph(camera, counter);
        CComPtr<ISampleGrabber> grabber;
        ASSERT_EQ(g.grabber.QueryInterface(IID_ISampleGrabber, &grabber), S_OK);
        AM_MEDIA_TYPE connected{};
        ASSERT_EQ(grabber->GetConnectedMediaType(&connected), S_OK);
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(connected.pbFormat);
        EXPECT_EQ(info->bmiHeader.biWidth, c.width);
        EXPECT_EQ(info->bmiHeader.biHeight, c.height);
        FreeMediaType(connected);

        ASSERT_EQ(g.control->Run(), S_OK);
        ASSERT_TRUE(counter.WaitFrames(3));
        EXPECT_EQ(g.control->Stop(), S_OK);
        const std::vector<BYTE> last = counter.Last();
        ASSERT_EQ(last.size(), size_t(c.width * 3 * c.height));
        EXPECT_NEAR(last[0], testing::kBottomColour[0], 10);  // first bytes: bottom row
        EXPECT_NEAR(last[last.size() - 1], testing::kTopColour[2], 10);
    }
}

// Run, stop and run again streams again; a camera in use by another program makes Run fail.
TEST_F(CameraFilterTest, RunsAgainAfterStopAndFailsOnABusyDevice) {
    auto camera = MakeFilter("/dev/video4");
    FrameCounter counter;
    Graph g = BuildGraph(camera, counter);
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(counter.WaitFrames(2));
    ASSERT_EQ(g.control->Stop(), S_OK);
    int stopped = counter.Frames();
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(counter.WaitFrames(stopped + 2));
    ASSERT_EQ(g.control->Stop(), S_OK);

    auto busy = MakeFilter("/dev/video3");
    FrameCounter busyCounter;
    Graph busyGraph = BuildGraph(busy, busyCounter);
    EXPECT_EQ(busyGraph.control->Run(), HRESULT_FROM_WIN32(170));
    busyGraph.control->Stop();
    EXPECT_EQ(busyCounter.Frames(), 0);
}

// An unplugged camera ends its stream; the graph still stops.
TEST_F(CameraFilterTest, UnpluggedCameraEndsTheStream) {
    auto camera = MakeFilter("/dev/video4");
    FrameCounter counter;
    Graph g = BuildGraph(camera, counter);
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(counter.WaitFrames(1));
    system_.Unplug("/dev/video4");
    EXPECT_EQ(g.control->Stop(), S_OK);
}

// The snapshot button and the still trigger each deliver one frame on the still pin.
TEST_F(CameraFilterTest, SnapshotsReachTheStillPin) {
    auto camera = MakeFilter("/dev/video4");
    FrameCounter preview, still;
    Graph g = BuildGraph(camera, preview, &still);
    ASSERT_EQ(g.control->Run(), S_OK);
    ASSERT_TRUE(preview.WaitFrames(1));
    EXPECT_EQ(still.Frames(), 0);
    system_.PressButton("/dev/video4");
    ASSERT_TRUE(still.WaitFrames(1));

    CComPtr<IAMVideoControl> videoControl;
    ASSERT_EQ(camera.QueryInterface(IID_IAMVideoControl, &videoControl), S_OK);
    CComPtr<IPin> stillPin;
    ASSERT_EQ(g.builder->FindPin(camera, PINDIR_OUTPUT, &PIN_CATEGORY_STILL, nullptr, FALSE, 0,
                                 &stillPin),
              S_OK);
    long caps = 0;
    ASSERT_EQ(videoControl->GetCaps(stillPin, &caps), S_OK);
    EXPECT_TRUE(caps & VideoControlFlag_Trigger);
    ASSERT_EQ(videoControl->SetMode(stillPin, VideoControlFlag_Trigger), S_OK);
    ASSERT_TRUE(still.WaitFrames(2));
    ASSERT_EQ(g.control->Stop(), S_OK);
    const std::vector<BYTE> last = still.Last();
    ASSERT_EQ(last.size(), size_t(320 * 3 * 240));
    EXPECT_NEAR(last[0], testing::kBottomColour[0], 10);
}

// The button's thread reads the still mode and the still pin's connection while the
// program changes both; ThreadSanitizer reports any of them left unguarded.
TEST_F(CameraFilterTest, ButtonPressesMeanwhileTheStillPinIsReconfigured) {
    auto camera = MakeFilter("/dev/video4");
    CComPtr<IAMVideoControl> videoControl;
    ASSERT_EQ(camera.QueryInterface(IID_IAMVideoControl, &videoControl), S_OK);
    CComPtr<IPin> stillPin;
    ASSERT_EQ(camera->FindPin(L"Still", &stillPin), S_OK);
    std::atomic<bool> pressing{true};
    std::thread presser([&] {
        while (pressing) {
            system_.PressButton("/dev/video4");
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    for (int round = 0; round < 10; ++round) {
        FrameCounter preview, still;
        Graph g = BuildGraph(camera, preview, &still);
        const long mode = round % 2 ? long{VideoControlFlag_ExternalTriggerEnable} : 0L;
        EXPECT_EQ(videoControl->SetMode(stillPin, mode), S_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }  // each graph takes its connections along
    pressing = false;
    presser.join();
}

TEST_F(CameraFilterTest, OffersTheCameraControls) {
    auto camera = MakeFilter("/dev/video0");
    CComPtr<ISpecifyPropertyPages> pages;
    ASSERT_EQ(camera.QueryInterface(IID_ISpecifyPropertyPages, &pages), S_OK);
    CAUUID list{};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    ASSERT_EQ(list.cElems, 1u);
    EXPECT_EQ(list.pElems[0], CLSID_CameraControlsPage);
    CoTaskMemFree(list.pElems);

    CComPtr<ICameraControls> controls;
    ASSERT_EQ(camera.QueryInterface(IID_ICameraControls, &controls), S_OK);
    std::vector<ControlInfo> infos;
    ASSERT_EQ(controls->GetControls(&infos), S_OK);
    ASSERT_EQ(infos.size(), 3u);
    int32_t value = 0;
    ASSERT_EQ(controls->GetValue(V4L2_CID_BRIGHTNESS, &value), S_OK);
    EXPECT_EQ(value, 128);
    EXPECT_EQ(controls->SetValue(V4L2_CID_BRIGHTNESS, 200), S_OK);
    EXPECT_EQ(system_.ControlValue("/dev/video0", V4L2_CID_BRIGHTNESS), 200);
    EXPECT_EQ(controls->SetValue(V4L2_CID_BRIGHTNESS, 300), E_INVALIDARG);
    EXPECT_EQ(controls->GetValue(0x12345, &value), E_INVALIDARG);
}

// A node that cannot be opened, or offers nothing usable, gives no filter.
TEST_F(CameraFilterTest, NoFilterForMissingOrUnusableNodes) {
    CComPtr<IBaseFilter> filter;
    EXPECT_TRUE(FAILED(CCameraFilter::Create(system_, "/dev/video99", &filter)));
    EXPECT_TRUE(FAILED(CCameraFilter::Create(system_, "/dev/video1", &filter)));  // metadata
    EXPECT_EQ(filter.p, nullptr);
}

}  // namespace
}  // namespace v4l2
