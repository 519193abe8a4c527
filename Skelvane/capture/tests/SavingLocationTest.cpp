#include <cstdlib>
#include <filesystem>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"

namespace {

struct NamingCase {
    const char* title;
    std::vector<std::string> present;   // relative to the kind folder; "x/" is a folder
    std::vector<std::string> expected;  // the next names, relative to the kind folder
};

CSavingLoactionManage& Locations() {
    return *CSavingLoactionManage::Instance();
}

TEST(SavingLocationNames, PadNumberAndParseFlatName) {
    const std::pair<std::pair<int64_t, int>, const char*> pads[] = {
        {{7, 3}, "007"},   {{1000, 3}, "1000"},   {{12, 3}, "012"},
        {{12, 4}, "0012"}, {{12345, 4}, "12345"}, {{0, 4}, "0000"}};
    for (const auto& [input, expected] : pads)
        EXPECT_EQ(PadNumber(input.first, input.second), expected) << input.first;

    const auto timed = ParseFlatName("T20160406_002_0015.jpg", kMediaTimedShot);
    ASSERT_TRUE(timed);
    EXPECT_EQ(timed->date, "20160406");
    EXPECT_EQ(timed->run, 2);
    EXPECT_EQ(timed->number, 15);
    const auto movie = ParseFlatName("M20160406_10000.avi", kMediaMovie);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->number, 10000);
    for (const char* rejected : {"M20160406.avi", "M2016x406_0001.avi", "M20160406_00a1.avi",
                                 ".M20160406_0001.avi.1-2.tmp"})
        EXPECT_FALSE(ParseFlatName(rejected, kMediaMovie)) << rejected;
    EXPECT_FALSE(ParseFlatName("T20160406_0015.jpg", kMediaTimedShot));
}

class SavingLocationTest : public CaptureTest {
protected:
    void Check(const NamingCase& row, const std::string& kindFolder,
               const std::function<bool(std::string&)>& next) {
        std::filesystem::remove_all(kindFolder);
        std::filesystem::create_directories(kindFolder);
        for (const std::string& name : row.present) Place(kindFolder, name);
        for (const std::string& expected : row.expected) {
            std::string path;
            ASSERT_TRUE(next(path)) << row.title;
            EXPECT_EQ(path, kindFolder + "/" + expected) << row.title;
            EXPECT_FALSE(std::filesystem::exists(path)) << row.title;
            Place(kindFolder, path.substr(kindFolder.size() + 1));
        }
    }
};

TEST_F(SavingLocationTest, FlatMoviesAndSingleShotsFollowTheNewestName) {
    UseSettings(0);
    const NamingCase movies[] = {
        {"empty folder", {}, {"M20160406_0001.avi", "M20160406_0002.avi"}},
        {"same day", {"M20160406_0007.avi"}, {"M20160406_0008.avi"}},
        {"older day", {"M20160405_0030.avi"}, {"M20160406_0001.avi"}},
        {"later day", {"M20160407_0002.avi"}, {"M20160407_0003.avi"}},
        {"folders and other names do not count",
         {"M20160406_0099.avi/", "notes.txt", "M2016x406_0050.avi"},
         {"M20160406_0001.avi"}},
        {"past 9999 the greatest name is taken",
         {"M20160406_9999.avi", "M20160406_10000.avi"},
         {"M20160406_10001.avi", "M20160406_10002.avi"}},
        {"a file placed under the next name is skipped",
         {"M20160406_0003.avi", "M20160406_0004.avi/"},
         {"M20160406_0005.avi"}},
    };
    for (const NamingCase& row : movies)
        Check(row, Movies(),
              [this](std::string& path) { return Locations().NextMovieFile(Movies(), path); });

    Check(
        {"single shots", {"S20160406_0003.jpg"}, {"S20160406_0004.jpg"}}, SingleShots(),
        [this](std::string& path) { return Locations().NextSingleShotFile(SingleShots(), path); });
    std::string path;
    EXPECT_FALSE(Locations().NextMovieFile("", path));
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(SavingLocationTest, FlatTimedShotRunsTakeTheNextRunNumber) {
    UseSettings(0);
    const NamingCase runs[] = {
        {"first run", {}, {"T20160406_001_0001.jpg", "T20160406_001_0002.jpg"}},
        {"after a run of the same day",
         {"T20160406_001_0042.jpg"},
         {"T20160406_002_0001.jpg", "T20160406_002_0002.jpg"}},
        {"older day", {"T20160405_007_0003.jpg"}, {"T20160406_001_0001.jpg"}},
        {"later day", {"T20160407_003_0001.jpg"}, {"T20160407_004_0001.jpg"}},
        {"past run 999 no run is shared",
         {"T20160406_999_0001.jpg", "T20160406_1000_0001.jpg"},
         {"T20160406_1001_0001.jpg"}},
    };
    for (const NamingCase& row : runs)
        Check(row, TimedShots(), [this, first = true](std::string& path) mutable {
            if (first && !Locations().BeginTimedShotRun(TimedShots())) return false;
            first = false;
            return Locations().NextTimedShotFile(TimedShots(), path);
        });

    // A file someone put under the run's next name keeps its content.
    std::filesystem::remove_all(TimedShots());
    ASSERT_TRUE(Locations().BeginTimedShotRun(TimedShots()));
    Place(TimedShots(), "T20160406_001_0001.jpg", "theirs");
    std::string path;
    ASSERT_TRUE(Locations().NextTimedShotFile(TimedShots(), path));
    EXPECT_EQ(path, TimedShots() + "/T20160406_001_0002.jpg");
    EXPECT_EQ(ReadWholeFile(TimedShots() + "/T20160406_001_0001.jpg"), "theirs");
}

TEST_F(SavingLocationTest, DatedLayoutNumbersInSubFoldersOfAThousand) {
    UseSettings(1);
    const NamingCase movies[] = {
        {"first movie of the day",
         {},
         {"20160406/000/Movie0000.avi", "20160406/000/Movie0001.avi"}},
        {"999 -> 1000 opens sub-folder 001",
         {"20160406/000/Movie0999.avi"},
         {"20160406/001/Movie1000.avi", "20160406/001/Movie1001.avi"}},
        {"newest sub-folder counts",
         {"20160406/000/Movie0999.avi", "20160406/001/Movie1000.avi"},
         {"20160406/001/Movie1001.avi"}},
        {"a file placed under the next name is skipped",
         {"20160406/000/Movie0002.avi", "20160406/000/Movie0003.avi.part/"},
         {"20160406/000/Movie0004.avi"}},
    };
    for (const NamingCase& row : movies)
        Check(row, Movies(),
              [this](std::string& path) { return Locations().NextMovieFile(Movies(), path); });
    Check(
        {"single shots", {}, {"20160406/000/SingleShot0000.jpg"}}, SingleShots(),
        [this](std::string& path) { return Locations().NextSingleShotFile(SingleShots(), path); });
}

TEST_F(SavingLocationTest, DatedTimedShotRunsGetTheirOwnFolderAndCrossMidnight) {
    UseSettings(1);
    ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());
    std::string path;
    ASSERT_TRUE(Locations().BeginTimedShotRun(TimedShots()));
    ASSERT_TRUE(Locations().NextTimedShotFile(TimedShots(), path));
    EXPECT_EQ(path, TimedShots() + "/20160406/000/TimeShot000-0000.jpg");
    ASSERT_TRUE(Locations().NextTimedShotFile(TimedShots(), path));
    EXPECT_EQ(path, TimedShots() + "/20160406/000/TimeShot000-0001.jpg");

    ASSERT_TRUE(Locations().BeginTimedShotRun(TimedShots()));
    ASSERT_TRUE(Locations().NextTimedShotFile(TimedShots(), path));
    EXPECT_EQ(path, TimedShots() + "/20160406/001/TimeShot001-0000.jpg");

    // The run goes on past midnight in the new day's folder.
    day_ = 7;
    ASSERT_TRUE(Locations().NextTimedShotFile(TimedShots(), path));
    EXPECT_EQ(path, TimedShots() + "/20160407/001/TimeShot001-0001.jpg");
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(SavingLocationTest, FolderChecksShowThePathAndTheSystemText) {
    UseSettings(1);
    EXPECT_TRUE(CSavingLoactionManage::CheckSavingFolder());
    for (const std::string& folder : {MediaRoot(), Movies(), SingleShots(), TimedShots()})
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
    EXPECT_TRUE(boxes_->Texts().empty());

    // A movies folder that is a plain file cannot hold a date folder.
    std::filesystem::remove_all(Movies());
    Place(MediaRoot(), "Movies");
    std::string path;
    EXPECT_FALSE(Locations().NextMovieFile(Movies(), path));
    ASSERT_EQ(boxes_->Texts().size(), 1u);
    EXPECT_EQ(boxes_->Texts()[0], Movies() + "/20160406Not a directory");

    // The documents folder, the default saving folder, is made when a new account lacks it.
    const std::string documents = folder_ + "/home/Documents";
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string previousConfigHome = configHome != nullptr ? configHome : "";
    ASSERT_EQ(setenv("XDG_CONFIG_HOME", (folder_ + "/home/.config").c_str(), 1), 0);
    ASSERT_EQ(sys::DocumentsFolder(), documents);
    SetSavingFolder(documents);
    EXPECT_TRUE(CSavingLoactionManage::CheckSavingFolder());
    if (configHome != nullptr) setenv("XDG_CONFIG_HOME", previousConfigHome.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(std::filesystem::is_directory(documents + "/Skelvane/Movies"));
    ASSERT_EQ(boxes_->Texts().size(), 1u);

    SetSavingFolder(folder_ + "/missing");
    EXPECT_FALSE(CSavingLoactionManage::CheckSavingFolder());
    ASSERT_FALSE(boxes_->Texts().empty());
    EXPECT_EQ(boxes_->Texts().back(), "Don't exist location of  " + folder_ +
                                          "/missing/Skelvane/Movies in setting,please setting");
}

}  // namespace
