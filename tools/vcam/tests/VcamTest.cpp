// The parts of skelvane-vcam that need no kernel module: the conversion into what readers
// get, the notice picture, the search for readers, and the remembered size. The device
// itself is tried in the test VM against the real v4l2loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QGuiApplication>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/support/TempFolder.h"
#include "tools/camsim/TestPattern.h"
#include "tools/vcam/NoticePicture.h"
#include "tools/vcam/ReaderWatch.h"
#include "tools/vcam/VcamService.h"
#include "tools/vcam/YuyvConverter.h"

namespace vcam {
namespace {

struct Rgb {
    int r, g, b;
};

// The colour of pixel (x, y) of a YUYV picture, with BT.601 limited-range coefficients.
Rgb YuyvPixel(const std::vector<uint8_t>& yuyv, int width, int x, int y) {
    const uint8_t* pair = yuyv.data() + (static_cast<size_t>(y) * width + (x & ~1)) * 2;
    const double luma = 1.164 * ((x & 1 ? pair[2] : pair[0]) - 16);
    const double u = pair[1] - 128, v = pair[3] - 128;
    auto clamp = [](double value) { return std::clamp(static_cast<int>(value + 0.5), 0, 255); };
    return {clamp(luma + 1.596 * v), clamp(luma - 0.392 * u - 0.813 * v), clamp(luma + 2.017 * u)};
}

void ExpectColour(const Rgb& seen, const camsim::Rgb& wanted, const char* where) {
    EXPECT_NEAR(seen.r, wanted.red, 12) << where;
    EXPECT_NEAR(seen.g, wanted.green, 12) << where;
    EXPECT_NEAR(seen.b, wanted.blue, 12) << where;
}

// The simulator's four quadrants as a picture of the given layout, rows padded to 4 bytes.
std::vector<uint8_t> QuadrantPicture(int width, int height, PictureLayout layout, int& stride) {
    stride = (width * 3 + 3) & ~3;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * height);
    for (int y = 0; y < height; ++y) {
        const int memoryRow = layout == PictureLayout::kBottomUpBgr24 ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            const camsim::Rgb& c =
                y < height / 2
                    ? (x < width / 2 ? camsim::kTopLeftColour : camsim::kTopRightColour)
                    : (x < width / 2 ? camsim::kBottomLeftColour : camsim::kBottomRightColour);
            uint8_t* p = pixels.data() + static_cast<size_t>(memoryRow) * stride + x * 3;
            const bool bgr = layout == PictureLayout::kBottomUpBgr24;
            p[0] = bgr ? c.blue : c.red;
            p[1] = c.green;
            p[2] = bgr ? c.red : c.blue;
        }
    }
    return pixels;
}

// Pictures reach readers upright and in their colours, at the device's size whatever the
// camera's, from either layout (odd widths pad their rows), through both converters.
TEST(YuyvConverter, UprightTrueColoursAtTheDevicesSize) {
    struct Case {
        int width, height;
        PictureLayout layout;
        int outWidth, outHeight;
    };
    const Case cases[] = {
        {640, 480, PictureLayout::kBottomUpBgr24, 640, 480},
        {322, 241, PictureLayout::kBottomUpBgr24, 322, 241},  // padded rows, a short last band
        {1280, 720, PictureLayout::kBottomUpBgr24, 640, 480},
        {322, 240, PictureLayout::kBottomUpBgr24, 1280, 720},
        {641, 479, PictureLayout::kBottomUpBgr24, 640, 480},
        {640, 480, PictureLayout::kTopDownRgb24, 640, 480},
    };
    CYuyvConverter converter;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " -> " +
                     std::to_string(c.outWidth) + "x" + std::to_string(c.outHeight));
        int stride = 0;
        const auto pixels = QuadrantPicture(c.width, c.height, c.layout, stride);
        std::vector<uint8_t> yuyv;
        ASSERT_TRUE(converter.Convert({pixels.data(), c.width, c.height, stride, c.layout},
                                      c.outWidth, c.outHeight, yuyv));
        ASSERT_EQ(yuyv.size(), static_cast<size_t>(c.outWidth) * c.outHeight * 2);
        const int w = c.outWidth, h = c.outHeight;
        ExpectColour(YuyvPixel(yuyv, w, w / 4, h / 4), camsim::kTopLeftColour, "top left");
        ExpectColour(YuyvPixel(yuyv, w, 3 * w / 4, h / 4), camsim::kTopRightColour, "top right");
        ExpectColour(YuyvPixel(yuyv, w, w / 4, 3 * h / 4), camsim::kBottomLeftColour,
                     "bottom left");
        ExpectColour(YuyvPixel(yuyv, w, 3 * w / 4, 3 * h / 4), camsim::kBottomRightColour,
                     "bottom right");
    }
}

TEST(YuyvConverter, RefusesWhatItCannotConvert) {
    CYuyvConverter converter;
    int stride = 0;
    const auto pixels = QuadrantPicture(64, 32, PictureLayout::kBottomUpBgr24, stride);
    std::vector<uint8_t> yuyv;
    const SourcePicture good{pixels.data(), 64, 32, stride, PictureLayout::kBottomUpBgr24};
    EXPECT_FALSE(converter.Convert(good, 63, 32, yuyv)) << "YUYV pairs need an even width";
    EXPECT_FALSE(converter.Convert(good, 0, 32, yuyv));
    SourcePicture shortRows = good;
    shortRows.stride = 64 * 3 - 1;
    EXPECT_FALSE(converter.Convert(shortRows, 64, 32, yuyv));
    EXPECT_TRUE(converter.Convert(good, 64, 32, yuyv));
}

// A picture handed on again is told from a new one: a new picture of a live camera differs
// in its noise all over, a repeat in nothing.
TEST(PictureFingerprint, TellsARepeatFromANewPicture) {
    std::vector<uint8_t> picture(968 * 241), next;
    uint32_t noise = 12345;
    auto draw = [&](std::vector<uint8_t>& pixels) {
        for (uint8_t& byte : pixels)
            byte = static_cast<uint8_t>((noise = noise * 1664525u + 1013904223u) >> 27);
    };
    draw(picture);
    next = picture;
    EXPECT_EQ(PictureFingerprint(picture.data(), static_cast<long>(picture.size())),
              PictureFingerprint(next.data(), static_cast<long>(next.size())));
    draw(next);
    EXPECT_NE(PictureFingerprint(picture.data(), static_cast<long>(picture.size())),
              PictureFingerprint(next.data(), static_cast<long>(next.size())));
}

// The notice fills the device's size with its background and carries text.
TEST(NoticePicture, BackgroundWithText) {
    static int argc = 1;
    static char name[] = "vcam-test";
    static char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);
    for (const auto& [width, height] : {std::pair{640, 480}, std::pair{1280, 720}}) {
        const auto rgb = RenderNoticePicture(width, height, "127.0.0.1:8080");
        ASSERT_EQ(rgb.size(), static_cast<size_t>(width) * height * 3);
        size_t background = 0;
        for (size_t i = 0; i < rgb.size(); i += 3)
            background += rgb[i] == kNoticeBackground[0] && rgb[i + 1] == kNoticeBackground[1] &&
                          rgb[i + 2] == kNoticeBackground[2];
        const size_t pixels = rgb.size() / 3;
        EXPECT_GT(background, pixels * 8 / 10) << width;
        EXPECT_LT(background, pixels) << "no text drawn at " << width;
    }
}

// A process table of our own making: each process folder has fd links and a maps file.
class ReaderWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        node_ = (folder_.Path() / "video7").string();
        std::ofstream(node_).put('x');
        struct stat status {};
        ASSERT_EQ(stat(node_.c_str(), &status), 0);
        inode_ = status.st_ino;
        std::filesystem::create_directory(folder_.Path() / "proc");
    }
    std::string Proc() const { return (folder_.Path() / "proc").string(); }
    // A process holding `fds` (link targets) and mapping the given (inode, path) pairs.
    void AddProcess(pid_t pid, const std::vector<std::string>& fds,
                    const std::vector<std::pair<unsigned long, std::string>>& mappings) {
        const auto dir = folder_.Path() / "proc" / std::to_string(pid);
        std::filesystem::create_directories(dir / "fd");
        for (size_t i = 0; i < fds.size(); ++i)
            std::filesystem::create_symlink(fds[i], dir / "fd" / std::to_string(i + 3));
        std::ofstream maps(dir / "maps");
        maps << "55d0c0000000-55d0c0001000 r-xp 00000000 08:01 42 /usr/bin/reader\n";
        for (const auto& [inode, path] : mappings)
            maps << "7f0000000000-7f0000096000 rw-s 00000000 00:05 " << inode << "        " << path
                 << "\n";
    }
    void RemoveProcess(pid_t pid) {
        std::filesystem::remove_all(folder_.Path() / "proc" / std::to_string(pid));
    }

    support::TempFolder folder_{"vcam-readers"};
    std::string node_;
    unsigned long inode_ = 0;
};

// Readers are the other processes that hold the device and map its buffers; this process,
// holders that map nothing, and mappings of another file of that name do not count.
TEST_F(ReaderWatchTest, CountsOtherProcessesThatMapTheDevice) {
    CReaderWatch watch(Proc());
    std::string error;
    ASSERT_TRUE(watch.Open(node_, error)) << error;
    AddProcess(getpid(), {node_}, {{inode_, node_}});
    AddProcess(100, {"/dev/null", node_}, {});                     // probing only
    AddProcess(101, {"socket:[1234]", node_}, {{inode_, node_}});  // streaming
    AddProcess(102, {node_ + "0"}, {{inode_, node_ + "0"}});       // another node
    AddProcess(103, {"/dev/null"}, {{inode_ + 1, node_}});         // a replaced node
    watch.FindOpeners();
    EXPECT_TRUE(watch.HasOpeners());
    EXPECT_EQ(watch.CountReaders(), 1);

    AddProcess(104, {node_}, {{inode_, node_}});
    EXPECT_EQ(watch.CountReaders(), 1) << "a new holder is found only by FindOpeners";
    watch.FindOpeners();
    EXPECT_EQ(watch.CountReaders(), 2);

    RemoveProcess(101);
    RemoveProcess(104);
    EXPECT_EQ(watch.CountReaders(), 0) << "ended processes are forgotten";
    RemoveProcess(100);
    watch.FindOpeners();
    EXPECT_FALSE(watch.HasOpeners());
}

// Opening and closing the node is noticed, so the table is only looked through then.
TEST_F(ReaderWatchTest, NoticesOpensAndCloses) {
    CReaderWatch watch(Proc());
    std::string error;
    ASSERT_TRUE(watch.Open(node_, error)) << error;
    EXPECT_FALSE(watch.TakeNotices());
    const int fd = open(node_.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(watch.TakeNotices());
    close(fd);
    EXPECT_TRUE(watch.TakeNotices());
    EXPECT_FALSE(watch.TakeNotices());

    CReaderWatch missing(Proc());
    EXPECT_FALSE(missing.Open(node_ + "-gone", error));
    EXPECT_NE(error.find("video7-gone"), std::string::npos) << error;
}

// The device's size is kept between runs; what the store holds is only taken when a device
// could hold it.
TEST(RememberedSize, KeptBetweenRunsAndCheckedWhenRead) {
    struct Case {
        int width, height;
        int expectWidth, expectHeight;
    };
    const Case cases[] = {
        {1280, 720, 1280, 720},
        {1920, 1080, 1920, 1080},
        {641, 480, kFirstWidth, kFirstHeight},
        {0, 480, kFirstWidth, kFirstHeight},
        {640, 0, kFirstWidth, kFirstHeight},
        {16384, 480, kFirstWidth, kFirstHeight},
    };
    for (const Case& c : cases) {
        RememberSize(c.width, c.height);
        int width = 0, height = 0;
        ReadRememberedSize(width, height);
        EXPECT_EQ(width, c.expectWidth) << c.width << "x" << c.height;
        EXPECT_EQ(height, c.expectHeight) << c.width << "x" << c.height;
    }
}

}  // namespace
}  // namespace vcam
