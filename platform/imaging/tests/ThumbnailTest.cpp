#include "platform/imaging/Thumbnail.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>

#include "platform/imaging/tests/TestPictures.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;
using testing_pictures::kOtherQuadrants;
using testing_pictures::kQuadrants;
using testing_pictures::QuadrantCentres;
using testing_pictures::QuadrantPicture;
using testing_pictures::QuadrantsNear;

namespace {

// JPEG at quality 100 plus scaling moves a flat quadrant's centre by a few steps at most.
constexpr int kColourTolerance = 12;

TEST(FitThumbnailTest, FitsTheBoxByTheRelativeShape) {
    const struct {
        const char* name;
        int pictureWidth, pictureHeight, boxWidth, top;
        imaging::ThumbnailRect expected;
    } cases[] = {
        {"4:3 in 160 fills the height", 640, 480, 160, 0, {13, 0, 133, 100}},
        {"4:1 in 160 fills the width", 400, 100, 160, 220, {0, 250, 160, 40}},
        {"square", 300, 300, 160, 10, {30, 10, 100, 100}},
        {"exactly the box's shape", 160, 100, 160, 0, {0, 0, 160, 100}},
        {"very wide truncates to no height", 8000, 10, 160, 0, {0, 50, 160, 0}},
        {"very tall truncates to no width", 10, 8000, 160, 0, {80, 0, 0, 100}},
        {"box of one pixel", 640, 480, 1, 0, {0, 50, 1, 0}},
        {"no picture width", 0, 480, 160, 10, {}},
        {"negative picture height", 640, -1, 160, 10, {}},
        {"no box width", 640, 480, 0, 10, {}},
        {"negative box width", 640, 480, -160, 10, {}},
    };
    for (const auto& c : cases) {
        const imaging::ThumbnailRect got =
            imaging::FitThumbnail(c.pictureWidth, c.pictureHeight, c.boxWidth, c.top);
        EXPECT_EQ(got.x, c.expected.x) << c.name;
        EXPECT_EQ(got.y, c.expected.y) << c.name;
        EXPECT_EQ(got.width, c.expected.width) << c.name;
        EXPECT_EQ(got.height, c.expected.height) << c.name;
    }
}

class ThumbnailFileTest : public ::testing::Test {
protected:
    std::string WriteJpeg(const std::string& name, int width, int height) const {
        const std::string path = (folder_ / name).string();
        const imaging::BgrBitmap picture = QuadrantPicture(width, height);
        EXPECT_EQ(imaging::WriteJpegFile(picture.View(), path, 100).status, Gdiplus::Ok) << path;
        return path;
    }

    std::string WriteText(const std::string& name, const std::string& text) const {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }

    std::string WriteMovie(const std::string& name, std::vector<imaging::BgrBitmap> frames,
                           int width, int height) const {
        const std::string path = (folder_ / name).string();
        EXPECT_TRUE(testing_pictures::WriteTestMovie(path, frames, width, height)) << path;
        return path;
    }

    static std::string ReadBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    support::TempFolder folder_{"skelvane-thumbnail"};
};

TEST_F(ThumbnailFileTest, JpegIsDecodedAtTheFittedSizeWithItsColoursInPlace) {
    const struct {
        const char* name;
        int width, height, boxWidth;
        int expectedWidth, expectedHeight;
        bool coloursComparable;  // large enough for its quadrants to survive the reduction
    } cases[] = {
        {"full HD", 1920, 1080, 160, 160, 90, true},
        {"VGA", 640, 480, 160, 133, 100, true},
        {"VGA in a wide box", 640, 480, 400, 133, 100, true},
        {"tall", 300, 3000, 160, 10, 100, true},
        {"wide", 3000, 300, 160, 160, 16, true},
        {"a sliver is kept one pixel high", 2000, 8, 160, 160, 1, false},
        {"tiny is enlarged", 8, 6, 160, 133, 100, false},
        {"no box width gives the whole picture", 640, 480, 0, 640, 480, true},
    };
    for (const auto& c : cases) {
        const std::string path = WriteJpeg(std::string(c.name) + ".jpg", c.width, c.height);
        const std::optional<imaging::BgrBitmap> thumbnail =
            imaging::DecodeJpegThumbnail(path, c.boxWidth);
        ASSERT_TRUE(thumbnail) << c.name;
        EXPECT_EQ(thumbnail->width, c.expectedWidth) << c.name;
        EXPECT_EQ(thumbnail->height, c.expectedHeight) << c.name;
        ASSERT_EQ(thumbnail->pixels.size(), size_t{3} * thumbnail->width * thumbnail->height)
            << c.name;
        if (c.coloursComparable) {
            EXPECT_TRUE(QuadrantsNear(QuadrantCentres(*thumbnail), kQuadrants, kColourTolerance))
                << c.name;
        }
    }
}

TEST_F(ThumbnailFileTest, UnusableJpegFilesGiveNothing) {
    const std::string bytes = ReadBytes(WriteJpeg("whole.jpg", 640, 480));
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing", (folder_ / "missing.jpg").string()},
        {"empty", WriteText("empty.jpg", "")},
        {"text", WriteText("text.jpg", "a letter, not a picture\n")},
        {"header only", WriteText("header.jpg", bytes.substr(0, 600))},
        {"wider than accepted", WriteJpeg("wide.jpg", imaging::kMaxThumbnailSourceSide + 1, 8)},
        {"a folder", (folder_ / "folder.jpg").string()},
    };
    fs::create_directory(folder_ / "folder.jpg");
    for (const auto& c : cases) EXPECT_FALSE(imaging::DecodeJpegThumbnail(c.path, 160)) << c.name;
}

// What libjpeg only warns about is shown, as every viewer shows it: stray bytes between
// the data and the end marker, and a file cut short (its lower part comes out grey).
TEST_F(ThumbnailFileTest, JpegsWithWarningsAreShown) {
    const std::string bytes = ReadBytes(WriteJpeg("whole.jpg", 640, 480));
    ASSERT_EQ(bytes.substr(bytes.size() - 2), "\xff\xd9");
    const std::string strayBytes =
        bytes.substr(0, bytes.size() - 2) + std::string(7, '\x42') + "\xff\xd9";
    const struct {
        const char* name;
        std::string path;
        bool wholePicture;
    } cases[] = {
        {"extraneous bytes before the end marker", WriteText("stray.jpg", strayBytes), true},
        {"cut short", WriteText("truncated.jpg", bytes.substr(0, bytes.size() / 2)), false},
    };
    for (const auto& c : cases) {
        const std::optional<imaging::BgrBitmap> thumbnail =
            imaging::DecodeJpegThumbnail(c.path, 160);
        ASSERT_TRUE(thumbnail) << c.name;
        EXPECT_EQ(thumbnail->width, 133) << c.name;
        EXPECT_EQ(thumbnail->height, 100) << c.name;
        const auto centres = QuadrantCentres(*thumbnail);
        // The upper quadrants decode in both; the lower ones only in the whole file.
        EXPECT_TRUE(QuadrantsNear({centres[0], centres[1], kQuadrants[2], kQuadrants[3]},
                                  kQuadrants, kColourTolerance))
            << c.name;
        EXPECT_EQ(QuadrantsNear(centres, kQuadrants, kColourTolerance), c.wholePicture) << c.name;
    }
}

// Anything but a regular file named like a picture or a movie gives nothing at once: a FIFO
// would block an open for reading until a writer came, and the decoding thread with it.
TEST_F(ThumbnailFileTest, SpecialFilesGiveNothingWithoutBlocking) {
    const std::string picture = WriteJpeg("picture.jpg", 640, 480);
    const std::string movie = WriteMovie("movie.avi", {QuadrantPicture(320, 240)}, 320, 240);
    ASSERT_EQ(mkfifo((folder_ / "fifo.jpg").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((folder_ / "fifo.avi").c_str(), 0600), 0);
    fs::create_symlink(folder_ / "fifo.jpg", folder_ / "link-to-fifo.jpg");
    fs::create_symlink(folder_ / "fifo.avi", folder_ / "link-to-fifo.avi");
    fs::create_symlink(picture, folder_ / "link.jpg");
    fs::create_symlink(movie, folder_ / "link.avi");
    fs::create_directory(folder_ / "folder.avi");
    const struct {
        const char* name;
        bool shown;
    } cases[] = {
        {"fifo.jpg", false},         {"fifo.avi", false},   {"link-to-fifo.jpg", false},
        {"link-to-fifo.avi", false}, {"folder.avi", false}, {"/dev/zero.jpg", false},
        {"link.jpg", true},          {"link.avi", true},
    };
    for (const auto& c : cases) {
        const std::string path = c.name[0] == '/' ? c.name : (folder_ / c.name).string();
        auto loaded =
            std::async(std::launch::async, [&path] { return imaging::LoadThumbnail(path, 160); });
        if (loaded.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            ADD_FAILURE() << c.name << " blocked the decoder";
            // A writer lets the blocked open go on, so the test can end.
            const int writer = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            loaded.wait();
            if (writer >= 0) close(writer);
            continue;
        }
        EXPECT_EQ(loaded.get().has_value(), c.shown) << c.name;
    }
}

TEST_F(ThumbnailFileTest, CancelledMovieDecodeGivesNothing) {
    const std::string movie = WriteMovie("movie.avi", {QuadrantPicture(320, 240)}, 320, 240);
    const imaging::CancelFlag cancelled{true};
    const imaging::CancelFlag going{false};
    EXPECT_FALSE(imaging::FirstMovieFrame(movie, 160, &cancelled));
    EXPECT_TRUE(imaging::FirstMovieFrame(movie, 160, &going));
}

TEST_F(ThumbnailFileTest, MovieGivesItsFirstFrame) {
    const std::vector<imaging::BgrBitmap> frames{QuadrantPicture(320, 240),
                                                 QuadrantPicture(320, 240, kOtherQuadrants)};
    const std::string twoFrames = WriteMovie("two.avi", frames, 320, 240);
    const std::string oneFrame = WriteMovie("one.avi", {frames[0]}, 320, 240);
    const struct {
        const char* name;
        std::string path;
        int boxWidth, expectedWidth, expectedHeight;
    } cases[] = {
        {"two frames", twoFrames, 160, 133, 100},
        {"one frame, held back until the flush", oneFrame, 160, 133, 100},
        {"whole size", twoFrames, 0, 320, 240},
        {"odd width", twoFrames, 151, 133, 100},
    };
    for (const auto& c : cases) {
        const std::optional<imaging::BgrBitmap> frame =
            imaging::FirstMovieFrame(c.path, c.boxWidth);
        ASSERT_TRUE(frame) << c.name;
        EXPECT_EQ(frame->width, c.expectedWidth) << c.name;
        EXPECT_EQ(frame->height, c.expectedHeight) << c.name;
        EXPECT_TRUE(QuadrantsNear(QuadrantCentres(*frame), kQuadrants, kColourTolerance)) << c.name;
    }
}

TEST_F(ThumbnailFileTest, UnusableMoviesGiveNothing) {
    const std::string bytes = ReadBytes(WriteMovie("movie.avi", {QuadrantPicture(64, 48)}, 64, 48));
    std::string damaged = bytes;
    // Everything after the headers overwritten: the stream is there, its frame is not.
    for (size_t at = 600; at < damaged.size(); ++at) damaged[at] = static_cast<char>(at * 7);
    const struct {
        const char* name;
        std::string path;
    } cases[] = {
        {"missing", (folder_ / "missing.avi").string()},
        {"garbage", WriteText("garbage.avi", std::string(4096, '\x5a'))},
        {"no frames", WriteMovie("empty.avi", {}, 64, 48)},
        {"frame damaged", WriteText("damaged.avi", damaged)},
        {"headers only", WriteText("cut.avi", bytes.substr(0, 300))},
    };
    for (const auto& c : cases) EXPECT_FALSE(imaging::FirstMovieFrame(c.path, 160)) << c.name;
}

// A playlist named like a movie would have the demuxer fetch its entries over the network;
// only the file itself is read. The entry points at a listener here, which must see nobody.
TEST_F(ThumbnailFileTest, MovieFileIsNotAllowedToReachOutside) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string entry =
        "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/segment.avi";
    const std::string playlist =
        WriteText("playlist.avi", "#EXTM3U\n#EXT-X-TARGETDURATION:10\n#EXTINF:10,\n" + entry +
                                      "\n#EXT-X-ENDLIST\n");

    auto decoded =
        std::async(std::launch::async, [&] { return imaging::FirstMovieFrame(playlist, 160); });
    int connections = 0;
    // A connection is answered by closing it, so a decoder that did connect returns as well.
    while (decoded.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        pollfd waiting{listener, POLLIN, 0};
        if (poll(&waiting, 1, 0) == 1) {
            close(accept(listener, nullptr, nullptr));
            ++connections;
        }
    }
    pollfd waiting{listener, POLLIN, 0};
    connections += poll(&waiting, 1, 0);
    close(listener);
    EXPECT_FALSE(decoded.get());
    EXPECT_EQ(connections, 0);
}

TEST_F(ThumbnailFileTest, LoadThumbnailChoosesTheDecoderByName) {
    const std::string picture = WriteJpeg("picture.jpg", 640, 480);
    const std::string movie = WriteMovie("movie.avi", {QuadrantPicture(320, 240)}, 320, 240);
    const fs::path pictureWithOtherName = folder_ / "picture.png";
    const fs::path movieWithCapitals = folder_ / "movie.AVI";
    fs::copy_file(picture, pictureWithOtherName);
    fs::copy_file(movie, movieWithCapitals);
    const struct {
        const char* name;
        std::string path;
        bool shown;
        bool movie;
    } cases[] = {
        {"picture", picture, true, false},
        {"movie", movie, true, true},
        {"other extension", pictureWithOtherName.string(), false, false},
        {"names compare case-sensitively", movieWithCapitals.string(), false, false},
        {"a movie named as a picture is read as one", WriteText("x.jpg", ReadBytes(movie)), false,
         false},
    };
    for (const auto& c : cases) {
        const std::optional<imaging::Thumbnail> thumbnail = imaging::LoadThumbnail(c.path, 160);
        ASSERT_EQ(thumbnail.has_value(), c.shown) << c.name;
        if (!thumbnail) continue;
        EXPECT_EQ(thumbnail->movie, c.movie) << c.name;
        EXPECT_EQ(thumbnail->picture.width, 133) << c.name;
        EXPECT_EQ(thumbnail->picture.height, 100) << c.name;
    }
}

}  // namespace
