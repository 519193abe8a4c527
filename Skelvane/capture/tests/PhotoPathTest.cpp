#include <dlfcn.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "Skelvane/capture/CaptureVideo.h"
#include "Skelvane/capture/SampleGrabberCB.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/SettingParam.h"
#include "common/CRegistry.h"
#include "platform/registry/Registry.h"
#include "platform/sys/Sys.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// The main window as the frame callback sees it.
class TestOwner : public ICaptureOwner {
public:
    std::atomic<int32_t>& TakePhoto() override { return takePhoto; }
    std::atomic<int32_t>& TimedShotRunning() override { return timedShotRunning; }
    std::atomic<int32_t>& Recording() override { return recording; }
    int32_t ShotPeriodMs() const override { return 1000; }
    float TimedShotHours() const override { return 1.0f; }
    void PostEvent(int eventNumber) override {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(eventNumber);
    }
    void RevealFile(const std::string& path) override {
        std::lock_guard<std::mutex> lock(mutex);
        revealed.push_back(path);
    }
    std::atomic<int32_t> takePhoto{0}, timedShotRunning{0}, recording{0};
    std::mutex mutex;
    std::vector<int> events;
    std::vector<std::string> revealed;
};

class PhotoPathTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("skelvane-photo-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "Documents");
        setenv("HOME", root_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        CSettingParamManage::Destroy();
        clocks_ = sys::SetClockSource({nullptr, nullptr, [] { return sys::Date{2026, 12, 9}; }});
    }
    void TearDown() override {
        previewGrabberCallback.owner = nullptr;
        sys::SetClockSource(clocks_);
        CSettingParamManage::Destroy();
        fs::remove_all(root_);
    }
    fs::path root_;
    sys::ClockSource clocks_;
};

TEST_F(PhotoPathTest, PhotoRequestSavesOneJpegFromTheNextPreviewFrame) {
    void* module = dlopen(TEST_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    ASSERT_EQ(reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"))(), S_OK);
    dlclose(module);
    {
        CRegistry instance;
        ASSERT_TRUE(
            instance.Open(HKEY_CLASSES_ROOT,
                          "CLSID\\{860BB310-5D01-11d0-BD3B-00A0C911CE86}\\Instance\\test camera",
                          KEY_ALL_ACCESS));
        ASSERT_TRUE(instance.WriteText("DevicePath", "usb#vid_0c45&pid_0001&mi_00#test"));
    }

    TestOwner owner;
    previewGrabberCallback.owner = &owner;
    CCaptureVideo capture;
    ResolutionList resolutions;
    CCaptureVideo::Sinks sinks;
    sinks.resolutions = &resolutions;
    sinks.previewCallback = &previewGrabberCallback;
    sinks.stillCallback = &stillGrabberCallback;
    capture.SetSinks(sinks);
    PreviewRequest request{0, 0, 0, false};
    ASSERT_EQ(capture.BuildGraph(0, 0, request), S_OK);
    CSettingParamManage::Instance()->SetCurrentCapture(request.width, request.height, false);

    ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());  // the take-photo command does this
    owner.takePhoto = 1;
    for (int i = 0; i < 200 && owner.takePhoto.load() != 0; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(200ms);  // more frames pass; none may become a photo
    capture.TearDown();

    EXPECT_EQ(owner.takePhoto.load(), 0);
    EXPECT_EQ(owner.events, std::vector<int>{UM_PHOTO_SAVED});
    const fs::path folder = root_ / "Documents/Skelvane/Single Shots";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].filename(), "S20261209_0001.jpg");
    EXPECT_EQ(owner.revealed, std::vector<std::string>{files[0].string()});

    std::ifstream file(files[0], std::ios::binary);
    std::vector<unsigned char> jpeg((std::istreambuf_iterator<char>(file)), {});
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    EXPECT_EQ(tjDecompressHeader3(decoder, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                                  &width, &height, &subsampling, &colourspace),
              0);
    tjDestroy(decoder);
    EXPECT_EQ(width, 64);
    EXPECT_EQ(height, 48);
}

TEST_F(PhotoPathTest, NoFlagMeansNoWorkAndMissingBytesAreRefusedOnlyWhenAsked) {
    TestOwner owner;
    previewGrabberCallback.owner = &owner;
    previewGrabberCallback.SetFrameSize(64, 48);
    EXPECT_EQ(previewGrabberCallback.BufferCB(0, nullptr, 0), S_OK);
    owner.takePhoto = 1;
    EXPECT_EQ(previewGrabberCallback.BufferCB(0, nullptr, 0), E_POINTER);
    EXPECT_EQ(owner.takePhoto.load(), 1);  // the next frame tries again
    EXPECT_TRUE(owner.events.empty());
    EXPECT_EQ(stillGrabberCallback.BufferCB(0, nullptr, 0), S_OK);
}

}  // namespace
