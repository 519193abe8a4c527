// "Make a movie" on Qt's offscreen platform: the rate reaches the movie, the movie is
// revealed, Cancel leaves no file, and the time left reads right. With
// SKELVANE_SCREENSHOT_DIR set the dialog is saved there as pictures, before the start and
// while it works, in each language (timelapse-dialog-en.png, timelapse-progress-zh.png, ...).
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TimeLapseDialog.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"
#include "Skelvane/settings/InstallFolder.h"
#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/imaging/tests/TestPictures.h"
#include "platform/registry/Registry.h"
#include "tests/support/TestApplication.h"

namespace fs = std::filesystem;

namespace {

bool WaitFor(const std::function<bool()>& done, int milliseconds = 20000) {
    return ProcessEventsUntil(done, milliseconds);
}

class TimeLapseDialogTest : public CaptureTest {
protected:
    static void SetUpTestSuite() { StartTestApplication(); }
    static void TearDownTestSuite() { StopTestApplication(); }

    void SetUp() override {
        CaptureTest::SetUp();
        // The shipped settings tree (with its languages) and language files, English first.
        std::ifstream tree(fs::path(SKELVANE_SOURCE_DIR) / "Resource/DefaultSettings.reg");
        std::stringstream text;
        text << tree.rdbuf();
        ASSERT_EQ(registry::ImportRegText(text.str(), false), ERROR_SUCCESS);
        SetInstallFolder(std::string(SKELVANE_BIN_DIR) + "/");
        CSettingParamManage::Destroy();
        CLocalizableString::Destroy();
        UseSettings(0);
        UseLanguage(0);
        ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());
    }

    void TearDown() override {
        SetInstallFolder("");
        CaptureTest::TearDown();
    }

    static void UseLanguage(int32_t language) {
        CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
        param.language = language;
        CSettingParamManage::Instance()->Apply(param);
    }

    void WritePictures(int count, int width, int height) {
        const imaging::BgrBitmap picture = testing_pictures::QuadrantPicture(width, height);
        for (int i = 0; i < count; ++i)
            ASSERT_EQ(
                imaging::WriteJpegFile(picture.View(),
                                       TimedShots() + "/T_" + std::to_string(1000 + i) + ".jpg", 90)
                    .status,
                Gdiplus::Ok);
    }

    // The dialog for the timed-shot folder; revealed movies go to `revealed_`.
    std::unique_ptr<CTimeLapseDialog> Dialog() {
        const std::string folder = TimedShots();
        auto dialog = std::make_unique<CTimeLapseDialog>(
            nullptr, folder, [folder] { return TimeLapsePictures(folder); }, Movies(),
            [this](const std::string& movie) { revealed_.push_back(movie); });
        dialog->show();
        return dialog;
    }

    static bool Closed(const CTimeLapseDialog& dialog) { return !dialog.isVisible(); }

    std::vector<std::string> MovieFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Movies()))
            names.push_back(entry.path().string());
        return names;
    }

    std::vector<std::string> revealed_;
};

TEST_F(TimeLapseDialogTest, ThePickedRateMakesTheMovieAndTheMovieIsRevealed) {
    WritePictures(5, 64, 48);
    for (const uint32_t rate : {kDefaultTimeLapseRate, 12u}) {
        SCOPED_TRACE(rate);
        revealed_.clear();
        const std::unique_ptr<CTimeLapseDialog> dialog = Dialog();
        EXPECT_EQ(dialog->Rate(), kDefaultTimeLapseRate);  // offered first
        auto* rates = dialog->findChild<QComboBox*>("timeLapseRate");
        rates->setCurrentIndex(rates->findData(rate));
        dialog->StartButton()->click();
        ASSERT_TRUE(WaitFor([&] { return Closed(*dialog); }));
        EXPECT_EQ(dialog->result(), QDialog::Accepted);
        ASSERT_EQ(revealed_.size(), 1u);
        const MovieContents movie = ReadMovie(revealed_[0]);
        EXPECT_EQ(movie.packets, 5);
        EXPECT_EQ(movie.rateNumerator, static_cast<int>(rate));
        EXPECT_EQ(dialog->findChild<QLabel*>("timeLapseCount")->text(), "5 of 5 pictures");
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(TimeLapseDialogTest, CancelWhileWorkingLeavesNoFileAndRevealsNothing) {
    WritePictures(300, 320, 240);
    const std::unique_ptr<CTimeLapseDialog> dialog = Dialog();
    dialog->StartButton()->click();
    dialog->findChild<QPushButton*>("timeLapseCancel")->click();
    ASSERT_TRUE(WaitFor([&] { return Closed(*dialog); }));
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_TRUE(revealed_.empty());
    EXPECT_TRUE(MovieFiles().empty());
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(TimeLapseDialogTest, TimeLeftFollowsThePaceSoFar) {
    const struct {
        int64_t elapsedMs;
        int32_t done, total;
        const char* text;
    } cases[] = {
        {0, 0, 100, "Estimating the time left"}, {500, 0, 100, "Estimating the time left"},
        {1000, 10, 100, "About 0:09 left"},      {60000, 1, 3, "About 2:00 left"},
        {1001, 1, 2, "About 0:02 left"},  // rounded up, never "0:00" with pictures left
        {5000, 100, 100, "About 0:00 left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CTimeLapseDialog::TimeLeftText(c.elapsedMs, c.done, c.total).toStdString(),
                  c.text)
            << c.elapsedMs << " ms, " << c.done << " of " << c.total;
}

TEST_F(TimeLapseDialogTest, Screenshots) {
    const char* folder = std::getenv("SKELVANE_SCREENSHOT_DIR");
    if (folder == nullptr) GTEST_SKIP() << "SKELVANE_SCREENSHOT_DIR is not set";
    WritePictures(600, 1280, 720);
    const struct {
        int32_t language;
        const char* suffix;
    } languages[] = {{0, "en"}, {1, "zh"}};
    for (const auto& language : languages) {
        UseLanguage(language.language);
        const std::unique_ptr<CTimeLapseDialog> dialog = Dialog();
        const QString base = QString(folder) + "/timelapse-%1-" + language.suffix + ".png";
        EXPECT_TRUE(dialog->grab().save(base.arg("dialog")));
        dialog->StartButton()->click();
        // A third of the way, 10 s after the start: the count and the time left are those of
        // a movie under way.
        ASSERT_TRUE(WaitFor(
            [&] { return dialog->findChild<QProgressBar*>("timeLapseProgress")->value() >= 200; }));
        processMs_ += 10000;
        const QString estimating = CTimeLapseDialog::TimeLeftText(0, 0, 1);
        ASSERT_TRUE(WaitFor(
            [&] { return dialog->findChild<QLabel*>("timeLapseTimeLeft")->text() != estimating; }));
        EXPECT_TRUE(dialog->grab().save(base.arg("progress")));
        dialog->reject();
        ASSERT_TRUE(WaitFor([&] { return Closed(*dialog); }));
    }
}

}  // namespace
