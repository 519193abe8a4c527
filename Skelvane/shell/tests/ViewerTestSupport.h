// The main window under test: a private store with the shipped default tree, a private
// home and saving folder, recorded message boxes, an injected wall clock and cameras
// replayed from recorded answers.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "Skelvane/browser/ResourceWindow.h"
#include "Skelvane/capture/PreviewWindow.h"
#include "Skelvane/capture/RotateSampleImp.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "Skelvane/settings/tests/ProductStoreTest.h"
#include "Skelvane/shell/MainViewerDlg.h"
#include "platform/registry/Registry.h"
#include "platform/sys/Sys.h"
#include "platform/v4l2/CameraFilter.h"
#include "platform/v4l2/tests/FakeCameras.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/TestApplication.h"

namespace viewertest {

namespace fs = std::filesystem;

// Records every box with whether a main window was on screen when it came; answers as told.
class BoxRecorder : public support::RecordingPresenter {
public:
    int Present(const std::string& text, const std::string& caption, unsigned style) override {
        // One lock around both records keeps them in the same order.
        std::lock_guard<std::mutex> lock(mutex_);
        bool windowShown = false;
        for (QWidget* widget : QApplication::topLevelWidgets())
            windowShown = windowShown ||
                          (qobject_cast<CMainViewerDlg*>(widget) != nullptr && widget->isVisible());
        shownOverWindow_.push_back(windowShown);
        return RecordingPresenter::Present(text, caption, style);
    }
    // Each box as "caption|text|style".
    std::vector<std::string> Asked() const {
        std::vector<std::string> asked;
        for (const Box& box : Boxes())
            asked.push_back(box.caption + "|" + box.text + "|" + std::to_string(box.style));
        return asked;
    }
    std::vector<bool> ShownOverWindow() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return shownOverWindow_;
    }
    void Clear() override {
        std::lock_guard<std::mutex> lock(mutex_);
        shownOverWindow_.clear();
        RecordingPresenter::Clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<bool> shownOverWindow_;
};

// Processes events until `condition` holds or 10 s passed.
inline bool WaitUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return condition();
}

// Where the media column shows a stored file: true once `path` is the last entry of the
// strip and its folder `folderName` is selected in the tree.
inline bool RevealedAtTheEnd(CMainViewerDlg& window, const std::filesystem::path& path,
                             const QString& folderName) {
    CMediaFolderModel& strip = window.MediaListPane()->Dialog()->Model();
    const size_t count = strip.GetFileCount();
    QTreeWidgetItem* selected = window.RecentPane()->Tree()->currentItem();
    return count > 0 && strip.GetItemPath(count - 1) == path.string() && selected != nullptr &&
           selected->text(0) == folderName;
}

// Lets posted events run for a moment.
inline void Settle() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}


// A USB camera of the listed vendor (0c45) or of another one, offering YUYV sizes.
inline v4l2::testing::FakeCamera Camera(const std::string& node, const std::string& card,
                                        const std::string& busInfo, uint16_t vendor) {
    v4l2::testing::FakeCamera camera;
    camera.node = node;
    camera.card = card;
    camera.busInfo = busInfo;
    camera.usb = v4l2::UsbIdentity{vendor, 0x6340, 0, ""};
    camera.formats = {{V4L2_PIX_FMT_YUYV, {{320, 240, 30}, {640, 480, 30}}}};
    return camera;
}
inline v4l2::testing::FakeCamera VendorCamera() {
    return Camera("/dev/video0", "Vendor Camera", "usb-0000:00:14.0-1", 0x0c45);
}
inline v4l2::testing::FakeCamera OtherCamera() {
    return Camera("/dev/video2", "Other Camera", "usb-0000:00:14.0-2", 0x046d);
}

class ViewerTest : public support::ProductStoreTest {
protected:
    static void SetUpTestSuite() {
        StartTestApplication();
        CPreviewWindow::InstallDisplayHost();
        v4l2::InstallCameraProvider();
    }
    static void TearDownTestSuite() { StopTestApplication(); }

    void SetUp() override {
        support::ProductStoreTest::SetUp();
        previousClocks_ = sys::SetClockSource({[this] { return nowMs_.load(); }, {}, {}});
        // The wireless camera, should any test list it, is looked for on this machine only.
        ProvisionStore(
            "[HKEY_CURRENT_USER\\software\\Skelvane\\default\\system]\n"
            "\"wifideviceip\"=dword:7f00005a\n");
    }

    void TearDown() override {
        support::ProductStoreTest::TearDown();
        sys::SetClockSource(previousClocks_);
        if (previousSystem_ != nullptr) v4l2::SetDeviceSystem(previousSystem_);
    }

    void ResetSingletons() override {
        support::ProductStoreTest::ResetSingletons();
        RotateSampleImp::Destroy();
    }

    // Registers the wireless camera's module from the build tree in the private store.
    static void RegisterWirelessModule() {
        void* module = dlopen((std::string(SKELVANE_BIN_DIR) + "/libStravo.so").c_str(), RTLD_NOW);
        ASSERT_NE(module, nullptr) << dlerror();
        auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
        ASSERT_NE(registerServer, nullptr);
        ASSERT_EQ(registerServer(), S_OK);
        dlclose(module);
    }

    // Replaces the attached cameras; the earlier sets stay alive for graphs still using them.
    void Attach(std::vector<v4l2::testing::FakeCamera> cameras) {
        systems_.push_back(std::make_unique<v4l2::testing::FakeDeviceSystem>(std::move(cameras)));
        v4l2::IDeviceSystem* previous = v4l2::SetDeviceSystem(systems_.back().get());
        if (previousSystem_ == nullptr) previousSystem_ = previous;
    }
    // Unplugs `node` from the current set and attaches `remaining`.
    void Unplug(const std::string& node, std::vector<v4l2::testing::FakeCamera> remaining) {
        systems_.back()->Unplug(node);
        Attach(std::move(remaining));
    }

    // A shown window that previews the vendor camera at 640 x 480.
    std::unique_ptr<CMainViewerDlg> PreviewingWindow() {
        Attach({VendorCamera()});
        auto window = std::make_unique<CMainViewerDlg>("Skelvane");
        window->show();
        EXPECT_TRUE(WaitUntil([&] { return window->IsPreviewing(); }));
        return window;
    }

    static std::vector<bool> CommandButtonsEnabled(const CMainViewerDlg& window) {
        std::vector<bool> enabled;
        for (int id : {kIdTakePhoto, kIdTimedShot, kIdRecord, kIdSettings, kIdAbout})
            enabled.push_back(window.Control(id)->isEnabled());
        return enabled;
    }
    static std::string Hint(const CMainViewerDlg& window) {
        return static_cast<QLabel*>(window.Control(kIdHintLine))->text().toStdString();
    }
    static QPoint CentreOf(const CMainViewerDlg& window, int id) {
        return window.Control(id)->geometry().center();
    }
    static std::string Localized(const char* key) { return GetLocalizedString(key, "?"); }

    fs::path MediaRoot() const { return Saving() / "Skelvane"; }

    support::ScopedPresenter<BoxRecorder> boxes_;
    std::atomic<int64_t> nowMs_{1460000000000};

private:
    sys::ClockSource previousClocks_;
    std::vector<std::unique_ptr<v4l2::testing::FakeDeviceSystem>> systems_;
    v4l2::IDeviceSystem* previousSystem_ = nullptr;
};

}  // namespace viewertest
