// Recording from the main window: the preview is switched to the movie size only when it
// is not already at it, and the frames of the replayed camera end up in a readable movie.
#include <QLabel>

#include "Skelvane/capture/MovieRecording.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"
#include "Skelvane/shell/tests/ViewerTestSupport.h"

namespace viewertest {
namespace {

class RecordingTest : public ViewerTest {
protected:
    void TearDown() override {
        CMovieRecording::Destroy();
        ViewerTest::TearDown();
    }

    std::vector<fs::path> Movies() const {
        std::vector<fs::path> files;
        std::error_code error;
        for (const auto& entry : fs::recursive_directory_iterator(MediaRoot() / "Movies", error))
            if (entry.is_regular_file()) files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        return files;
    }
};

TEST_F(RecordingTest, PreviewIsSwitchedOnlyWhenTheMovieSizeDiffersAndTheMovieIsWritten) {
    auto window = PreviewingWindow();
    ASSERT_TRUE(window->StartPreview({0, 640, 480, false}));
    const struct {
        int32_t movieresolution;
        int width, height;
        bool switched;
    } cases[] = {{1, 640, 480, false}, {0, 320, 240, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "movie " << c.width << " x " << c.height);
        ChangeSettings([&](CSettingParam& param) { param.movieresolution = c.movieresolution; });
        // Every preview start empties the rotation list: an operation left there shows that
        // the preview ran on untouched.
        RotateSampleImp::Instance()->AddOperation(kFlipHorizontal);
        const size_t before = Movies().size();
        window->OnCommand(kIdRecord);
        ASSERT_EQ(window->recording.load(), 1);
        EXPECT_EQ(RotateSampleImp::Instance()->OperationCount() == 0, c.switched);
        EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().captureWidth, c.width);
        // The replayed camera delivers frames until a few are in the file.
        ASSERT_TRUE(WaitUntil([&] {
            const std::vector<fs::path> movies = Movies();
            std::error_code error;
            return movies.size() > before && fs::file_size(movies.back(), error) > 20000;
        }));
        window->OnCommand(kIdRecord);
        EXPECT_EQ(window->recording.load(), 0);
        EXPECT_TRUE(RevealedAtTheEnd(*window, Movies().back(), "Movies"));
        EXPECT_EQ(CSettingParamManage::Instance()->GetCurrent().captureWidth, 640);
        EXPECT_EQ(RotateSampleImp::Instance()->OperationCount() == 0, c.switched);
        RotateSampleImp::Instance()->ClearOperations();

        const MovieContents movie = ReadMovie(Movies().back().string());
        ASSERT_TRUE(movie.opened);
        EXPECT_EQ(movie.codecTag, "XVID");
        EXPECT_EQ(movie.width, c.width);
        EXPECT_EQ(movie.height, c.height);
        EXPECT_GE(movie.packets, 1);
        EXPECT_EQ(movie.keyPackets, movie.packets);
        EXPECT_EQ(movie.decodeErrors, 0);
    }
    EXPECT_EQ(Movies().size(), 2u);
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(RecordingTest, StartingARecordingClosesAWriterLeftOpenFirst) {
    auto window = PreviewingWindow();
    ASSERT_TRUE(window->StartPreview({0, 640, 480, false}));
    ChangeSettings([](CSettingParam& param) { param.movieresolution = 1; });
    const std::string earlier = (Saving() / "earlier.avi").string();
    CMovieRecording::Instance()->OpenWriter(earlier);
    TestFrame frame = TestFrame::Quadrants(640, 480);
    CMovieRecording::Instance()->RecordingStep(*window, frame.Buffer());

    window->OnCommand(kIdRecord);
    ASSERT_EQ(window->recording.load(), 1);
    // Closed: the frame count (stream header byte 140) is in and the index is written.
    EXPECT_EQ(FileWordAt(earlier, 140), 1u);
    const MovieContents movie = ReadMovie(earlier);
    EXPECT_EQ(movie.packets, 1);
    EXPECT_EQ(movie.decodeErrors, 0);
    // The new recording has a file of its own, made with its first frame.
    EXPECT_TRUE(WaitUntil([&] { return Movies().size() == 1; }));
    window->OnCommand(kIdRecord);
    EXPECT_FALSE(CMovieRecording::Instance()->HasWriter());
    EXPECT_TRUE(boxes_->Texts().empty());
}

}  // namespace
}  // namespace viewertest
