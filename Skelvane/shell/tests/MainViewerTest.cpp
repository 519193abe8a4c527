#include <QAccessible>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTimer>

#include "Skelvane/browser/ResourceWindow.h"
#include "Skelvane/capture/SampleGrabberCB.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/shell/tests/ViewerTestSupport.h"
#include "Skelvane/widgets/CollapsibleSplitter.h"
#include "Skelvane/widgets/DropDownButton.h"

namespace viewertest {
namespace {

using MainViewerTest = ViewerTest;

TEST_F(MainViewerTest, EveryControlIsNamedForAccessibilityAndTheWindowMarked) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    EXPECT_EQ(window.windowTitle(), "Default View");
    EXPECT_EQ(window.accessibleName(), "Default View");
    EXPECT_TRUE(window.property("Skelvane").isValid());

    const QList<QPushButton*> named = window.findChildren<QPushButton*>();
    for (QPushButton* button : named) {
        if (button->isHidden()) continue;
        EXPECT_FALSE(button->accessibleName().isEmpty()) << button->objectName().toStdString();
        if (!button->toolTip().isEmpty()) {
            EXPECT_EQ(button->accessibleName(), button->toolTip());
        }
    }
    QPushButton* takePhoto = nullptr;
    for (QPushButton* button : named)
        if (button->accessibleName() == "Take a Photo") takePhoto = button;
    EXPECT_EQ(takePhoto, window.Control(kIdTakePhoto));
    for (QAction* item : window.FlipButton()->Menu()->actions())
        EXPECT_FALSE(item->text().isEmpty());
    EXPECT_EQ(window.Control(kIdHintLabel)->accessibleName(), "Hint:");
    for (QWidget* pane :
         {static_cast<QWidget*>(window.RecentPane()), static_cast<QWidget*>(window.MediaListPane()),
          static_cast<QWidget*>(window.LivePane())})
        EXPECT_FALSE(pane->accessibleName().isEmpty());

    // The hint line is read by its text.
    window.SetHintText("first");
    QAccessibleInterface* hint = QAccessible::queryAccessibleInterface(window.Control(kIdHintLine));
    ASSERT_NE(hint, nullptr);
    EXPECT_EQ(hint->text(QAccessible::Name), "first");
}

TEST_F(MainViewerTest, LayoutKeepsThePixelRulesAtEverySize) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    window.show();
    for (const QSize size : {QSize(1049, 778), QSize(800, 560), QSize(640, 420)}) {
        window.resize(size);
        ASSERT_TRUE(WaitUntil([&] { return window.size() == size; }));
        const int width = size.width(), height = size.height();
        const QRect fullScreen = window.Control(kIdFullScreen)->geometry();
        EXPECT_EQ(fullScreen, QRect(width - 32, height - 28, 32, 28)) << width;
        const QRect flip = window.Control(kIdFlipButton)->geometry();
        EXPECT_EQ(flip.right() + 1, fullScreen.left());
        EXPECT_EQ(flip.bottom() + 1, height);
        EXPECT_EQ(flip.width(), window.Control(kIdFlipSlot)->width() + 14);
        const QRect slot = window.Control(kIdRotateSlot)->geometry();
        EXPECT_EQ(slot.right() + 1, window.Control(kIdFlipSlot)->x());

        const QRect label = window.Control(kIdHintLabel)->geometry();
        const QRect viewer = window.Control(kIdViewerArea)->geometry();
        EXPECT_EQ(label.bottom() + 1, height);
        EXPECT_EQ(viewer.top(), window.Control(kIdSettings)->geometry().bottom() + 1 + 2);
        EXPECT_EQ(viewer.bottom() + 1, label.top() - 10);
        EXPECT_EQ(viewer.left(), 0);
        EXPECT_EQ(viewer.width(), width);
        EXPECT_EQ(window.MainSplitter()->geometry(), viewer);

        const QRect hint = window.Control(kIdHintLine)->geometry();
        EXPECT_EQ(hint.left(), window.Control(kIdHintSeparator)->geometry().right() + 1 + 10);
        EXPECT_EQ(hint.right() + 1, slot.left() - 1);
        EXPECT_EQ(hint.bottom() + 1, height);
    }
    // The top buttons keep their template places: 37 x 24 dialog units, side by side.
    EXPECT_EQ(window.Control(kIdSettings)->geometry(), QRect(2, 3, 55, 39));
    EXPECT_EQ(window.Control(kIdTakePhoto)->geometry().left(), 59);
}

TEST_F(MainViewerTest, ExitQuestionNamesWhatRunsAndOnlyOkEndsTheWindow) {
    // A language file of our own shows which key each question used.
    const fs::path languages = root_ / "install";
    fs::create_directories(languages / "Resource/English.lproj");
    std::ofstream(languages / "Resource/English.lproj/Localizable.strings")
        << "\"ui_view_btn_exit_system\" = \"Leave\";\n"
        << "\"ui_alert_exit_system\" = \"Q-idle\";\n"
        << "\"ui_alert_exit_system_doing_timedshot\" = \"Q-timed\";\n"
        << "\"ui_alert_exit_system_doing_recording\" = \"Q-recording\";\n";
    UseInstallFolder(languages.string() + "/");
    Attach({});
    CMainViewerDlg window("Skelvane");
    window.show();
    boxes_->Clear();
    const std::string style = "|" + std::to_string(sys::MB_OKCANCEL | sys::MB_ICONQUESTION);

    boxes_->SetAnswer(sys::IDCANCEL);
    window.recording = 1;
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.recording.load(), 1);  // cancelling leaves the recording running
    window.recording = 0;
    window.OnCommand(kIdExit);
    window.recording = 1;
    window.timedShotRunning = 1;
    EXPECT_FALSE(window.close());
    EXPECT_EQ(boxes_->Asked(),
              (std::vector<std::string>{"Leave|Q-recording" + style, "Leave|Q-idle" + style,
                                        "Leave|Q-timed" + style}));

    boxes_->SetAnswer(sys::IDOK);
    window.takePhoto = 1;
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.takePhoto.load(), 0);
    EXPECT_EQ(window.timedShotRunning.load(), 0);
    EXPECT_EQ(window.recording.load(), 0);
}

TEST_F(MainViewerTest, ModalRunLeavesOwnerlessBoxesUsable) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    boxes_->SetAnswer(sys::IDOK);
    QWidget* blockingWindow = &window;
    QTimer::singleShot(0, &window, [&] {
        blockingWindow = QApplication::activeModalWidget();
        window.close();
    });
    EXPECT_EQ(window.RunModal(), QDialog::Accepted);
    EXPECT_EQ(blockingWindow, nullptr);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(MainViewerTest, EnterAndEscapeNeverCloseOrPress) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_->Texts().empty(); }));  // the no-camera box
    boxes_->Clear();
    for (QWidget* target :
         {static_cast<QWidget*>(&window), window.Control(kIdExit), window.Control(kIdTakePhoto)}) {
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(target, &press);
        }
    }
    Settle();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.IsFullScreen());
    EXPECT_TRUE(boxes_->Texts().empty());  // nothing asked to leave, no command ran
}

TEST_F(MainViewerTest, HintLineExplainsButtonsAndTellsWhatRuns) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    const QPoint elsewhere = window.Control(kIdViewerArea)->geometry().center();
    const std::string noCamera = "Error,No Camera\tis Detected";

    // Without a camera every capture button and the status say so.
    for (int id : {kIdTakePhoto, kIdTimedShot, kIdRecord}) {
        window.RefreshHint(CentreOf(window, id), true);
        EXPECT_EQ(Hint(window), noCamera) << id;
    }
    window.RefreshHint(elsewhere, false);
    EXPECT_EQ(Hint(window), noCamera);
    window.SetHintText("kept");
    window.RefreshHint(elsewhere, true);  // hovering over nothing changes nothing
    EXPECT_EQ(Hint(window), "kept");

    // A camera that cannot be previewed.
    Attach({VendorCamera()});
    window.OnDevicesChanged();
    window.StopAll();
    window.ClearPreview();
    const std::string notPreviewable =
        "Couldn't preview this device,because this device may been using by other applicaiton";
    window.RefreshHint(CentreOf(window, kIdTakePhoto), true);
    EXPECT_EQ(Hint(window), notPreviewable);
    window.RefreshHint(elsewhere, false);
    EXPECT_EQ(Hint(window), notPreviewable);

    // Previewing at 640 x 480; movies are 640 x 480 too unless the settings say 320 x 240.
    ASSERT_TRUE(window.StartPreview({0, 640, 480, false}));
    ChangeSettings([](CSettingParam& param) { param.movieresolution = 0; });
    const struct {
        int id;
        std::string text;
    } buttons[] = {
        {kIdTakePhoto, "Take a photo at 640 X 480"},
        {kIdTimedShot, "Take timed shots at 640 X 480"},
        {kIdRecord, "Record a movie at 320 X 240"},
        {kIdSettings, "Open the system settings"},
        {kIdAbout, "Open About"},
        {kIdExit, "Exit the system"},
    };
    for (const auto& button : buttons) {
        window.RefreshHint(CentreOf(window, button.id), true);
        EXPECT_EQ(Hint(window), button.text);
    }
    window.RefreshHint(elsewhere, false);
    EXPECT_EQ(Hint(window), "Previewing at 640 X 480");
    window.takePhoto = 1;
    window.RefreshHint(elsewhere, false);
    EXPECT_EQ(Hint(window), "Taking a photo at 640 X 480");
    window.takePhoto = 0;

    // A recording gains one dot per tick: none, one, two, three, none again.
    window.recording = 1;
    const std::string recording = "Recording a movie at 320 X 240";
    for (const char* dots : {"", "●", "●●", "●●●", ""}) {
        window.RefreshHint(elsewhere, false);
        EXPECT_EQ(Hint(window), recording + dots);
    }
    window.RefreshHint(CentreOf(window, kIdRecord), false);
    EXPECT_EQ(Hint(window), "Stop recording");
    window.recording = 0;
    window.RefreshHint(elsewhere, false);  // the dots start again from none
    window.recording = 1;
    window.RefreshHint(elsewhere, false);
    EXPECT_EQ(Hint(window), recording);
    window.recording = 0;

    // A 60-minute timed shot counts the whole minutes left by the injected clock; hovering
    // its disabled neighbours still explains them.
    ChangeSettings([](CSettingParam& param) {
        param.timestype = kUnitMinute;
        param.timesvalue = 60;
    });
    window.OnCommand(kIdTimedShot);
    ASSERT_EQ(window.timedShotRunning.load(), 1);
    const struct {
        int64_t afterMs;
        int left;
    } minutes[] = {{0, 60}, {59999, 60}, {60000, 59}, {3540000, 1}};
    const int64_t start = nowMs_;
    for (const auto& m : minutes) {
        nowMs_ = start + m.afterMs;
        window.RefreshHint(elsewhere, false);
        EXPECT_EQ(Hint(window), "Taking timed shots at 640 X 480, duration 60 minutes, " +
                                    std::to_string(m.left) + " minutes left");
    }
    ASSERT_FALSE(window.Control(kIdTakePhoto)->isEnabled());
    window.RefreshHint(CentreOf(window, kIdTakePhoto), false);
    EXPECT_EQ(Hint(window), "Take a photo at 640 X 480");
    window.RefreshHint(CentreOf(window, kIdTimedShot), false);
    EXPECT_EQ(Hint(window), "Stop timed shot");
    window.OnCommand(kIdTimedShot);
}

TEST_F(MainViewerTest, FullScreenHidesTheBarAndEscapeOrDoubleClickBringsItBack) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_->Texts().empty(); }));
    const QRect normal = window.geometry();
    const QRect screen = window.screen()->geometry();
    const int columnWidth = window.MainSplitter()->sizes()[0];
    ASSERT_GT(columnWidth, 0);

    window.Control(kIdFullScreen)->setFocus();
    static_cast<QPushButton*>(window.Control(kIdFullScreen))->click();
    ASSERT_TRUE(window.IsFullScreen());
    Settle();
    EXPECT_TRUE(window.MainSplitter()->IsCollapsed());
    for (int id : {kIdSettings, kIdTakePhoto, kIdTimedShot, kIdRecord, kIdAbout, kIdExit,
                   kIdFullScreen, kIdHintLabel, kIdHintLine, kIdHintSeparator, kIdFlipButton})
        EXPECT_TRUE(window.Control(id)->isHidden()) << id;
    EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window.geometry(),
              QRect(screen.left() - 16, screen.top(), screen.width() + 16, screen.height()));
    EXPECT_EQ(window.MainSplitter()->geometry(), QRect(0, 0, screen.width() + 16, screen.height()));
    window.OnCommand(kIdFullScreen);  // a second time changes nothing
    EXPECT_TRUE(window.IsFullScreen());

    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(window.LivePane(), &escape);
    EXPECT_FALSE(window.IsFullScreen());
    ASSERT_TRUE(WaitUntil([&] { return window.geometry() == normal; }));
    EXPECT_FALSE(window.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.Control(kIdTakePhoto)->isHidden());
    EXPECT_EQ(window.MainSplitter()->sizes()[0], columnWidth);  // it had been visible
    EXPECT_EQ(window.Control(kIdFullScreen)->geometry(),
              QRect(normal.width() - 32, normal.height() - 28, 32, 28));

    // A column the user had collapsed stays collapsed; a left double-click leaves too.
    window.MainSplitter()->Collapse();
    window.EnterFullScreen();
    ASSERT_TRUE(window.IsFullScreen());
    QWidget* picture = window.LivePane()->PreviewHost();
    const QPointF at(5, 5);
    QMouseEvent rightClick(QEvent::MouseButtonDblClick, at, picture->mapToGlobal(at),
                           Qt::RightButton, Qt::RightButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &rightClick);
    EXPECT_TRUE(window.IsFullScreen());
    QMouseEvent leftClick(QEvent::MouseButtonDblClick, at, picture->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(picture, &leftClick);
    EXPECT_FALSE(window.IsFullScreen());
    EXPECT_TRUE(window.MainSplitter()->IsCollapsed());
}

TEST_F(MainViewerTest, FlipMenuAppendsOperationsAndMarksOneItem) {
    Attach({VendorCamera()});
    CMainViewerDlg window("Skelvane");
    CCoolBtn* flip = window.FlipButton();
    const auto checked = [&] {
        std::vector<int> ids;
        for (QAction* item : flip->Menu()->actions())
            if (item->isChecked()) ids.push_back(item->data().toInt());
        return ids;
    };
    EXPECT_EQ(window.MarkedMenuItem(), 0);
    EXPECT_TRUE(checked().empty());
    const std::vector<QString> texts = {"Rotate 90 CW", "Rotate 90 CCW", "Rotate 180",
                                        "Flip Vertical", "Flip Horizontal"};
    std::vector<QString> shown;
    for (QAction* item : flip->Menu()->actions()) shown.push_back(item->text());
    EXPECT_EQ(shown, texts);

    flip->MenuItem(kIdRotate90Cw)->trigger();
    EXPECT_EQ(checked(), std::vector<int>{kIdRotate90Cw});
    flip->MenuItem(kIdRotate90Cw)->trigger();  // again: appended again, still marked
    EXPECT_EQ(checked(), std::vector<int>{kIdRotate90Cw});
    flip->MenuItem(kIdFlipHorizontal)->trigger();
    EXPECT_EQ(checked(), std::vector<int>{kIdFlipHorizontal});
    EXPECT_EQ(window.MarkedMenuItem(), kIdFlipHorizontal);
    EXPECT_EQ(RotateSampleImp::Instance()->OperationCount(), 3);

    // A preview start empties the list and leaves the mark.
    window.OnDevicesChanged();
    ASSERT_TRUE(window.IsPreviewing());
    EXPECT_EQ(RotateSampleImp::Instance()->OperationCount(), 0);
    EXPECT_EQ(checked(), std::vector<int>{kIdFlipHorizontal});
}

TEST_F(MainViewerTest, LanguageSwitchRetextsEveryControl) {
    Attach({});
    CMainViewerDlg window("Skelvane");
    const auto texts = [&] {
        std::vector<QString> all = {window.windowTitle(), window.accessibleName(),
                                    static_cast<QLabel*>(window.Control(kIdHintLabel))->text(),
                                    window.FlipButton()->text(),
                                    window.RecentPane()->MoreResourcesButton()->text()};
        for (int id :
             {kIdSettings, kIdTakePhoto, kIdTimedShot, kIdRecord, kIdAbout, kIdExit, kIdFullScreen})
            all.push_back(window.Control(id)->toolTip());
        for (QAction* item : window.FlipButton()->Menu()->actions()) all.push_back(item->text());
        return all;
    };
    const std::vector<QString> english = texts();
    EXPECT_EQ(english[0], "Default View");
    EXPECT_EQ(english[4], "More...");

    ChangeSettings([](CSettingParam& param) { param.language = 1; });  // 简体中文
    window.ApplyTexts();
    const std::vector<QString> chinese = texts();
    const std::vector<std::string> keys = {"ui_dlg_viewer",
                                           "ui_dlg_viewer",
                                           "ui_view_lab_prompt",
                                           "ui_view_popup_btn_flip",
                                           "ui_view_btn_more_resources",
                                           "ui_view_btn_settings",
                                           "ui_view_btn_take_a_shot",
                                           "ui_view_btn_take_timed_shot",
                                           "ui_view_btn_take_recording",
                                           "ui_view_btn_about",
                                           "ui_view_btn_exit_system",
                                           "ui_view_btn_full_screen",
                                           "ui_view_menu_rotate_90_bycw",
                                           "ui_view_menu_rotate_90_byccw",
                                           "ui_view_menu_rotate_180",
                                           "ui_view_menu_flip_vertical",
                                           "ui_view_menu_flip_horizontal"};
    ASSERT_EQ(chinese.size(), keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        EXPECT_EQ(chinese[i].toStdString(), Localized(keys[i].c_str())) << keys[i];
    EXPECT_EQ(chinese[0], "默认视图");
    EXPECT_EQ(window.Control(kIdTakePhoto)->accessibleName(), "拍照");
    for (size_t i = 0; i < 5; ++i) EXPECT_NE(chinese[i], english[i]) << keys[i];
}

}  // namespace
}  // namespace viewertest
