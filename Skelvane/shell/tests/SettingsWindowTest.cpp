#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include "Skelvane/settings/AboutDlg.h"
#include "Skelvane/settings/SettingDlg.h"
#include "Skelvane/shell/tests/ViewerTestSupport.h"
#include "Skelvane/widgets/IPAddressCtrl.h"
#include "common/CRegistry.h"
#include "tools/camsim/CamSimProcess.h"

namespace viewertest {
namespace {

class SettingsWindowTest : public ViewerTest {
protected:
    // A window without cameras whose no-camera box has come and gone.
    std::unique_ptr<CMainViewerDlg> WindowWithoutCamera() {
        Attach({});
        auto window = std::make_unique<CMainViewerDlg>("Skelvane");
        window->show();
        EXPECT_TRUE(WaitUntil([&] { return !boxes_->Texts().empty(); }));
        boxes_->Clear();
        return window;
    }
};

QComboBox* List(CSettingDlg& dialog, int id) {
    return static_cast<QComboBox*>(dialog.Control(id));
}
void Click(CSettingDlg& dialog, int id) {
    static_cast<QPushButton*>(dialog.Control(id))->click();
}
// The user picks an item, as the list reports it.
void Choose(CSettingDlg& dialog, int id, int position) {
    List(dialog, id)->setCurrentIndex(position);
    emit List(dialog, id)->activated(position);
}
std::vector<std::string> Items(CSettingDlg& dialog, int id) {
    std::vector<std::string> items;
    for (int i = 0; i < List(dialog, id)->count(); ++i)
        items.push_back(List(dialog, id)->itemText(i).toStdString());
    return items;
}

// Presses the settings button and runs `drive` on the open dialog, which `drive` ends.
void RunSettings(CMainViewerDlg& window, const std::function<void(CSettingDlg&)>& drive) {
    bool driven = false;
    QTimer::singleShot(0, &window, [&] {
        CSettingDlg* dialog = window.SettingDialog();
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        driven = true;
        drive(*dialog);
    });
    static_cast<QPushButton*>(window.Control(kIdSettings))->click();
    EXPECT_TRUE(driven);
    EXPECT_EQ(window.SettingDialog(), nullptr);
}

TEST_F(SettingsWindowTest, ApplyingChineseRetextsTheWindow) {
    auto window = WindowWithoutCamera();
    EXPECT_EQ(window->windowTitle(), "Default View");
    RunSettings(*window, [](CSettingDlg& dialog) {
        List(dialog, kIdLanguageList)->setCurrentIndex(1);
        Click(dialog, kIdApply);
    });
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().language, 1);
    EXPECT_EQ(window->windowTitle(), "默认视图");
    EXPECT_EQ(window->Control(kIdSettings)->toolTip(), "设置");
    EXPECT_TRUE(boxes_->Texts().empty());

    // Undo changes nothing, not even the texts.
    RunSettings(*window, [](CSettingDlg& dialog) {
        List(dialog, kIdLanguageList)->setCurrentIndex(0);
        Click(dialog, kIdUndo);
    });
    EXPECT_EQ(window->windowTitle(), "默认视图");
}

TEST_F(SettingsWindowTest, ADeviceChosenInTheDialogIsPreviewedAndOkStoresIt) {
    Attach({VendorCamera(), OtherCamera()});
    CMainViewerDlg window("Skelvane");
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return window.IsPreviewing(); }));
    const std::string vendor = window.DeviceIdentity();
    std::vector<std::string> devices, sizes;
    RunSettings(window, [&](CSettingDlg& dialog) {
        devices = Items(dialog, kIdDeviceList);
        Choose(dialog, kIdDeviceList, 1);
        // The sizes come back with the window's preview-started event.
        EXPECT_TRUE(WaitUntil([&] { return List(dialog, kIdResolutionList)->count() > 0; }));
        sizes = Items(dialog, kIdResolutionList);
        List(dialog, kIdResolutionList)->setCurrentIndex(0);
        Click(dialog, kIdApply);
    });
    EXPECT_EQ(devices, (std::vector<std::string>{"Vendor Camera", "Other Camera", "wifi device"}));
    EXPECT_EQ(sizes,
              (std::vector<std::string>{"320 X 240", "640 X 480", "1280 X 960 (interpolation)"}));
    EXPECT_NE(window.DeviceIdentity(), vendor);
    const CSettingParam current = CSettingParamManage::Instance()->GetCurrent();
    EXPECT_EQ(current.captureWidth, 320);
    EXPECT_EQ(current.captureHeight, 240);

    CRegistry stored;
    ASSERT_TRUE(stored.Open(HKEY_CURRENT_USER, "Software\\Skelvane", KEY_READ));
    std::string identity;
    uint32_t size = 0, interpolation = 1;
    EXPECT_TRUE(stored.ReadText("indentityofpreviewed", identity));
    EXPECT_EQ(identity, window.DeviceIdentity());
    EXPECT_TRUE(stored.ReadDword("captureresolution", size));
    EXPECT_EQ(size, (320u << 16) | 240u);
    EXPECT_TRUE(stored.ReadDword("interpolation", interpolation));
    EXPECT_EQ(interpolation, 0u);
    EXPECT_TRUE(boxes_->Texts().empty()) << boxes_->Texts()[0];
}

TEST_F(SettingsWindowTest, MoreWithoutACameraSaysSoAndTheDialogComesBack) {
    auto window = WindowWithoutCamera();
    bool shownAgain = false;
    RunSettings(*window, [&](CSettingDlg& dialog) {
        Click(dialog, kIdMore);
        shownAgain = dialog.isVisible();
        Click(dialog, kIdUndo);
    });
    EXPECT_TRUE(shownAgain);
    EXPECT_EQ(boxes_->Texts(), std::vector<std::string>{Localized("ui_alert_no_camera")});
}

TEST_F(SettingsWindowTest, AboutOpensFromTheButtonAndTheWindowMenu) {
    auto window = WindowWithoutCamera();
    QAction* menuItem = nullptr;
    for (QAction* action : window->actions())
        if (action->text() == "关于 Lumivor(&A)...") menuItem = action;
    ASSERT_NE(menuItem, nullptr);
    EXPECT_EQ(window->contextMenuPolicy(), Qt::ActionsContextMenu);
    const std::vector<std::function<void()>> openers = {
        [&] { static_cast<QPushButton*>(window->Control(kIdAbout))->click(); },
        [&] { menuItem->trigger(); }};
    for (const std::function<void()>& open : openers) {
        QString title;
        QTimer::singleShot(0, window.get(), [&] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                auto* about = qobject_cast<CAboutDlg*>(widget);
                if (about == nullptr || !about->isVisible()) continue;
                title = about->windowTitle();
                QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                QApplication::sendEvent(about, &escape);
            }
        });
        open();
        EXPECT_EQ(title, "About");
    }
}

// A port nobody listens on at `address` just now.
int FreePort(const char* address) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    inet_pton(AF_INET, address, &where.sin_addr);
    socklen_t length = sizeof(where);
    int port = -1;
    if (bind(probe, reinterpret_cast<sockaddr*>(&where), length) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&where), &length) == 0)
        port = ntohs(where.sin_port);
    close(probe);
    return port;
}

// The wireless camera through the registered module: Connect stores the simulator's
// address and port before it previews it, and its sizes come without an interpolation mark.
TEST_F(SettingsWindowTest, ConnectPreviewsTheWirelessCameraAndDisconnectStopsIt) {
    const char* address = "127.0.0.117";
    const int port = FreePort(address);
    ASSERT_GT(port, 0);
    CamSimProcess camsim(
        {"--address", address, "--port", std::to_string(port), "--size", "320x240"});
    ASSERT_TRUE(camsim.Ready()) << camsim.ReadyLine();
    void* module = dlopen((std::string(SKELVANE_BIN_DIR) + "/libStravo.so").c_str(), RTLD_NOW);
    ASSERT_NE(module, nullptr) << dlerror();
    auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    dlclose(module);
    auto window = WindowWithoutCamera();

    bool connected = false, previewing = false;
    std::string connectText, disconnectText;
    std::vector<std::string> sizes;
    uint32_t storedAddress = 0, storedPort = 0;
    RunSettings(*window, [&](CSettingDlg& dialog) {
        const int wireless = List(dialog, kIdDeviceList)->count() - 1;
        ASSERT_EQ(Items(dialog, kIdDeviceList), std::vector<std::string>{"wifi device"});
        Choose(dialog, kIdDeviceList, wireless);
        EXPECT_FALSE(window->IsPreviewing());  // nothing starts before Connect
        static_cast<CIPAddressCtrl*>(dialog.Control(kIdWifiAddress))->SetAddress(0x7F000075);
        static_cast<QLineEdit*>(dialog.Control(kIdWifiPort))->setText(QString::number(port));
        Click(dialog, kIdWifiConnect);
        connected = window->DeviceIdentity() == kWifiDeviceIdentity;
        previewing = window->IsPreviewing();
        disconnectText =
            static_cast<QPushButton*>(dialog.Control(kIdWifiConnect))->text().toStdString();
        EXPECT_TRUE(WaitUntil([&] { return List(dialog, kIdResolutionList)->count() > 0; }));
        sizes = Items(dialog, kIdResolutionList);
        CRegistry stored;
        EXPECT_TRUE(stored.Open(HKEY_CURRENT_USER, "software\\Skelvane\\using\\system", KEY_READ));
        stored.ReadDword("wifideviceip", storedAddress);
        stored.ReadDword("wifideviceport", storedPort);
        Click(dialog, kIdWifiConnect);
        connectText =
            static_cast<QPushButton*>(dialog.Control(kIdWifiConnect))->text().toStdString();
        Click(dialog, kIdUndo);
    });
    EXPECT_TRUE(connected) << ::testing::PrintToString(boxes_->Texts());
    EXPECT_TRUE(previewing);
    EXPECT_EQ(disconnectText, "Disconnect");
    // The camera's own size and the doubled one, neither marked as interpolation.
    EXPECT_EQ(sizes, (std::vector<std::string>{"320 X 240", "640 X 480"}));
    EXPECT_EQ(storedAddress, 0x7F000075u);
    EXPECT_EQ(storedPort, static_cast<uint32_t>(port));
    EXPECT_EQ(connectText, "Connect");
    EXPECT_FALSE(window->IsPreviewing());
    EXPECT_TRUE(boxes_->Texts().empty()) << boxes_->Texts()[0];
}

}  // namespace
}  // namespace viewertest
