#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <algorithm>

#include "Skelvane/browser/ResourceWindow.h"
#include "Skelvane/capture/PreviewGeometry.h"
#include "Skelvane/capture/TimeLapseDialog.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/shell/tests/ViewerTestSupport.h"
#include "Skelvane/widgets/CollapsibleSplitter.h"
#include "common/CRegistry.h"
#include "tools/camsim/CamSimProcess.h"
#include "tools/camsim/TestPattern.h"

namespace viewertest {
namespace {

using ViewerDevicesTest = ViewerTest;

const std::vector<bool> kAllEnabled(5, true);
const std::string kNoCamera = "Error,No Camera\tis Detected";
const std::string kNotPreviewable =
    "Couldn't preview this device,because this device may been using by other applicaiton";

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error))
        if (entry.is_regular_file()) files.push_back(entry.path());
    return files;
}

void Post(CMainViewerDlg& window, int event) {
    window.PostEvent(event);
    Settle();
}

TEST_F(ViewerDevicesTest, CommandButtonsFollowTheActivity) {
    auto window = PreviewingWindow();
    CMainViewerDlg& w = *window;
    const struct {
        const char* state;
        std::function<void()> enter;
        std::vector<bool> enabled;  // take photo, timed shot, record, settings, about
        std::function<void()> leave;
    } rows[] = {
        {"previewing", [] {}, kAllEnabled, [] {}},
        {"photo requested",
         [&] { w.OnCommand(kIdTakePhoto); },
         {false, false, false, false, false},
         [&] { ASSERT_TRUE(WaitUntil([&] { return w.Control(kIdAbout)->isEnabled(); })); }},
        {"timed shot",
         [&] { w.OnCommand(kIdTimedShot); },
         {false, true, false, false, false},
         [&] { w.OnCommand(kIdTimedShot); }},
        {"recording",
         [&] { w.OnCommand(kIdRecord); },
         {false, false, true, false, false},
         [&] { w.OnCommand(kIdRecord); }},
        {"timed shot ended by the callback",
         [&] { w.OnCommand(kIdTimedShot); },
         {false, true, false, false, false},
         [&] { Post(w, UM_TIMED_SHOT_END); }},
        {"recording ended by the callback",
         [&] { w.OnCommand(kIdRecord); },
         {false, false, true, false, false},
         [&] { Post(w, UM_STOP_RECORDING); }},
        {"no preview",
         [&] {
             w.StopAll();
             w.ClearPreview();
         },
         kAllEnabled, [] {}},
    };
    for (const auto& row : rows) {
        row.enter();
        EXPECT_EQ(CommandButtonsEnabled(w), row.enabled) << row.state;
        row.leave();
        EXPECT_EQ(CommandButtonsEnabled(w), kAllEnabled) << row.state;
        EXPECT_EQ(w.takePhoto.load() + w.timedShotRunning.load() + w.recording.load(), 0)
            << row.state;
    }
    EXPECT_EQ(FilesIn(MediaRoot() / "Single Shots").size(), 1u);
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(ViewerDevicesTest, ControlChannelPhotoEnablesAllFiveWhateverRuns) {
    auto window = PreviewingWindow();
    window->OnCommand(kIdTimedShot);
    EXPECT_EQ(window->Control(kIdTimedShot)->toolTip(), "Stop Timed Shot");
    window->takePhoto = 1;  // as the control channel asks: no button changes
    EXPECT_EQ(CommandButtonsEnabled(*window),
              (std::vector<bool>{false, true, false, false, false}));
    ASSERT_TRUE(WaitUntil([&] { return CommandButtonsEnabled(*window) == kAllEnabled; }));
    EXPECT_EQ(window->takePhoto.load(), 0);
    EXPECT_EQ(window->timedShotRunning.load(), 1);
    window->OnCommand(kIdRecord);  // a recording can now run beside the timed shot
    EXPECT_EQ(window->recording.load(), 1);
    EXPECT_EQ(window->Control(kIdRecord)->toolTip(), "Stop Recording");

    // A late end request of an ended run changes nothing.
    window->OnCommand(kIdTimedShot);
    window->OnCommand(kIdRecord);
    window->OnCommand(kIdTimedShot);
    Post(*window, UM_STOP_RECORDING);
    EXPECT_EQ(CommandButtonsEnabled(*window),
              (std::vector<bool>{false, true, false, false, false}));
    window->OnCommand(kIdTimedShot);
}

TEST_F(ViewerDevicesTest, TimedShotTakesItsPeriodAndLengthFromTheSettings) {
    auto window = PreviewingWindow();
    const struct {
        int32_t shotsType, shots, timesType, times;
        int32_t periodMs;
        float hours;
    } cases[] = {
        {kUnitMinute, 1, kUnitMinute, 90, 60000, 1.5f},
        {kUnitDay, 300, kUnitHour, 2, 288000, 2.0f},
    };
    for (const auto& c : cases) {
        ChangeSettings([&](CSettingParam& param) {
            param.shotstype = c.shotsType;
            param.shotsvalue = c.shots;
            param.timestype = c.timesType;
            param.timesvalue = c.times;
        });
        window->OnCommand(kIdTimedShot);
        EXPECT_EQ(window->ShotPeriodMs(), c.periodMs);
        EXPECT_EQ(window->TimedShotHours(), c.hours);
        window->OnCommand(kIdTimedShot);
    }
}

// A run that stored pictures offers "Make a movie" of them as it ends (here by the length
// having passed) without holding up the window; the movie made ends the strip in Movies.
TEST_F(ViewerDevicesTest, TheEndOfARunOffersAMovieOfItsPictures) {
    auto window = PreviewingWindow();
    window->OnCommand(kIdTimedShot);
    // A picture at its name: it is written under another and renamed when complete.
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<fs::path> shots = FilesIn(MediaRoot() / "Timed Shots");
        return std::any_of(shots.begin(), shots.end(),
                           [](const fs::path& shot) { return shot.extension() == ".jpg"; });
    }));
    Post(*window, UM_TIMED_SHOT_END);
    EXPECT_EQ(window->timedShotRunning.load(), 0);
    auto* offer = window->findChild<CTimeLapseDialog*>();
    ASSERT_NE(offer, nullptr);
    EXPECT_TRUE(offer->isVisible());
    offer->StartButton()->click();
    ASSERT_TRUE(WaitUntil([&] { return window->findChild<CTimeLapseDialog*>() == nullptr; }));
    const std::vector<fs::path> movies = FilesIn(MediaRoot() / "Movies");
    ASSERT_EQ(movies.size(), 1u);
    EXPECT_EQ(movies[0].extension(), ".avi");
    ASSERT_TRUE(WaitUntil([&] {
        return window->RecentPane()->Tree()->currentItem() != nullptr &&
               window->RecentPane()->Tree()->currentItem()->text(0) == "Movies";
    }));
    EXPECT_TRUE(boxes_->Texts().empty());
}

// The tree's "Make a movie" on a folder that has gone since the tree listed it, and on one
// without a picture: a box each, no dialog.
TEST_F(ViewerDevicesTest, MakeAMovieOfAFolderGoneOrEmptyShowsItsBox) {
    auto window = PreviewingWindow();
    const fs::path timedShots = MediaRoot() / "Timed Shots";
    ASSERT_TRUE(fs::is_directory(timedShots));
    const std::string gone = sys::ErrnoText(ENOENT);
    const struct {
        bool removed;
        std::string box;
    } cases[] = {{false, "There is no picture to make a movie of"},
                 {true, timedShots.string() + gone}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.box);
        if (c.removed) fs::remove_all(timedShots);
        QTreeWidgetItem* top = window->RecentPane()->Tree()->topLevelItem(0);
        QTreeWidgetItem* item = CResourceWindow::FindChildItem(top, "Timed Shots");
        ASSERT_NE(item, nullptr);
        const std::unique_ptr<QMenu> menu(window->RecentPane()->CreateFolderMenu(item));
        ASSERT_EQ(menu->actions().size(), 1);
        const size_t before = boxes_->Texts().size();
        menu->actions()[0]->trigger();
        ASSERT_TRUE(WaitUntil([&] { return boxes_->Texts().size() > before; }));
        EXPECT_EQ(boxes_->Texts().back(), c.box);
        EXPECT_EQ(window->findChild<CTimeLapseDialog*>(), nullptr);
    }
}

TEST_F(ViewerDevicesTest, RecordingRunsAtTheMovieSizeAndRestoresTheCaptureSize) {
    auto window = PreviewingWindow();
    ASSERT_TRUE(window->StartPreview({0, 320, 240, false}));
    ChangeSettings([](CSettingParam& param) { param.movieresolution = 1; });
    window->OnCommand(kIdRecord);
    ASSERT_EQ(window->recording.load(), 1);
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().captureWidth, 640);
    EXPECT_TRUE(window->IsPreviewing());
    Post(*window, UM_STOP_RECORDING);
    EXPECT_EQ(window->recording.load(), 0);
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().captureWidth, 320);
    EXPECT_EQ(window->Control(kIdRecord)->toolTip(), "Start Recording");
}

TEST_F(ViewerDevicesTest, CommandsRefuseWithTheirBoxes) {
    auto window = PreviewingWindow();
    const std::string missing = (root_ / "missing").string();
    const std::string noFolder =
        "Don't exist location of  " + missing + "/Skelvane/Movies in setting,please setting";
    const std::vector<int> capture = {kIdTakePhoto, kIdTimedShot, kIdRecord};
    const struct {
        const char* situation;
        std::function<void()> arrange;
        std::vector<int> commands;
        std::vector<std::string> boxes;
    } cases[] = {
        {"saving folder missing",
         [&] { ChangeSettings([&](CSettingParam& param) { param.SetResourcesPath(missing); }); },
         capture,
         {noFolder, noFolder, noFolder}},
        {"timed-shot counts out of range",
         [&] { ChangeSettings([](CSettingParam& param) { param.shotsvalue = 100000; }); },
         {kIdTimedShot},
         {"Error of time setting to take timed shot"}},
        {"device not previewed",
         [&] { window->ClearPreview(); },
         capture,
         {kNotPreviewable, kNotPreviewable, kNotPreviewable}},
        {"no camera",
         [&] {
             Unplug("/dev/video0", {});
             window->OnDevicesChanged();
         },
         capture,
         {kNoCamera, kNoCamera, kNoCamera}},
        {"no camera in full screen", [&] { window->EnterFullScreen(); }, capture, {}},
    };
    for (const auto& c : cases) {
        const CSettingParam before = CSettingParamManage::Instance()->GetCurrent();
        c.arrange();
        boxes_->Clear();
        for (int id : c.commands) window->OnCommand(id);
        EXPECT_EQ(boxes_->Texts(), c.boxes) << c.situation;
        EXPECT_EQ(
            window->takePhoto.load() + window->timedShotRunning.load() + window->recording.load(),
            0)
            << c.situation;
        EXPECT_EQ(CommandButtonsEnabled(*window), kAllEnabled) << c.situation;
        CSettingParamManage::Instance()->Apply(before);
    }
}

TEST_F(ViewerDevicesTest, WithoutCameraTheBoxComesOnceAfterTheWindowAndAPluggedCameraPreviews) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    Settle();
    EXPECT_TRUE(boxes_->Texts().empty());  // nothing before the window is on screen
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_->Texts().empty(); }));
    Settle();
    EXPECT_EQ(boxes_->Texts(), std::vector<std::string>{kNoCamera});
    EXPECT_EQ(boxes_->ShownOverWindow(), std::vector<bool>{true});
    EXPECT_EQ(CommandButtonsEnabled(window), kAllEnabled);
    window.RefreshHint(QPoint(-1, -1), false);
    EXPECT_EQ(Hint(window), kNoCamera);

    Attach({VendorCamera()});
    window.OnDevicesChanged();
    ASSERT_TRUE(window.IsPreviewing());
    EXPECT_EQ(window.DeviceIdentity(), window.Devices().at(0).devicePath);
    EXPECT_EQ(boxes_->Texts().size(), 1u);
    window.RefreshHint(QPoint(-1, -1), false);
    EXPECT_EQ(Hint(window), "Previewing at 640 X 480");
}

TEST_F(ViewerDevicesTest, UnplugStopsWhatRunsOnlyWhenThePreviewedCameraGoes) {
    Attach({VendorCamera(), OtherCamera()});
    CMainViewerDlg window("Skelvane");
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.IsPreviewing(); }));
    const std::string vendor = window.Devices().at(0).devicePath;
    const std::string other = window.Devices().at(1).devicePath;
    ASSERT_EQ(window.DeviceIdentity(), vendor);  // the listed vendor is chosen

    // Another camera going or coming changes nothing.
    Unplug("/dev/video2", {VendorCamera()});
    window.OnDevicesChanged();
    Attach({VendorCamera(), OtherCamera()});
    window.OnDevicesChanged();
    EXPECT_EQ(window.DeviceIdentity(), vendor);

    window.OnCommand(kIdTimedShot);
    window.takePhoto = 1;
    ASSERT_TRUE(WaitUntil([&] { return window.takePhoto.load() == 0; }));
    window.OnCommand(kIdRecord);
    ASSERT_EQ(window.timedShotRunning.load() + window.recording.load(), 2);

    Unplug("/dev/video0", {OtherCamera()});
    window.OnDevicesChanged();
    EXPECT_EQ(window.timedShotRunning.load() + window.recording.load(), 0);
    EXPECT_EQ(CommandButtonsEnabled(window), kAllEnabled);
    EXPECT_EQ(window.Control(kIdRecord)->toolTip(), "Start Recording");
    EXPECT_EQ(window.DeviceIdentity(), other);  // the remaining camera is previewed

    Unplug("/dev/video2", {});
    window.OnDevicesChanged();
    EXPECT_FALSE(window.IsPreviewing());
    EXPECT_EQ(boxes_->Texts(), std::vector<std::string>{kNoCamera});
}

// The wireless module registered a second time, as a USB camera of the listed vendor,
// previews the simulator without any command; the photo button stores an upright JPEG.
TEST_F(ViewerDevicesTest, SimulatedCameraIsPreviewedUprightAndPhotographed) {
    CamSimProcess camsim({"--address", "127.0.0.90", "--port", "8090", "--size", "320x240"});
    ASSERT_TRUE(camsim.Ready()) << camsim.ReadyLine();
    ChangeSettings([](CSettingParam& param) { param.wifideviceport = 8090; });
    ASSERT_NO_FATAL_FAILURE(RegisterWirelessModule());
    const std::string category = "CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\";
    std::string clsid;
    {
        CRegistry wireless;
        ASSERT_TRUE(wireless.Open(HKEY_CLASSES_ROOT, category + "wifi device", KEY_READ));
        ASSERT_TRUE(wireless.ReadText("CLSID", clsid));
        CRegistry copy;
        ASSERT_TRUE(copy.Create(HKEY_CLASSES_ROOT, category + "simulated camera"));
        ASSERT_TRUE(copy.WriteText("FriendlyName", "simulated camera"));
        ASSERT_TRUE(copy.WriteText("CLSID", clsid));
        ASSERT_TRUE(copy.WriteText("DevicePath", "usb#vid_0c45&pid_6340&mi_00#test"));
    }
    Attach({});
    CMainViewerDlg window("Skelvane");
    window.resize(900, 600);
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.IsPreviewing(); }))
        << ::testing::PrintToString(boxes_->Texts());
    EXPECT_EQ(window.DeviceIdentity(), "usb#vid_0c45&pid_6340&mi_00#test");

    // The picture fills the host at 4:3, centred, top row at the top.
    QWidget* host = window.LivePane()->PreviewHost();
    const QRect pane = window.LivePane()->rect();
    const HostRect fitted = FitPreviewHost(pane.width(), pane.height(), 320, 240);
    EXPECT_EQ(host->geometry(), QRect(fitted.left, fitted.top, fitted.width, fitted.height));
    EXPECT_LE(std::abs(host->geometry().center().x() - pane.center().x()), 1);
    const auto near = [](QRgb pixel, const camsim::Rgb& colour) {
        return std::abs(qRed(pixel) - colour.red) < 60 &&
               std::abs(qGreen(pixel) - colour.green) < 60 &&
               std::abs(qBlue(pixel) - colour.blue) < 60;
    };
    const auto upright = [&](const QImage& picture) {
        const int w = picture.width(), h = picture.height();
        return w > 0 && near(picture.pixel(w / 8, h / 8), camsim::kTopLeftColour) &&
               near(picture.pixel(w * 7 / 8, h / 8), camsim::kTopRightColour) &&
               near(picture.pixel(w / 8, h * 7 / 8), camsim::kBottomLeftColour) &&
               near(picture.pixel(w * 7 / 8, h * 7 / 8), camsim::kBottomRightColour);
    };
    EXPECT_TRUE(WaitUntil([&] { return upright(host->grab().toImage()); }));

    QPushButton* takePhoto = nullptr;
    for (QPushButton* button : window.findChildren<QPushButton*>())
        if (button->accessibleName() == "Take a Photo") takePhoto = button;
    ASSERT_NE(takePhoto, nullptr);
    takePhoto->click();
    EXPECT_EQ(CommandButtonsEnabled(window), std::vector<bool>(5, false));
    window.RefreshHint(QPoint(-1, -1), false);
    EXPECT_EQ(Hint(window), "Taking a photo at 320 X 240");
    ASSERT_TRUE(WaitUntil([&] { return CommandButtonsEnabled(window) == kAllEnabled; }));
    const std::vector<fs::path> photos = FilesIn(MediaRoot() / "Single Shots");
    ASSERT_EQ(photos.size(), 1u);
    EXPECT_EQ(photos[0].extension(), ".jpg");
    EXPECT_TRUE(upright(QImage(QString::fromStdString(photos[0].string()))));

    window.OnCommand(kIdTimedShot);
    EXPECT_EQ(window.timedShotRunning.load(), 1);
    ASSERT_TRUE(WaitUntil([&] { return !FilesIn(MediaRoot() / "Timed Shots").empty(); }));
    window.OnCommand(kIdTimedShot);
    EXPECT_EQ(window.timedShotRunning.load(), 0);
    window.EnterFullScreen();
    EXPECT_TRUE(window.IsFullScreen());
    window.LeaveFullScreen();
    EXPECT_FALSE(window.IsFullScreen());
    EXPECT_TRUE(boxes_->Texts().empty()) << boxes_->Texts()[0];
}

}  // namespace
}  // namespace viewertest
