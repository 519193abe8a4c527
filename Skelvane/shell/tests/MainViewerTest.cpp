#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include "tests/support/TestApplication.h"

#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/shell/MainViewerDlg.h"
#include "platform/registry/Registry.h"
#include "platform/sys/Sys.h"

namespace fs = std::filesystem;

namespace {

class AnsweringPresenter : public sys::IMessageBoxPresenter {
public:
    int Present(const std::string& text, const std::string& caption, unsigned style) override {
        asked.push_back(caption + "|" + text + "|" + std::to_string(style));
        return answer;
    }
    int answer = sys::IDCANCEL;
    std::vector<std::string> asked;
};

class MainViewerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartTestApplication();
        // A language file of our own shows which key each question used.
        languageRoot_ =
            fs::temp_directory_path() / ("skelvane-viewer-lang-" + std::to_string(::getpid()));
        fs::create_directories(languageRoot_ / "Resource/English.lproj");
        std::ofstream(languageRoot_ / "Resource/English.lproj/Localizable.strings")
            << "\"ui_dlg_viewer\" = \"Default View\";\n"
            << "\"ui_view_btn_exit_system\" = \"Leave\";\n"
            << "\"ui_alert_exit_system\" = \"Q-idle\";\n"
            << "\"ui_alert_exit_system_doing_timedshot\" = \"Q-timed\";\n"
            << "\"ui_alert_exit_system_doing_recording\" = \"Q-recording\";\n";
        SetInstallFolder(languageRoot_.string() + "/");
    }
    static void TearDownTestSuite() {
        fs::remove_all(languageRoot_);
        StopTestApplication();
    }
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("skelvane-viewer-" + std::to_string(::getpid()));
        registry::SetStoreFolders((root_ / "config").string(), "");
        presenter_ = std::make_shared<AnsweringPresenter>();
        previous_ = sys::SetMessageBoxPresenter(presenter_);
    }
    void TearDown() override {
        sys::SetMessageBoxPresenter(previous_);
        fs::remove_all(root_);
    }
    static inline fs::path languageRoot_;
    fs::path root_;
    std::shared_ptr<AnsweringPresenter> presenter_;
    std::shared_ptr<sys::IMessageBoxPresenter> previous_;
};

TEST_F(MainViewerTest, WindowIsTitledAndMarkedForTheSecondStart) {
    CMainViewerDlg window("Skelvane");
    EXPECT_EQ(window.windowTitle(), "Default View");
    EXPECT_EQ(window.accessibleName(), "Default View");
    EXPECT_TRUE(window.property("Skelvane").isValid());
}

TEST_F(MainViewerTest, ClosingAsksAndOnlyOkEndsTheWindow) {
    CMainViewerDlg window("Skelvane");
    window.show();
    const unsigned question = sys::MB_OKCANCEL | sys::MB_ICONQUESTION;

    presenter_->answer = sys::IDCANCEL;
    window.recording = 1;
    EXPECT_FALSE(window.close());
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.recording.load(), 1);  // cancelling leaves the recording running
    window.recording = 0;
    EXPECT_FALSE(window.close());
    window.recording = 1;
    window.timedShotRunning = 1;
    EXPECT_FALSE(window.close());
    const std::string style = "|" + std::to_string(question);
    EXPECT_EQ(presenter_->asked,
              (std::vector<std::string>{"Leave|Q-recording" + style, "Leave|Q-idle" + style,
                                        "Leave|Q-timed" + style}));

    presenter_->answer = sys::IDOK;
    window.takePhoto = 1;
    EXPECT_TRUE(window.close());
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);
    EXPECT_EQ(window.takePhoto.load(), 0);
    EXPECT_EQ(window.timedShotRunning.load(), 0);
    EXPECT_EQ(window.recording.load(), 0);
}

TEST_F(MainViewerTest, ModalRunLeavesOwnerlessBoxesUsable) {
    CMainViewerDlg window("Skelvane");
    presenter_->answer = sys::IDOK;
    QWidget* blockingWindow = &window;
    QTimer::singleShot(0, &window, [&] {
        blockingWindow = QApplication::activeModalWidget();
        window.close();
    });
    EXPECT_EQ(window.RunModal(), QDialog::Accepted);
    EXPECT_EQ(blockingWindow, nullptr);
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
