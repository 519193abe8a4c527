// Both dialogs in each shipped language: every text fits its control. With
// SKELVANE_SCREENSHOT_DIR set the dialogs are saved there as pictures
// (settings-dialog-en.png, about-dialog-zh.png, ...).
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <climits>
#include <cstdlib>

#include "Skelvane/settings/AboutDlg.h"
#include "Skelvane/settings/SettingDlg.h"
#include "Skelvane/settings/tests/DialogTestSupport.h"

namespace dialogtest {
namespace {

using DialogLayoutTest = DialogTest;

// Names every visible text of `dialog` that its control cannot show whole.
std::vector<std::string> ClippedTexts(const QDialog& dialog) {
    std::vector<std::string> clipped;
    for (const QWidget* control : dialog.findChildren<QWidget*>()) {
        if (!control->isVisibleTo(&dialog)) continue;
        const QFontMetrics metrics = control->fontMetrics();
        QString text;
        int room = 0, needed = 0;
        if (const auto* label = qobject_cast<const QLabel*>(control)) {
            text = label->textFormat() == Qt::RichText ? label->accessibleName() : label->text();
            room = label->contentsRect().width();
            needed = metrics.horizontalAdvance(text);
            if (metrics.height() > label->height()) needed = INT_MAX;
        } else if (const auto* radio = qobject_cast<const QRadioButton*>(control)) {
            text = radio->text();
            room = radio->width();
            needed = radio->sizeHint().width();
        } else if (const auto* button = qobject_cast<const QPushButton*>(control)) {
            text = button->text();
            room = button->width();
            needed = metrics.horizontalAdvance(text) + 6;
        } else if (const auto* group = qobject_cast<const QGroupBox*>(control)) {
            text = group->title();
            room = group->width();
            needed = metrics.horizontalAdvance(text) + 16;
        } else if (const auto* list = qobject_cast<const QComboBox*>(control)) {
            text = list->currentText();
            room = list->width() - 24;  // the arrow
            needed = metrics.horizontalAdvance(text);
        } else {
            continue;
        }
        if (needed > room) clipped.push_back(text.toStdString());
    }
    return clipped;
}

TEST_F(DialogLayoutTest, EveryTextFitsItsControlInEveryLanguage) {
    ProvisionStore();
    TestOwner owner;
    owner.devices = {{0, {"USB 2.0 Camera", "usb#vid_0c45&pid_6340&mi_00#a"}}};
    owner.identity = owner.devices[0].devicePath;
    owner.resolutions = {{ResolutionKey(640, 480), {640, 480, false}},
                         {ResolutionKey(1280, 960), {1280, 960, true}}};
    ChangeSettings([](CSettingParam& param) { param.SetResourcesPath("/home/lumi/Pictures"); });
    CSettingParamManage::Instance()->SetCurrentCapture(1280, 960, true);
    const char* folder = std::getenv("SKELVANE_SCREENSHOT_DIR");
    const struct {
        int32_t language;
        const char* suffix;
    } languages[] = {{0, "en"}, {1, "zh"}};
    for (const auto& language : languages) {
        SCOPED_TRACE(language.suffix);
        ChangeSettings([&](CSettingParam& param) { param.language = language.language; });
        CSettingDlg settings(owner);
        settings.show();
        EXPECT_EQ(ClippedTexts(settings), std::vector<std::string>{});
        const QPixmap settingsPicture = settings.grab();
        // The wireless camera's controls too.
        static_cast<QComboBox*>(settings.Control(kIdDeviceList))->setCurrentIndex(1);
        emit static_cast<QComboBox*>(settings.Control(kIdDeviceList))->activated(1);
        EXPECT_EQ(ClippedTexts(settings), std::vector<std::string>{});

        CAboutDlg about;
        about.show();
        EXPECT_EQ(ClippedTexts(about), std::vector<std::string>{});
        if (folder != nullptr) {
            const QString base = QString(folder) + "/%1-dialog-" + language.suffix + ".png";
            EXPECT_TRUE(settingsPicture.save(base.arg("settings")));
            EXPECT_TRUE(about.grab().save(base.arg("about")));
        }
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

}  // namespace
}  // namespace dialogtest
