#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/imaging/Imaging.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TraceRecorder.h"

namespace fs = std::filesystem;

namespace {

class JpegFileTest : public ::testing::Test {
protected:
    imaging::BgrImageView Picture() const { return {pixels_.data(), 4, 2, 12, true}; }

    support::TempFolder folder_{"skelvane-imaging"};
    std::vector<uint8_t> pixels_ = std::vector<uint8_t>(24, 0x80);
};

// A failed write says which file and why, and leaves no temporary file behind.
TEST_F(JpegFileTest, FailedWritesTraceTheFileAndTheReason) {
    std::ofstream(folder_ / "taken.jpg") << "earlier picture";
    const struct {
        std::string path;
        Gdiplus::Status status;
        std::string line;
    } cases[] = {
        {(folder_ / "missing/a.jpg").string(), Gdiplus::FileNotFound,
         "the temporary file cannot be created: No such file or directory"},
        {(folder_ / "taken.jpg").string(), Gdiplus::Win32Error,
         "renaming the temporary file into place failed: File exists"},
    };
    for (const auto& c : cases) {
        support::TraceRecorder trace;
        EXPECT_EQ(imaging::WriteJpegFile(Picture(), c.path, 100).status, c.status) << c.path;
        EXPECT_FALSE(trace.Find({"jpeg " + c.path + ": " + c.line}).empty()) << c.path;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_.Path()), fs::directory_iterator()), 1);
}

// While a photo is written, its folder holds a temporary file that a media listing (any
// name holding ".jpg" or ".avi") must never take for a picture; only the rename into place
// brings the picture's name.
TEST_F(JpegFileTest, TheTemporaryFileIsNotNamedLikeMedia) {
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, folder_.Path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    ASSERT_EQ(
        imaging::WriteJpegFile(Picture(), (folder_ / "S20160406_0001.jpg").string(), 100).status,
        Gdiplus::Ok);
    std::vector<std::string> created, movedIn;
    alignas(inotify_event) char buffer[4096];
    ssize_t got;
    while ((got = read(watch, buffer, sizeof buffer)) > 0) {
        for (char* at = buffer; at < buffer + got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            (event->mask & IN_CREATE ? created : movedIn).emplace_back(event->name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    close(watch);
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].find(".jpg"), std::string::npos) << created[0];
    EXPECT_EQ(created[0].find(".avi"), std::string::npos) << created[0];
    EXPECT_EQ(movedIn, std::vector<std::string>{"S20160406_0001.jpg"});
}

// The encoder's buffer size must fit the library's int: a larger picture is refused before
// any pixel is read, not encoded into a buffer cut short.
TEST_F(JpegFileTest, PicturesTooLargeToEncodeAreRefused) {
    support::TraceRecorder trace;
    const imaging::BgrImageView huge{pixels_.data(), 60000, 60000, 180000, false};
    EXPECT_EQ(imaging::WriteJpegFile(huge, (folder_ / "huge.jpg").string(), 100).status,
              Gdiplus::GenericError);
    EXPECT_FALSE(trace.Find({"60000x60000", "too large"}).empty());
    EXPECT_TRUE(fs::is_empty(folder_.Path()));
}

}  // namespace
