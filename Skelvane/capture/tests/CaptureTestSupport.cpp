#include "Skelvane/capture/tests/CaptureTestSupport.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>
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
        sys::SetClockSource({[this] { return nowMs_.load(); },
                             {},
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
