#include <cerrno>
#include <filesystem>
#include <set>
#include <thread>

#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/StillPicture.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"

namespace {

// True when every quantisation table of the file is all ones, as quality 100 makes them.
bool QuantisationIsAllOnes(const std::string& jpeg) {
    bool found = false;
    // The picture's own tables follow the Exif segment, whose thumbnail has tables of its own.
    const size_t exif = jpeg.find("\xFF\xE1");
    const size_t start = exif == std::string::npos
                             ? 0
                             : exif + 2 +
                                   ((static_cast<uint8_t>(jpeg[exif + 2]) << 8) |
                                    static_cast<uint8_t>(jpeg[exif + 3]));
    for (size_t at = start; (at = jpeg.find("\xFF\xDB", at)) != std::string::npos; at += 2) {
        const size_t length =
            (static_cast<uint8_t>(jpeg[at + 2]) << 8) | static_cast<uint8_t>(jpeg[at + 3]);
        for (size_t table = at + 4; table + 65 <= at + 2 + length; table += 65) {
            if ((jpeg[table] & 0xF0) != 0) return false;  // 8-bit entries only
            for (size_t i = 1; i <= 64; ++i)
                if (jpeg[table + i] != 1) return false;
            found = true;
        }
    }
    return found;
}

void ExpectColour(const DecodedPicture& picture, int x, int y, std::vector<int> bgr) {
    const std::vector<int> actual = picture.At(x, y);
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], bgr[i], 8) << "at " << x << "," << y;
}

class StillPictureTest : public CaptureTest {};

TEST_F(StillPictureTest, WritesTheCaptureSizeTheRightWayUpAtQuality100) {
    struct Case {
        int32_t frameWidth, frameHeight, captureWidth, captureHeight;
    };
    const Case cases[] = {
        {64, 48, 64, 48},       // same size: no scaling
        {30, 20, 30, 20},       // rows padded to 4 bytes
        {640, 480, 1280, 960},  // interpolated resolution: enlarged
        {64, 48, 32, 24},       // reduced
    };
    for (const Case& c : cases) {
        UseSettings(0, c.captureWidth, c.captureHeight);
        TestFrame frame = TestFrame::Quadrants(c.frameWidth, c.frameHeight);
        const std::string path = folder_ + "/" + std::to_string(c.captureWidth) + ".jpg";
        ASSERT_TRUE(SaveFrameAsJpeg(frame.Buffer(), path)) << c.captureWidth;
        const DecodedPicture picture = DecodeJpegFile(path);
        ASSERT_EQ(picture.width, c.captureWidth);
        ASSERT_EQ(picture.height, c.captureHeight);
        const int w = picture.width, h = picture.height;
        ExpectColour(picture, w / 4, h / 4, {0, 0, 255});
        ExpectColour(picture, 3 * w / 4, h / 4, {0, 255, 0});
        ExpectColour(picture, w / 4, 3 * h / 4, {255, 0, 0});
        ExpectColour(picture, 3 * w / 4, 3 * h / 4, {255, 255, 255});
        ExpectColour(picture, 0, 0, {0, 0, 255});
        EXPECT_TRUE(QuantisationIsAllOnes(ReadWholeFile(path)));
    }
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(StillPictureTest, FailedWritesShowThePathAndStatusAndLeaveNothingBehind) {
    Place(folder_, "plain.txt");
    Place(folder_, "taken/theirs.jpg", "theirs");
    const std::pair<std::string, std::string> cases[] = {
        {folder_ + "/absent/a.jpg",
         "FileNotFound: Indicates that the specified image file or metafile cannot be found."},
        {folder_ + "/plain.txt/a.jpg", "Not a directory"},
        {folder_ + "/taken/theirs.jpg", "File exists"},
    };
    UseSettings(0);
    const std::vector<std::string> before = Listing(folder_);
    TestFrame frame = TestFrame::Quadrants(64, 48);
    for (const auto& [path, statusText] : cases) {
        EXPECT_FALSE(SaveFrameAsJpeg(frame.Buffer(), path));
        ASSERT_FALSE(boxes_->Texts().empty());
        EXPECT_EQ(boxes_->Texts().back(), "Save file " + path + " failure" + statusText);
    }
    EXPECT_EQ(boxes_->Texts().size(), std::size(cases));
    EXPECT_EQ(ReadWholeFile(folder_ + "/taken/theirs.jpg"), "theirs");
    EXPECT_EQ(Listing(folder_), before);
}

TEST_F(StillPictureTest, IncompleteFramesAreRefusedSilently) {
    UseSettings(0);
    TestFrame frame = TestFrame::Quadrants(30, 20);
    FrameBuffer noBytes = frame.Buffer();
    noBytes.data = nullptr;
    FrameBuffer empty = frame.Buffer();
    empty.length = 0;
    FrameBuffer unpaddedRows = frame.Buffer();  // rows of 90 bytes, but they are 92 apart
    unpaddedRows.length = 30 * 20 * 3;
    FrameBuffer noSize = frame.Buffer();
    noSize.width = 0;
    for (const FrameBuffer& buffer : {noBytes, empty, unpaddedRows, noSize})
        EXPECT_FALSE(SaveFrameAsJpeg(buffer, folder_ + "/a.jpg"));
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/a.jpg"));
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST(GdiplusStatusTextTest, NamesDescriptionsAndSystemText) {
    const std::pair<int, std::string> cases[] = {
        {0, "Ok: Indicates that the method call was successful."},
        {10, "FileNotFound: Indicates that the specified image file or metafile cannot be found."},
        {12,
         "AccessDenied: Indicates that a write operation is not allowed on the specified file."},
        {20,
         "PropertyNotSupported: Indicates that the specified property is not supported by the "
         "format of the image and, therefore, cannot be set."},
        {7, "Permission denied"},
        {21, "Invalid status: Indicates an unknown status was returned."},
        {-1, "Invalid status: Indicates an unknown status was returned."},
    };
    for (const auto& [status, text] : cases) EXPECT_EQ(GdiplusStatusText(status, EACCES), text);
    const char* names[] = {"Ok",
                           "GenericError",
                           "InvalidParameter",
                           "OutOfMemory",
                           "ObjectBusy",
                           "InsufficientBuffer",
                           "NotImplemented",
                           "",
                           "WrongState",
                           "Aborted",
                           "FileNotFound",
                           "ValueOverflow",
                           "AccessDenied",
                           "UnknownImageFormat",
                           "FontFamilyNotFound",
                           "FontStyleNotFound",
                           "NotTrueTypeFont",
                           "UnsupportedGdiplusVersion",
                           "GdiplusNotInitialized",
                           "PropertyNotFound",
                           "PropertyNotSupported"};
    for (int status = 0; status <= 20; ++status) {
        if (status == 7) continue;
        const std::string text = GdiplusStatusText(status, 0);
        EXPECT_EQ(text.rfind(std::string(names[status]) + ": Indicates ", 0), 0u) << text;
        EXPECT_EQ(text.back(), '.') << text;
    }
    EXPECT_TRUE(GetJpegEncoder());
}

TEST_F(StillPictureTest, SingleShotsFromTwoStreamsAtOnceGetAFileEach) {
    UseSettings(0);
    ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());
    FakeOwner owner;
    constexpr int kShotsPerStream = 5;
    auto stream = [&owner] {
        TestFrame frame = TestFrame::Quadrants(64, 48);
        for (int i = 0; i < kShotsPerStream; ++i)
            EXPECT_TRUE(TakeSingleShot(frame.Buffer(), owner));
    };
    std::thread preview(stream);
    std::thread still(stream);
    preview.join();
    still.join();

    std::vector<std::string> expected;
    for (int n = 1; n <= 2 * kShotsPerStream; ++n)
        expected.push_back("S20160406_" + PadNumber(n, 4) + ".jpg");
    EXPECT_EQ(Listing(SingleShots()), expected);
    const std::vector<std::string> revealed = owner.Revealed();
    EXPECT_EQ(std::set<std::string>(revealed.begin(), revealed.end()).size(), 2u * kShotsPerStream);
}

}  // namespace
