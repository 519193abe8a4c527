// The movie writer and the recording step: the AVI files they leave, read back with
// libavformat and libavcodec.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>

#include "Skelvane/capture/MovieFileWriter.h"
#include "Skelvane/capture/MovieRecording.h"
#include "Skelvane/capture/TextFormat.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"
#include "Skelvane/settings/SettingParam.h"

namespace {

constexpr const char* kWriteFailure = "Unable to Write Video Stream to the output Movie File";

// Every byte random: the frame compresses worst of all.
TestFrame Noise(int32_t width, int32_t height, uint32_t seed) {
    TestFrame frame(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint32_t value = random();
            frame.Set(x, y, value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
        }
    return frame;
}

HRESULT Append(CMovieFileWriter& writer, TestFrame& frame) {
    const FrameBuffer buffer = frame.Buffer();
    return writer.AppendFrame(buffer.width, buffer.height, buffer.data, 24);
}

uint64_t Sum(const std::vector<int>& sizes) {
    return std::accumulate(sizes.begin(), sizes.end(), uint64_t{0});
}

class MovieTest : public CaptureTest {
protected:
    void TearDown() override {
        CMovieRecording::Destroy();
        CaptureTest::TearDown();
    }

    // Capture size and the movie settings (movieresolution 0 = 320 x 240, 1 = 640 x 480).
    void UseMovieSettings(int32_t movieresolution, int32_t captureWidth, int32_t captureHeight,
                          int32_t moviesizemax = 16) {
        UseSettings(0, captureWidth, captureHeight);
        CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
        param.movieresolution = movieresolution;
        param.moviesizemax = moviesizemax;
        CSettingParamManage::Instance()->Apply(param);
    }

    std::string MoviePath(const std::string& name = "movie.avi") const {
        return folder_ + "/" + name;
    }

    static std::string SaveFileText(const std::string& path, int error) {
        return FormatWithText("Save file %s failure", path) + std::strerror(error);
    }
};

TEST_F(MovieTest, WritesAnUprightXvidAviOfKeyFramesInTheFrameColours) {
    // 90 pixels make 270-byte rows padded to 272: the padding must not shear the picture.
    TestFrame frame = TestFrame::Quadrants(90, 60);
    const std::string path = MoviePath();
    CMovieFileWriter writer(path);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(Append(writer, frame), S_OK);
    EXPECT_EQ(writer.GetState(), CMovieFileWriter::kWriting);
    const uint64_t stored = writer.AccumulatedSize();
    writer.Close();

    const MovieContents movie = ReadMovie(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.format, "avi");
    EXPECT_EQ(movie.streams, 1);
    EXPECT_EQ(movie.codec, "mpeg4");
    EXPECT_EQ(movie.codecTag, "XVID");
    EXPECT_EQ(movie.title, "Video Stream");
    EXPECT_EQ(movie.width, 90);
    EXPECT_EQ(movie.height, 60);
    EXPECT_EQ(movie.packets, 5);
    EXPECT_EQ(movie.keyPackets, 5);
    EXPECT_EQ(Sum(movie.packetSizes), stored);
    EXPECT_EQ(movie.decodeErrors, 0);
    ASSERT_EQ(movie.pictures.size(), 5u);
    const struct {
        int x, y;
        std::vector<int> bgr;
    } quadrants[] = {{22, 15, {0, 0, 255}},
                     {67, 15, {0, 255, 0}},
                     {22, 45, {255, 0, 0}},
                     {67, 45, {255, 255, 255}}};
    for (const DecodedPicture& picture : movie.pictures) {
        for (const auto& quadrant : quadrants) {
            const std::vector<int> seen = picture.At(quadrant.x, quadrant.y);
            for (int channel = 0; channel < 3; ++channel)
                EXPECT_NEAR(seen[channel], quadrant.bgr[channel], 24)
                    << "at " << quadrant.x << "," << quadrant.y;
        }
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(MovieTest, CloseWritesTheAchievedRateIntoTheStreamHeader) {
    const struct {
        int frames;
        int64_t elapsedMs;
        uint32_t rate;
    } cases[] = {{300, 25000, 12}, {300, 10000, 30}, {300, 0, 12}, {1, 5000, 1}};
    TestFrame frame = TestFrame::Quadrants(32, 24);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.frames << " frames over " << c.elapsedMs << " ms");
        const std::string path =
            MoviePath(std::to_string(c.elapsedMs) + "-" + std::to_string(c.frames) + ".avi");
        CMovieFileWriter writer(path);
        processMs_ = 7000;
        for (int i = 0; i < c.frames; ++i) ASSERT_EQ(Append(writer, frame), S_OK);
        processMs_ = 7000 + c.elapsedMs;
        writer.Close();
        EXPECT_EQ(FileWordAt(path, 128), 1u);  // scale
        EXPECT_EQ(FileWordAt(path, kAviStreamRateOffset), c.rate);
        const MovieContents movie = ReadMovie(path);
        EXPECT_EQ(movie.rateNumerator, static_cast<int>(c.rate));
        EXPECT_EQ(movie.rateDenominator, 1);
        // The pictures do not contradict the header, so players keep every frame.
        EXPECT_EQ(movie.guessedRateNumerator, static_cast<int>(c.rate));
        EXPECT_EQ(movie.guessedRateDenominator, 1);
        EXPECT_EQ(movie.packets, c.frames);
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(MovieTest, SizeLimitStopsAtTheFirstFrameAfterItAndLeavesAWholeFile) {
    UseMovieSettings(1, 640, 480, 16);
    std::vector<TestFrame> frames;
    for (uint32_t seed = 1; seed <= 4; ++seed) frames.push_back(Noise(640, 480, seed));
    FakeOwner owner;
    const std::string path = MoviePath();
    CMovieRecording::Instance()->OpenWriter(path);
    int steps = 0;
    while (owner.Events().empty() && steps < 1000)
        CMovieRecording::Instance()->RecordingStep(owner, frames[steps++ % frames.size()].Buffer());
    EXPECT_EQ(owner.Events(), std::vector<int>{UM_STOP_RECORDING});
    EXPECT_EQ(CMovieRecording::Instance()->CloseWriter(), path);

    const MovieContents movie = ReadMovie(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.packets, steps - 1);  // the frame that met the limit was not written
    EXPECT_EQ(movie.keyPackets, movie.packets);
    EXPECT_EQ(movie.decodeErrors, 0);
    EXPECT_GE(Sum(movie.packetSizes), 16777216u);
    EXPECT_LT(Sum(movie.packetSizes) - movie.packetSizes.back(), 16777216u);
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(MovieTest, FileThatCannotBeCreatedStopsTheRecordingWithOneBox) {
    Place(folder_, "taken.avi", "someone else's");
    const struct {
        std::string path;
        int error;
    } cases[] = {{folder_ + "/absent/movie.avi", ENOENT}, {folder_ + "/taken.avi", EEXIST}};
    UseMovieSettings(0, 320, 240);
    TestFrame frame = TestFrame::Quadrants(320, 240);
    std::vector<std::string> texts;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        FakeOwner owner;
        CMovieRecording::Instance()->OpenWriter(c.path);
        CMovieRecording::Instance()->RecordingStep(owner, frame.Buffer());
        CMovieRecording::Instance()->RecordingStep(owner, frame.Buffer());
        // The writer keeps refusing and asking for the stop; its failure is told once.
        texts.push_back(SaveFileText(c.path, c.error));
        EXPECT_EQ(boxes_->Texts(), texts);
        EXPECT_EQ(owner.Events(), (std::vector<int>{UM_STOP_RECORDING, UM_STOP_RECORDING}));
        EXPECT_EQ(CMovieRecording::Instance()->CloseWriter(), "");
    }
    EXPECT_EQ(boxes_->Captions(), (std::vector<std::string>{"Lumivor", "Lumivor"}));
    EXPECT_EQ(boxes_->Texts(), texts);  // and closing a failed writer adds none
    EXPECT_EQ(ReadWholeFile(folder_ + "/taken.avi"), "someone else's");
}

// The rate is written through the descriptor the movie was recorded with: a movie renamed
// while it was recorded gets its rate, a file that took its name is left alone, and the
// strip is told of no file (the name no longer holds the movie).
TEST_F(MovieTest, MovieRenamedWhileRecordedGetsItsRateAndIsNotRevealed) {
    UseMovieSettings(0, 320, 240);
    TestFrame frame = TestFrame::Quadrants(320, 240);
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "another file took the name" : "renamed away");
        const std::string path = MoviePath(replaced ? "taken.avi" : "renamed.avi");
        const std::string moved = path + ".moved";
        FakeOwner owner;
        processMs_ = 1000;
        CMovieRecording::Instance()->OpenWriter(path);
        for (int i = 0; i < 3; ++i)
            CMovieRecording::Instance()->RecordingStep(owner, frame.Buffer());
        ASSERT_EQ(::rename(path.c_str(), moved.c_str()), 0);
        if (replaced) Place(folder_, "taken.avi", "someone else's");
        processMs_ = 2000;
        EXPECT_EQ(CMovieRecording::Instance()->CloseWriter(), "");
        EXPECT_EQ(FileWordAt(moved, kAviStreamRateOffset), 3u);
        EXPECT_EQ(ReadMovie(moved).packets, 3);
        if (replaced) {
            EXPECT_EQ(ReadWholeFile(path), "someone else's");
        }
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(MovieTest, RecordFrameDropsAtMostThreeFramesWhileTheCaptureSizeDiffers) {
    const struct {
        int32_t captureWidth, captureHeight;
        int32_t written;
    } cases[] = {{320, 240, 5}, {640, 480, 2}};
    TestFrame frame = TestFrame::Quadrants(320, 240);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "capture " << c.captureWidth);
        UseMovieSettings(0, c.captureWidth, c.captureHeight);
        const std::string path = MoviePath(std::to_string(c.captureWidth) + ".avi");
        CMovieFileWriter writer(path);
        const FrameBuffer buffer = frame.Buffer();
        for (int i = 0; i < 5; ++i) EXPECT_EQ(writer.RecordFrame(320, 240, buffer.data), S_OK);
        EXPECT_EQ(writer.FramesWritten(), c.written);
        writer.Close();
        EXPECT_EQ(ReadMovie(path).packets, c.written);
    }
}

TEST_F(MovieTest, KilledRecordingLeavesAFileOfItsWholeFrames) {
    constexpr int kFrames = 6;
    const std::string path = MoviePath();
    const int status = RunInChild(
        [&](int report) {
            TestFrame frame = Noise(320, 240, 7);
            CMovieFileWriter writer(path);
            for (int i = 0; i < kFrames; ++i) {
                if (Append(writer, frame) != S_OK) return;
                const char done = 1;
                if (::write(report, &done, 1) != 1) return;
            }
            ::pause();  // killed here, with the file open
        },
        [&](pid_t child, int report) {
            char done = 0;
            for (int i = 0; i < kFrames; ++i)
                if (::read(report, &done, 1) != 1) break;
            ::kill(child, SIGKILL);
        });
    ASSERT_TRUE(WIFSIGNALED(status));

    const MovieContents movie = ReadMovie(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.codecTag, "XVID");
    EXPECT_EQ(movie.packets, kFrames);
    EXPECT_EQ(movie.keyPackets, kFrames);
    EXPECT_EQ(movie.decodeErrors, 0);
    EXPECT_EQ(movie.pictures.size(), static_cast<size_t>(kFrames));
}

TEST_F(MovieTest, FullDiskEndsTheFileWithItsLastWholeFrame) {
    constexpr rlim_t kFileLimit = 400000;
    const std::string path = MoviePath();
    const std::string reported = RecordWithFileLimit(kFileLimit, [&] {
        TestFrame frame = Noise(320, 240, 9);
        CMovieFileWriter writer(path);
        while (writer.FramesWritten() < 1000 && Append(writer, frame) == S_OK) {
        }
        const std::string text = std::to_string(writer.FramesWritten()) + ":" + writer.ErrorText();
        writer.Close();
        return text;
    });
    const size_t colon = reported.find(':');
    ASSERT_NE(colon, std::string::npos) << reported;
    const int attempted = std::stoi(reported.substr(0, colon));
    EXPECT_EQ(reported.substr(colon + 1), kWriteFailure);

    const MovieContents movie = ReadMovie(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_GE(movie.packets, 1);
    EXPECT_EQ(movie.packets, attempted - 1);  // the frame that did not fit is cut off
    EXPECT_EQ(movie.keyPackets, movie.packets);
    EXPECT_EQ(movie.decodeErrors, 0);
    EXPECT_EQ(FileWordAt(path, kAviStreamRateOffset), kNominalMovieRate);  // failed: no rate fix
}

// A disk that fills before the first frame is stored leaves no file under a media name: a
// movie that holds no frame is removed, and nobody is told of it.
TEST_F(MovieTest, MovieWithoutAFrameIsRemoved) {
    const struct {
        rlim_t fileLimit;
        const char* error;
    } cases[] = {{1000, "Unable to Set Video Stream Format"}, {12000, kWriteFailure}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileLimit);
        const std::string path = MoviePath("limit" + std::to_string(c.fileLimit) + ".avi");
        const std::string reported = RecordWithFileLimit(c.fileLimit, [&] {
            TestFrame frame = Noise(320, 240, 3);
            CMovieFileWriter writer(path);
            const HRESULT appended = Append(writer, frame);
            writer.Close();
            return std::to_string(appended) + ":" + writer.ErrorText() + ":" +
                   std::to_string(writer.FileCreated());
        });
        EXPECT_EQ(reported, std::to_string(E_FAIL) + ":" + c.error + ":0");
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

// The index is the last thing written; a disk that fills then is reported with the write
// failure box, and the file keeps its frames and the nominal rate.
TEST_F(MovieTest, IndexThatCannotBeWrittenIsReported) {
    const std::string path = MoviePath();
    const std::string reported = RecordWithFileLimit(RLIM_INFINITY, [&] {
        TestFrame frame = Noise(320, 240, 5);
        CMovieFileWriter writer(path);
        processMs_ = 1000;
        for (int i = 0; i < 5; ++i)
            if (Append(writer, frame) != S_OK) return std::string("append failed");
        // From here on the file cannot grow.
        const auto size = static_cast<rlim_t>(std::filesystem::file_size(path));
        const rlimit limit{size, size};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        processMs_ = 2000;
        writer.Close();
        std::string texts;
        for (const std::string& text : boxes_->Texts()) texts += text + "|";
        return texts + std::to_string(writer.FileCreated());
    });
    EXPECT_EQ(reported, std::string(kWriteFailure) + "|1");
    const MovieContents movie = ReadMovie(path);
    ASSERT_TRUE(movie.opened);
    EXPECT_EQ(movie.packets, 5);
    EXPECT_EQ(movie.decodeErrors, 0);
    EXPECT_EQ(FileWordAt(path, kAviStreamRateOffset), kNominalMovieRate);
}

}  // namespace
