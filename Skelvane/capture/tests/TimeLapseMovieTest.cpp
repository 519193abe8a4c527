// Time-lapse movies: a folder of pictures, some damaged and one of another size, made into
// a movie that is read back with libavformat and libavcodec.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <turbojpeg.h>

#include "Skelvane/capture/MovieFileWriter.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/TimeLapseMovie.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"
#include "platform/imaging/tests/TestPictures.h"

namespace fs = std::filesystem;
using testing_pictures::kOtherQuadrants;
using testing_pictures::kQuadrants;
using testing_pictures::QuadrantPicture;
using testing_pictures::Quadrants;

namespace {

constexpr const char* kWriteFailure = "Unable to Write Video Stream to the output Movie File";

// The colours at the quadrant centres of a decoded movie frame.
Quadrants Centres(const DecodedPicture& frame) {
    imaging::BgrBitmap bitmap{frame.width, frame.height, frame.bgr};
    return testing_pictures::QuadrantCentres(bitmap);
}

class TimeLapseTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());
        pictures_ = TimedShots();
    }

    void WritePicture(const std::string& name, int width, int height,
                      const Quadrants& colours = kQuadrants) {
        ASSERT_EQ(imaging::WriteJpegFile(QuadrantPicture(width, height, colours).View(),
                                         pictures_ + "/" + name, 90)
                      .status,
                  Gdiplus::Ok);
    }

    void WriteFullChromaPicture(const std::string& name, int width, int height) {
        const imaging::BgrBitmap picture = QuadrantPicture(width, height);
        tjhandle encoder = tjInitCompress();
        unsigned char* bytes = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(tjCompress2(encoder, picture.pixels.data(), width, width * 3, height, TJPF_BGR,
                              &bytes, &size, TJSAMP_444, 90, 0),
                  0);
        std::ofstream(pictures_ + "/" + name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
        tjFree(bytes);
        tjDestroy(encoder);
    }

    // A picture whose file is not a clean JPEG.
    void WriteDamaged(const std::string& name, int kind) {
        const std::string path = pictures_ + "/" + name;
        if (kind == 0) {  // cut short, as by a full disk or a pulled card
            WritePicture(name, 64, 48);
            fs::resize_file(path, fs::file_size(path) / 2);
        } else {
            std::ofstream file(path, std::ios::binary);
            if (kind == 1) file << "not a picture at all";  // kind 2: empty
        }
    }

    std::vector<std::string> MovieFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Movies()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    std::string pictures_;
};

TEST_F(TimeLapseTest, PicturesAreTheFolderJpegsInNameOrder) {
    for (const char* name : {"T_0002.jpg", "T_0010.jpg", "T_0001.jpg", "notes.txt", "jpg"})
        Place(pictures_, name);
    Place(pictures_, "folder.jpg/");
    fs::create_symlink(pictures_ + "/T_0001.jpg", pictures_ + "/T_0003.jpg");
    EXPECT_EQ(TimeLapsePictures(pictures_),
              (std::vector<std::string>{pictures_ + "/T_0001.jpg", pictures_ + "/T_0002.jpg",
                                        pictures_ + "/T_0003.jpg", pictures_ + "/T_0010.jpg"}));
    EXPECT_TRUE(TimeLapsePictures(pictures_ + "/gone").empty());
}

// 100 pictures: three damaged ones are skipped and counted, the one of another size is
// scaled to the first one's, and each rate gives a movie of its own, never over another.
TEST_F(TimeLapseTest, MakesAMovieOfTheCleanPicturesAtTheChosenRate) {
    constexpr int kPictures = 100;
    constexpr int kOtherSize = 55;
    constexpr int kFullChroma = 20;  // 4:4:4, where the others are 4:2:0
    const std::set<int> damaged = {10, 40, 77};
    for (int i = 0; i < kPictures; ++i) {
        char name[32];
        std::snprintf(name, sizeof(name), "T_%04d.jpg", i);
        if (damaged.count(i) != 0)
            WriteDamaged(name, static_cast<int>(std::distance(damaged.begin(), damaged.find(i))));
        else if (i == kOtherSize)
            WritePicture(name, 128, 96, kOtherQuadrants);
        else if (i == kFullChroma)
            WriteFullChromaPicture(name, 64, 48);
        else
            WritePicture(name, 64, 48);
    }
    // The picture of another size, counted among the frames written before it.
    const int otherFrame = kOtherSize - 2;
    const std::vector<std::string> pictures = TimeLapsePictures(pictures_);
    std::set<std::string> made;
    for (uint32_t rate : kTimeLapseRates) {
        SCOPED_TRACE(rate);
        CTimeLapseBuilder builder(pictures, Movies(), rate);
        ASSERT_EQ(builder.Run(), CTimeLapseBuilder::kMade);
        EXPECT_EQ(builder.Result(), CTimeLapseBuilder::kMade);
        EXPECT_EQ(builder.Done(), kPictures);
        EXPECT_EQ(builder.Skipped(), 3);
        EXPECT_EQ(fs::path(builder.MoviePath()).parent_path(), Movies());
        EXPECT_TRUE(made.insert(builder.MoviePath()).second);

        const MovieContents movie = ReadMovie(builder.MoviePath());
        ASSERT_TRUE(movie.opened);
        EXPECT_EQ(movie.codecTag, "XVID");
        EXPECT_EQ(movie.width, 64);
        EXPECT_EQ(movie.height, 48);
        EXPECT_EQ(movie.rateNumerator, static_cast<int>(rate));
        EXPECT_EQ(movie.rateDenominator, 1);
        EXPECT_EQ(movie.guessedRateNumerator, static_cast<int>(rate));
        EXPECT_EQ(movie.packets, kPictures - 3);
        EXPECT_EQ(movie.keyPackets, kPictures - 3);
        EXPECT_EQ(movie.decodeErrors, 0);
        ASSERT_EQ(movie.pictures.size(), static_cast<size_t>(kPictures - 3));
        // Colours close enough to tell a picture's range of values from the movie's.
        for (int frame :
             {0, kFullChroma - 1, otherFrame - 1, otherFrame, otherFrame + 1, kPictures - 4}) {
            SCOPED_TRACE(frame);
            EXPECT_TRUE(testing_pictures::QuadrantsNear(
                Centres(movie.pictures[frame]), frame == otherFrame ? kOtherQuadrants : kQuadrants,
                8));
        }
    }
    EXPECT_EQ(MovieFiles().size(), made.size());
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(TimeLapseTest, CancelledMovieLeavesNoFile) {
    constexpr int kPictures = 200;
    for (int i = 0; i < kPictures; ++i)
        WritePicture("T_" + std::to_string(1000 + i) + ".jpg", 320, 240);
    CTimeLapseBuilder builder(TimeLapsePictures(pictures_), Movies(), kDefaultTimeLapseRate);
    std::atomic<CTimeLapseBuilder::Outcome> outcome{CTimeLapseBuilder::kRunning};
    std::thread worker([&] { outcome = builder.Run(); });
    while (builder.Done() < kPictures / 2 && builder.Result() == CTimeLapseBuilder::kRunning)
        std::this_thread::yield();
    builder.Cancel();
    worker.join();
    EXPECT_EQ(outcome.load(), CTimeLapseBuilder::kCancelled);
    EXPECT_LT(builder.Done(), kPictures);
    EXPECT_TRUE(builder.MoviePath().empty());
    EXPECT_TRUE(MovieFiles().empty());
    EXPECT_TRUE(boxes_->Texts().empty());
}

// A disk that fills while the movie is written, or before its first picture is stored,
// gives the writer's box and leaves no file in the movies folder.
TEST_F(TimeLapseTest, FullDiskShowsTheBoxAndLeavesNoFile) {
    for (int i = 0; i < 30; ++i) WritePicture("T_" + std::to_string(1000 + i) + ".jpg", 320, 240);
    const struct {
        rlim_t fileLimit;
        const char* box;
    } cases[] = {{1000, "Unable to Set Video Stream Format"}, {20000, kWriteFailure}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fileLimit);
        const std::string reported = RecordWithFileLimit(c.fileLimit, [&] {
            CTimeLapseBuilder builder(TimeLapsePictures(pictures_), Movies(), 12);
            const CTimeLapseBuilder::Outcome outcome = builder.Run();
            std::string texts = std::to_string(outcome) + ":";
            for (const std::string& text : boxes_->Texts()) texts += text + "|";
            return texts;
        });
        EXPECT_EQ(reported, std::to_string(CTimeLapseBuilder::kFailed) + ":" + c.box + "|");
        EXPECT_TRUE(MovieFiles().empty());
    }
}

TEST_F(TimeLapseTest, NoPictureThatDecodesGivesABoxAndNoFile) {
    WriteDamaged("T_0001.jpg", 0);
    WriteDamaged("T_0002.jpg", 1);
    CTimeLapseBuilder builder(TimeLapsePictures(pictures_), Movies(), kDefaultTimeLapseRate);
    EXPECT_EQ(builder.Run(), CTimeLapseBuilder::kFailed);
    EXPECT_EQ(builder.Skipped(), 2);
    EXPECT_EQ(boxes_->Texts(), std::vector<std::string>{builder.ErrorText()});
    EXPECT_TRUE(MovieFiles().empty());
}

}  // namespace
