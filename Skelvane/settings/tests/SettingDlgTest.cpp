#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>
#include <vector>

#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/settings/SettingDlg.h"
#include "Skelvane/settings/tests/DialogTestSupport.h"
#include "Skelvane/widgets/IPAddressCtrl.h"

namespace dialogtest {
namespace {

class SettingDlgTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        ProvisionStore();
        owner_.devices = {{0, {"Vendor Camera", "usb#vid_0c45&pid_6340&mi_00#a"}},
                          {1, {"Other Camera", "usb#vid_046d&pid_0825&mi_00#b"}}};
        owner_.identity = owner_.devices[0].devicePath;
        owner_.resolutions = {{ResolutionKey(320, 240), {320, 240, false}},
                              {ResolutionKey(640, 480), {640, 480, false}},
                              {ResolutionKey(1280, 960), {1280, 960, true}}};
        CSettingParamManage::Instance()->SetCurrentCapture(640, 480, false);
    }

    static QString Text(const CSettingDlg& dialog, int id) {
        QWidget* control = dialog.Control(id);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
        if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
        if (auto* list = qobject_cast<QComboBox*>(control)) return list->currentText();
        if (auto* group = qobject_cast<QGroupBox*>(control)) return group->title();
        return static_cast<QLabel*>(control)->text();
    }
    static void Type(const CSettingDlg& dialog, int id, const QString& text) {
        static_cast<QLineEdit*>(dialog.Control(id))->setText(text);
    }
    static void Click(const CSettingDlg& dialog, int id) {
        static_cast<QAbstractButton*>(dialog.Control(id))->click();
    }
    static QComboBox* List(const CSettingDlg& dialog, int id) {
        return static_cast<QComboBox*>(dialog.Control(id));
    }
    // The user picks an item, as the list reports it.
    static void Choose(const CSettingDlg& dialog, int id, int position) {
        QComboBox* list = List(dialog, id);
        list->setCurrentIndex(position);
        emit list->activated(position);
    }
    static std::vector<QString> Items(const CSettingDlg& dialog, int id) {
        std::vector<QString> items;
        for (int i = 0; i < List(dialog, id)->count(); ++i)
            items.push_back(List(dialog, id)->itemText(i));
        return items;
    }

    TestOwner owner_;
};

TEST_F(SettingDlgTest, ApplyChecksInOrderShowsTheirTextsAndRestoresTheDefaults) {
    const std::string timed = "Error of time setting to take timed shot";
    const std::string size = "Error to set maximum file size of recording movie";
    const std::string port = "Wifi port is incorrect;out of range.";
    const std::string missing = (root_ / "missing").string();
    const struct {
        const char* name;
        std::vector<std::pair<int, QString>> typed;
        std::string box;  // empty: the settings are applied
        std::vector<std::pair<int, QString>> shown;
    } cases[] = {
        {"count 60", {{kIdShotCount, "60"}, {kIdTimesCount, "300"}}, "", {}},
        {"count 060",
         {{kIdShotCount, "060"}, {kIdTimesCount, "7"}},
         timed,
         {{kIdShotCount, "1"}, {kIdTimesCount, "7"}}},
        {"duration 0 and count 301",
         {{kIdShotCount, "301"}, {kIdTimesCount, "0"}},
         timed,
         {{kIdShotCount, "1"}, {kIdTimesCount, "1"}}},
        {"count of letters", {{kIdShotCount, "abc"}}, timed, {{kIdShotCount, "1"}}},
        {"size 16", {{kIdMovieSizeMax, "16"}}, "", {}},
        {"size 4096", {{kIdMovieSizeMax, "4096"}}, "", {}},
        {"size 15", {{kIdMovieSizeMax, "15"}}, size, {{kIdMovieSizeMax, "16"}}},
        {"size 4097", {{kIdMovieSizeMax, "4097"}}, size, {{kIdMovieSizeMax, "16"}}},
        {"size with a leading space", {{kIdMovieSizeMax, " 20"}}, size, {{kIdMovieSizeMax, "16"}}},
        {"port of letters", {{kIdWifiPort, "abc"}}, "", {}},
        {"port 65535", {{kIdWifiPort, "65535"}}, "", {}},
        {"port -1", {{kIdWifiPort, "-1"}}, port, {{kIdWifiPort, "8080"}}},
        {"port 65536", {{kIdWifiPort, "65536"}}, port, {{kIdWifiPort, "8080"}}},
        {"missing folder",
         {{kIdSavingFolder, QString::fromStdString(missing)}},
         "Don't exist location of  " + missing + " in setting,please setting",
         {{kIdSavingFolder, QString::fromStdString(root_ / "home/Documents")}}},
        // The first failing check ends the Apply; later entries stay as typed.
        {"count and size wrong",
         {{kIdShotCount, "0"}, {kIdMovieSizeMax, "9"}, {kIdWifiPort, "-5"}},
         timed,
         {{kIdShotCount, "1"}, {kIdMovieSizeMax, "9"}, {kIdWifiPort, "-5"}}},
        {"size and port wrong",
         {{kIdMovieSizeMax, "9"}, {kIdWifiPort, "-5"}},
         size,
         {{kIdMovieSizeMax, "16"}, {kIdWifiPort, "-5"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CSettingParam before = CSettingParamManage::Instance()->GetCurrent();
        const size_t boxesBefore = boxes_->Texts().size();
        CSettingDlg dialog(owner_);
        dialog.show();
        for (const auto& [id, text] : c.typed) Type(dialog, id, text);
        Click(dialog, kIdApply);
        const std::vector<std::string> texts = boxes_->Texts();
        const std::vector<std::string> newBoxes(texts.begin() + boxesBefore, texts.end());
        if (c.box.empty()) {
            EXPECT_TRUE(newBoxes.empty());
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_FALSE(dialog.isVisible());
            EXPECT_EQ(CSettingParamManage::Instance()->GetPrevious(), before);
        } else {
            EXPECT_EQ(newBoxes, std::vector<std::string>{c.box});
            EXPECT_TRUE(dialog.isVisible());
            EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent(), before);
            for (const auto& [id, text] : c.shown) EXPECT_EQ(Text(dialog, id), text) << id;
        }
    }
    // Letters in the port edit stored port 0.
    EXPECT_EQ(CSettingParamManage::Instance()->GetPrevious().wifideviceport, 0);
    EXPECT_EQ(boxes_->Captions(), std::vector<std::string>(boxes_->Captions().size(), "Lumivor"));
}

TEST_F(SettingDlgTest, ApplyStoresTheDialogsValuesAndMakesTheMediaFolders) {
    CSettingDlg dialog(owner_);
    // Typed with backslashes and a trailing one: stored with slashes, without the last.
    std::string typed = Saving().string() + "\\";
    std::replace(typed.begin(), typed.end(), '/', '\\');
    Type(dialog, kIdSavingFolder, QString::fromStdString(typed));
    static_cast<QRadioButton*>(dialog.Control(kIdShotsPerHour))->click();
    Type(dialog, kIdShotCount, "12");
    List(dialog, kIdMovieResolution)->setCurrentIndex(0);
    List(dialog, kIdFolderMode)->setCurrentIndex(1);
    List(dialog, kIdLanguageList)->setCurrentIndex(1);
    List(dialog, kIdResolutionList)->setCurrentIndex(2);
    static_cast<CIPAddressCtrl*>(dialog.Control(kIdWifiAddress))->SetAddress(0x7F000042);
    Type(dialog, kIdWifiPort, "8081");
    Click(dialog, kIdApply);
    ASSERT_EQ(dialog.result(), QDialog::Accepted) << ::testing::PrintToString(boxes_->Texts());

    const CSettingParam stored = CSettingParamManage::Instance()->GetCurrent();
    EXPECT_EQ(stored.resourcespath, Saving().string());
    EXPECT_EQ(stored.shotstype, kUnitHour);
    EXPECT_EQ(stored.shotsvalue, 12);
    EXPECT_EQ(stored.movieresolution, 0);
    EXPECT_EQ(stored.autocreatingfolder, 1);
    EXPECT_EQ(stored.language, 1);
    EXPECT_EQ(stored.captureWidth, 1280);
    EXPECT_EQ(stored.captureHeight, 960);
    EXPECT_TRUE(stored.interpolation);  // the last size
    EXPECT_EQ(stored.wifideviceip, 0x7F000042u);
    EXPECT_EQ(stored.wifideviceport, 8081);
    for (const char* kind : {"Single Shots", "Timed Shots", "Movies"})
        EXPECT_TRUE(fs::is_directory(Saving() / "Skelvane" / kind)) << kind;
    // Read back as the next start would.
    ResetSingletons();
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().wifideviceport, 8081);
}

TEST_F(SettingDlgTest, AnEmptyLanguageListStoresNoLanguage) {
    ChangeSettings([](CSettingParam& param) { param.languages.clear(); });
    CSettingDlg dialog(owner_);
    EXPECT_EQ(List(dialog, kIdLanguageList)->count(), 0);
    Click(dialog, kIdApply);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().language, -1);
}

TEST_F(SettingDlgTest, DefaultFillsTheDefaultsAndUndoKeepsTheSettings) {
    ChangeSettings([](CSettingParam& param) {
        param.shotstype = kUnitDay;
        param.shotsvalue = 5;
        param.timestype = kUnitHour;
        param.timesvalue = 9;
        param.moviesizemax = 100;
        param.movieresolution = 0;
        param.wifideviceport = 9000;
    });
    const CSettingParam before = CSettingParamManage::Instance()->GetCurrent();
    CSettingDlg dialog(owner_);
    dialog.show();
    EXPECT_EQ(Text(dialog, kIdShotCount), "5");
    EXPECT_TRUE(static_cast<QRadioButton*>(dialog.Control(kIdShotsPerDay))->isChecked());
    EXPECT_EQ(Text(dialog, kIdMovieSizeMax), "100");

    Click(dialog, kIdDefault);
    const CSettingParam defaults = CSettingParamManage::Instance()->GetDefault();
    EXPECT_EQ(Text(dialog, kIdShotCount), QString::number(defaults.shotsvalue));
    EXPECT_EQ(Text(dialog, kIdTimesCount), QString::number(defaults.timesvalue));
    EXPECT_TRUE(static_cast<QRadioButton*>(dialog.Control(kIdShotsPerMinute))->isChecked());
    EXPECT_TRUE(static_cast<QRadioButton*>(dialog.Control(kIdTimesMinutes))->isChecked());
    EXPECT_EQ(Text(dialog, kIdMovieSizeMax), "16");
    EXPECT_EQ(Text(dialog, kIdMovieResolution), "640X480");
    EXPECT_EQ(Text(dialog, kIdWifiPort), "8080");
    EXPECT_EQ(Text(dialog, kIdSavingFolder), QString::fromStdString(defaults.resourcespath));
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent(), before);

    Click(dialog, kIdUndo);
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent(), before);
    ResetSingletons();  // nothing reached the store either
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().shotsvalue, 5);
}

TEST_F(SettingDlgTest, AUnitProposesItsDefaultCountAndShowsItsMaximum) {
    ProvisionStore(
        "[HKEY_CURRENT_USER\\software\\Skelvane\\default\\timedShot\\shots\\hour]\n"
        "\"maxvalue\"=dword:00000018\n\"default\"=dword:0000000c\n"
        "[HKEY_CURRENT_USER\\software\\Skelvane\\default\\timedShot\\times\\day]\n"
        "\"maxvalue\"=dword:00000007\n\"default\"=dword:00000002\n");
    CSettingDlg dialog(owner_);
    dialog.show();
    EXPECT_EQ(Text(dialog, kIdShotsRange), "(max.300)");
    static_cast<QRadioButton*>(dialog.Control(kIdShotsPerHour))->click();
    EXPECT_EQ(Text(dialog, kIdShotCount), "12");
    EXPECT_EQ(Text(dialog, kIdShotsRange), "(max.24)");
    static_cast<QRadioButton*>(dialog.Control(kIdTimesDays))->click();
    EXPECT_EQ(Text(dialog, kIdTimesCount), "2");
    EXPECT_EQ(Text(dialog, kIdTimesRange), "(max.7)");

    // 100 is a good count per minute, but not per hour.
    Type(dialog, kIdShotCount, "100");
    Click(dialog, kIdApply);
    EXPECT_EQ(boxes_->Texts(),
              std::vector<std::string>{"Error of time setting to take timed shot"});
    EXPECT_EQ(Text(dialog, kIdShotCount), "1");
    EXPECT_TRUE(static_cast<QRadioButton*>(dialog.Control(kIdShotsPerHour))->isChecked());
}

TEST_F(SettingDlgTest, CaptureControlsRestWhileCapturingButTheListsStayUnlessWifiRuns) {
    const std::vector<int> busyControls = {kIdSavingFolder, kIdMovieSizeMax, kIdMovieResolution,
                                           kIdChooseFolder, kIdDefault,      kIdShotCount,
                                           kIdTimesCount};
    const std::vector<int> lists = {kIdDeviceList, kIdResolutionList, kIdMore};
    const auto enabled = [](const CSettingDlg& dialog, const std::vector<int>& ids) {
        std::vector<bool> states;
        for (int id : ids) states.push_back(dialog.Control(id)->isEnabled());
        return states;
    };
    {
        CSettingDlg dialog(owner_);
        EXPECT_EQ(enabled(dialog, busyControls), std::vector<bool>(busyControls.size(), true));
        EXPECT_EQ(enabled(dialog, lists), std::vector<bool>(lists.size(), true));
    }
    owner_.busy = true;
    {
        CSettingDlg dialog(owner_);
        EXPECT_EQ(enabled(dialog, busyControls), std::vector<bool>(busyControls.size(), false));
        EXPECT_EQ(enabled(dialog, lists), std::vector<bool>(lists.size(), true));
        EXPECT_TRUE(dialog.Control(kIdApply)->isEnabled());
    }
    owner_.identity = kWifiDeviceIdentity;
    {
        CSettingDlg dialog(owner_);
        EXPECT_EQ(enabled(dialog, lists), std::vector<bool>(lists.size(), false));
        EXPECT_EQ(Items(dialog, kIdDeviceList),
                  (std::vector<QString>{"Vendor Camera", "Other Camera", "wifi device"}));
        EXPECT_EQ(List(dialog, kIdDeviceList)->currentIndex(), 2);
        EXPECT_TRUE(dialog.Control(kIdWifiAddress)->isVisibleTo(&dialog));
        EXPECT_FALSE(dialog.Control(kIdWifiAddress)->isEnabled());
        EXPECT_EQ(Text(dialog, kIdWifiConnect), "Disconnect");
        // The wireless camera's sizes carry no interpolation mark.
        EXPECT_EQ(Items(dialog, kIdResolutionList),
                  (std::vector<QString>{"320 X 240", "640 X 480", "1280 X 960"}));
    }
}

TEST_F(SettingDlgTest, DeviceListStartsCamerasButTheWirelessOneOnlyOnConnect) {
    CSettingDlg dialog(owner_);
    dialog.show();
    EXPECT_EQ(Items(dialog, kIdResolutionList),
              (std::vector<QString>{"320 X 240", "640 X 480", "1280 X 960 (interpolation)"}));
    EXPECT_EQ(List(dialog, kIdResolutionList)->currentIndex(), 1);  // the current 640 x 480
    EXPECT_FALSE(dialog.Control(kIdWifiConnect)->isVisibleTo(&dialog));

    // The previewed camera again: nothing starts.
    Choose(dialog, kIdDeviceList, 0);
    EXPECT_TRUE(owner_.requests.empty());
    EXPECT_EQ(List(dialog, kIdResolutionList)->count(), 3);

    // Another camera starts at its own size; its sizes come with the preview-started event.
    Choose(dialog, kIdDeviceList, 1);
    ASSERT_EQ(owner_.requests.size(), 1u);
    EXPECT_EQ(owner_.requests[0].deviceIndex, 1);
    EXPECT_EQ(owner_.requests[0].width, 0);
    EXPECT_EQ(List(dialog, kIdResolutionList)->count(), 0);
    owner_.resolutions = {{ResolutionKey(800, 600), {800, 600, false}},
                          {ResolutionKey(1600, 1200), {1600, 1200, true}}};
    QCoreApplication::postEvent(&dialog, new QEvent(static_cast<QEvent::Type>(UM_PREVIEW_STARTED)));
    QCoreApplication::processEvents();
    EXPECT_EQ(Items(dialog, kIdResolutionList),
              (std::vector<QString>{"800 X 600", "1600 X 1200 (interpolation)"}));
    EXPECT_EQ(List(dialog, kIdResolutionList)->currentIndex(), 0);  // no 640 x 480 here

    // The wireless item shows its address controls and starts nothing.
    Choose(dialog, kIdDeviceList, 2);
    EXPECT_EQ(owner_.requests.size(), 1u);
    for (int id : {kIdWifiAddress, kIdWifiPort, kIdWifiColon, kIdWifiConnect})
        EXPECT_TRUE(dialog.Control(id)->isVisibleTo(&dialog)) << id;
    EXPECT_EQ(Text(dialog, kIdWifiConnect), "Connect");
    EXPECT_EQ(static_cast<CIPAddressCtrl*>(dialog.Control(kIdWifiAddress))->Address(), 0xC0A80501u);

    // Connect stores the address and port first, then starts device 10000.
    static_cast<CIPAddressCtrl*>(dialog.Control(kIdWifiAddress))->SetAddress(0x7F000063);
    Type(dialog, kIdWifiPort, "8099");
    Click(dialog, kIdWifiConnect);
    ASSERT_EQ(owner_.requests.size(), 2u);
    EXPECT_EQ(owner_.requests[1].deviceIndex, kWifiDeviceIndex);
    EXPECT_EQ(owner_.portWhenStarted, 8099);
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().wifideviceip, 0x7F000063u);
    EXPECT_EQ(Text(dialog, kIdWifiConnect), "Disconnect");
    for (int id : {kIdWifiAddress, kIdWifiPort, kIdMore, kIdResolutionList, kIdDeviceList})
        EXPECT_FALSE(dialog.Control(id)->isEnabled()) << id;

    Click(dialog, kIdWifiConnect);
    EXPECT_EQ(owner_.tearDowns, 1);
    EXPECT_EQ(owner_.clears, 1);
    EXPECT_EQ(Text(dialog, kIdWifiConnect), "Connect");
    for (int id : {kIdWifiAddress, kIdWifiPort, kIdMore, kIdResolutionList, kIdDeviceList})
        EXPECT_TRUE(dialog.Control(id)->isEnabled()) << id;

    // A camera that does not start leaves the controls usable.
    owner_.startSucceeds = false;
    Click(dialog, kIdWifiConnect);
    EXPECT_EQ(Text(dialog, kIdWifiConnect), "Connect");
    EXPECT_TRUE(dialog.Control(kIdDeviceList)->isEnabled());
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(SettingDlgTest, MoreHidesTheDialogWhileThePropertiesAreOpen) {
    CSettingDlg dialog(owner_);
    dialog.show();
    owner_.shownDialog = [&] { return dialog.isVisible(); };
    Click(dialog, kIdMore);
    EXPECT_EQ(owner_.propertiesShownWhileVisible, std::vector<bool>{false});
    EXPECT_TRUE(dialog.isVisible());
}

TEST_F(SettingDlgTest, EnterAndEscapeNeitherApplyNorClose) {
    CSettingDlg dialog(owner_);
    dialog.show();
    Type(dialog, kIdShotCount, "2");
    for (QWidget* target : {static_cast<QWidget*>(&dialog), dialog.Control(kIdShotCount),
                            dialog.Control(kIdApply), dialog.Control(kIdLanguageList)}) {
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
        }
    }
    QCoreApplication::processEvents();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().shotsvalue, 1);
    // The close box closes it without applying.
    dialog.close();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().shotsvalue, 1);
}

TEST_F(SettingDlgTest, TextsComeFromTheChosenLanguageAndEveryControlIsNamed) {
    CSettingDlg english(owner_);
    EXPECT_EQ(english.windowTitle(), "Settings");
    EXPECT_EQ(Text(english, kIdDeviceGroup), "Devices Settting");
    EXPECT_EQ(Items(english, kIdFolderMode),
              (std::vector<QString>{"Don't create folders", "Create folders"}));
    EXPECT_EQ(Items(english, kIdMovieResolution), (std::vector<QString>{"320X240", "640X480"}));
    EXPECT_EQ(Items(english, kIdLanguageList), (std::vector<QString>{"English", "简体中文"}));
    for (QWidget* control : english.findChildren<QWidget*>()) {
        if (!control->objectName().startsWith("control")) continue;
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->objectName().toStdString();
    }
    EXPECT_EQ(english.Control(kIdApply)->accessibleName(), "Apply");
    EXPECT_EQ(english.Control(kIdWifiPort)->accessibleName(), "Wireless camera port");

    ChangeSettings([](CSettingParam& param) { param.language = 1; });
    CSettingDlg chinese(owner_);
    EXPECT_EQ(chinese.windowTitle(), "设置");
    EXPECT_EQ(Text(chinese, kIdApply), "应用");
    EXPECT_EQ(chinese.Control(kIdApply)->accessibleName(), "应用");
    EXPECT_EQ(Text(chinese, kIdShotsRange), "(最大300)");
    EXPECT_EQ(Text(chinese, kIdLanguageList), "简体中文");
}

}  // namespace
}  // namespace dialogtest
