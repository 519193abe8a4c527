#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>

#include <QEvent>
#include <filesystem>
#include "tests/support/TestApplication.h"

#include "Skelvane/capture/PreviewGeometry.h"
#include "Skelvane/capture/PreviewWindow.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

TEST(FitPreviewHostTest, KeepsTheAspectRatioCentred) {
    const struct {
        int paneWidth, paneHeight, captureWidth, captureHeight;
        HostRect expected;
    } cases[] = {
        {1000, 600, 640, 480, {100, 0, 800, 600}},
        {640, 800, 640, 480, {0, 160, 640, 480}},
        {640, 480, 640, 480, {0, 0, 640, 480}},
        {1001, 601, 1280, 720, {0, 19, 1001, 563}},
        {500, 400, 0, 0, {0, 0, 500, 400}},  // no capture size yet: the whole pane
        {0, 0, 640, 480, {0, 0, 0, 0}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FitPreviewHost(c.paneWidth, c.paneHeight, c.captureWidth, c.captureHeight),
                  c.expected)
            << c.paneWidth << "x" << c.paneHeight;
}

class EventCounter : public QWidget {
public:
    bool event(QEvent* e) override {
        if (e->type() == static_cast<QEvent::Type>(UM_FIT_VIDEO)) ++fits;
        return QWidget::event(e);
    }
    int fits = 0;
};

class PreviewWindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartTestApplication();
        CPreviewWindow::InstallDisplayHost();
    }
    static void TearDownTestSuite() { StopTestApplication(); }
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("skelvane-preview-" + std::to_string(::getpid()));
        registry::SetStoreFolders(root_.string(), "");
        CSettingParamManage::Destroy();
        CSettingParamManage::Instance()->SetCurrentCapture(640, 480, false);
    }
    void TearDown() override {
        CSettingParamManage::Destroy();
        fs::remove_all(root_);
    }
    fs::path root_;
};

TEST_F(PreviewWindowTest, ResizingRefitsTheHostAndTellsTheMainWindow) {
    EventCounter mainWindow;
    auto* pane = new CPreviewWindow(&mainWindow);
    mainWindow.show();
    pane->resize(1000, 600);
    EXPECT_EQ(pane->PreviewHost()->geometry(), QRect(100, 0, 800, 600));
    EXPECT_GE(mainWindow.fits, 1);
    const int fits = mainWindow.fits;

    CSettingParamManage::Instance()->SetCurrentCapture(1280, 720, false);
    pane->RefitHost();
    EXPECT_EQ(pane->PreviewHost()->geometry(), QRect(0, 19, 1000, 562));
    EXPECT_EQ(mainWindow.fits, fits);  // a refit alone tells nobody
}

TEST_F(PreviewWindowTest, FramesAreDrawnTheRightWayUp) {
    CPreviewWindow pane;
    pane.resize(640, 480);
    std::shared_ptr<IVideoDisplayHost> host = SetVideoDisplayHost(nullptr);
    SetVideoDisplayHost(host);
    EXPECT_EQ(host->CreateSurface(reinterpret_cast<OAHWND>(&pane)), nullptr);  // not a host
    std::shared_ptr<IVideoDisplaySurface> surface = host->CreateSurface(pane.HostHandle());
    ASSERT_NE(surface, nullptr);
    surface->SetGeometry(0, 0, 640, 480);
    surface->SetVisible(true);
    pane.show();

    // 8 x 6 frame, bottom row first: the lower half blue, the upper half red.
    const long width = 8, height = 6, stride = 24;
    std::vector<BYTE> frame(stride * height);
    for (long row = 0; row < height; ++row)
        for (long x = 0; x < width; ++x) {
            BYTE* pixel = &frame[row * stride + x * 3];
            const bool lowerHalf = row < height / 2;
            pixel[0] = lowerHalf ? 255 : 0;  // blue
            pixel[2] = lowerHalf ? 0 : 255;  // red
        }
    surface->ShowFrame(frame.data(), width, height, stride);
    QCoreApplication::processEvents();

    auto* view = pane.PreviewHost()->findChild<CVideoView*>();
    ASSERT_NE(view, nullptr);
    const QImage shown = view->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(320, 40)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(shown.pixel(320, 440)), QColor(0, 0, 255));
}

}  // namespace

#include <linux/videodev2.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "Skelvane/capture/CameraSettings.h"
#include "Skelvane/capture/DevicePropertiesDialog.h"
#include "Skelvane/settings/LocalizableString.h"
#include "platform/v4l2/CameraFilter.h"

namespace {

class FakeControls : public ICameraControls {
public:
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT GetControls(std::vector<v4l2::ControlInfo>* controls) override {
        v4l2::ControlInfo brightness;
        brightness.id = V4L2_CID_BRIGHTNESS;
        brightness.type = V4L2_CTRL_TYPE_INTEGER;
        brightness.name = "Brightness";
        brightness.maximum = 255;
        brightness.step = 1;
        brightness.defaultValue = 128;
        v4l2::ControlInfo automatic = brightness;
        automatic.id = V4L2_CID_AUTO_WHITE_BALANCE;
        automatic.type = V4L2_CTRL_TYPE_BOOLEAN;
        automatic.name = "White Balance, Automatic";
        automatic.maximum = 1;
        automatic.defaultValue = 1;
        v4l2::ControlInfo powerLine = brightness;
        powerLine.id = V4L2_CID_POWER_LINE_FREQUENCY;
        powerLine.type = V4L2_CTRL_TYPE_MENU;
        powerLine.name = "Power Line Frequency";
        powerLine.maximum = 2;
        powerLine.defaultValue = 2;
        powerLine.menu = {{0, "Disabled"}, {1, "50 Hz"}, {2, "60 Hz"}};
        *controls = {brightness, automatic, powerLine};
        return S_OK;
    }
    HRESULT GetValue(uint32_t id, int32_t* value) override {
        *value = values[id];
        return S_OK;
    }
    HRESULT SetValue(uint32_t id, int32_t value) override {
        values[id] = value;
        return S_OK;
    }
    HRESULT GetIdentity(std::string* identity) override {
        *identity = "usb#vid_0c45&pid_6340&mi_00#usb-0000:00:14.0-1";
        return S_OK;
    }
    std::map<uint32_t, int32_t> values{{V4L2_CID_BRIGHTNESS, 128},
                                       {V4L2_CID_POWER_LINE_FREQUENCY, 1}};
};

TEST_F(PreviewWindowTest, PropertyDialogShowsAndChangesTheControls) {
    FakeControls controls;
    CDevicePropertiesDialog dialog(&controls);
    EXPECT_EQ(dialog.windowTitle(), "Skelvane");
    auto* brightness = dialog.findChild<QSpinBox*>();
    ASSERT_NE(brightness, nullptr);
    EXPECT_EQ(brightness->value(), 128);
    EXPECT_EQ(brightness->accessibleName(), "Brightness");
    brightness->setValue(200);
    EXPECT_EQ(controls.values[V4L2_CID_BRIGHTNESS], 200);

    auto* automatic = dialog.findChild<QCheckBox*>();
    ASSERT_NE(automatic, nullptr);
    automatic->setChecked(true);
    EXPECT_EQ(controls.values[V4L2_CID_AUTO_WHITE_BALANCE], 1);

    auto* powerLine = dialog.findChild<QComboBox*>();
    ASSERT_NE(powerLine, nullptr);
    EXPECT_EQ(powerLine->currentText(), "50 Hz");
    for (QWidget* widget : dialog.findChildren<QWidget*>()) {
        if (qobject_cast<QSpinBox*>(widget) || qobject_cast<QCheckBox*>(widget) ||
            qobject_cast<QComboBox*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty());
        }
    }
}

// Changes are remembered for the camera when the dialog closes, however it closes; "Camera
// defaults" puts every control back and forgets them.
TEST_F(PreviewWindowTest, PropertyDialogRemembersChangesAndCameraDefaultsForgetsThem) {
    FakeControls controls;
    std::string identity;
    controls.GetIdentity(&identity);
    {
        CDevicePropertiesDialog dialog(&controls);
        dialog.findChild<QSpinBox*>()->setValue(200);
        auto* powerLine = dialog.findChild<QComboBox*>();
        powerLine->setCurrentIndex(0);
        emit powerLine->activated(0);
        EXPECT_EQ(controls.values[V4L2_CID_POWER_LINE_FREQUENCY], 0);
        EXPECT_TRUE(ReadRememberedControls(identity).empty());
        dialog.reject();  // Escape
    }
    EXPECT_EQ(ReadRememberedControls(identity),
              (ControlValues{{V4L2_CID_BRIGHTNESS, 200}, {V4L2_CID_POWER_LINE_FREQUENCY, 0}}));

    CDevicePropertiesDialog dialog(&controls);
    auto* brightness = dialog.findChild<QSpinBox*>();
    EXPECT_EQ(brightness->value(), 200);
    QPushButton* defaults = nullptr;
    for (auto* button : dialog.findChildren<QPushButton*>())
        if (button->accessibleName() == QString::fromStdString(GetLocalizedString(
                                            "ui_property_btn_camera_defaults", "Camera defaults")))
            defaults = button;
    ASSERT_NE(defaults, nullptr);
    defaults->click();
    EXPECT_EQ(controls.values, (std::map<uint32_t, int32_t>{{V4L2_CID_BRIGHTNESS, 128},
                                                            {V4L2_CID_AUTO_WHITE_BALANCE, 1},
                                                            {V4L2_CID_POWER_LINE_FREQUENCY, 2}}));
    EXPECT_EQ(brightness->value(), 128);
    EXPECT_EQ(dialog.findChild<QSlider*>()->value(), 128);
    EXPECT_TRUE(dialog.findChild<QCheckBox*>()->isChecked());
    EXPECT_EQ(dialog.findChild<QComboBox*>()->currentText(), "60 Hz");
    EXPECT_TRUE(ReadRememberedControls(identity).empty());
    dialog.accept();
    EXPECT_TRUE(ReadRememberedControls(identity).empty());
}

}  // namespace
