#include "platform/imaging/Exif.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <vector>

#include "platform/imaging/Thumbnail.h"
#include "platform/imaging/tests/TestPictures.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace testing_pictures;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

Bytes ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), {});
}

void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

// The thumbnail's size, or 0x0 when it does not decode.
std::pair<int, int> JpegSize(const uint8_t* jpeg, size_t size) {
    tjhandle decoder = tjInitDecompress();
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    tjDecompressHeader3(decoder, jpeg, size, &width, &height, &subsampling, &colorspace);
    tjDestroy(decoder);
    return {width, height};
}

// The end of the Exif segment that follows the JFIF one.
long SegmentEnd(const Bytes& photo) {
    return 20 + 2 + (photo[22] << 8 | photo[23]);
}

class ExifTest : public ::testing::Test {
protected:
    void SetUp() override {
        const imaging::BgrBitmap picture = QuadrantPicture(kWidth, kHeight);
        path_ = folder_.Path().string() + "/photo.jpg";
        ASSERT_EQ(imaging::WriteJpegFile(picture.View(), path_, 100, &tags_).status, Gdiplus::Ok);
        photo_ = ReadAll(path_);
        ASSERT_GT(photo_.size(), 100u);
    }

    const imaging::PhotoTags tags_{"2026:12:11 16:40:05", "simulated camera", "Skelvane 9.8.7"};
    support::TempFolder folder_{"exif"};
    std::string path_;
    Bytes photo_;
};

TEST_F(ExifTest, PhotosStayJfifAndCarryTheirTagsAndAThumbnailTheStripUses) {
    // JFIF first, then Exif.
    ASSERT_EQ(imaging::ExifInsertionPoint(photo_.data(), photo_.size()), 20u);
    EXPECT_EQ(photo_[3], 0xE0);
    EXPECT_EQ(Bytes(photo_.begin() + 6, photo_.begin() + 11), (Bytes{'J', 'F', 'I', 'F', 0}));
    EXPECT_EQ(photo_[21], 0xE1);
    EXPECT_EQ(Bytes(photo_.begin() + 24, photo_.begin() + 30), (Bytes{'E', 'x', 'i', 'f', 0, 0}));
    const std::string text(photo_.begin(), photo_.begin() + 2000);
    for (const char* tag : {"2026:12:11 16:40:05", "simulated camera", "Skelvane 9.8.7"})
        EXPECT_NE(text.find(tag), std::string::npos) << tag;
    EXPECT_EQ(JpegSize(photo_.data(), photo_.size()), std::make_pair(kWidth, kHeight));

    const imaging::ByteRange thumbnail = imaging::FindExifThumbnail(photo_.data(), photo_.size());
    ASSERT_NE(thumbnail.data, nullptr);
    EXPECT_EQ(JpegSize(thumbnail.data, thumbnail.size), std::make_pair(160, 90));

    // The strip's thumbnail comes from the embedded one: given the Exif of a photo in other
    // colours, the strip shows those, upright; the full-size decode shows the picture's own.
    const imaging::BgrBitmap other = QuadrantPicture(kWidth, kHeight, kOtherQuadrants);
    const std::string otherPath = folder_.Path().string() + "/other.jpg";
    ASSERT_EQ(imaging::WriteJpegFile(other.View(), otherPath, 100, &tags_).status, Gdiplus::Ok);
    const Bytes otherPhoto = ReadAll(otherPath);
    Bytes spliced(photo_.begin(), photo_.begin() + 20);
    spliced.insert(spliced.end(), otherPhoto.begin() + 20,
                   otherPhoto.begin() + SegmentEnd(otherPhoto));
    spliced.insert(spliced.end(), photo_.begin() + SegmentEnd(photo_), photo_.end());
    const std::string splicedPath = folder_.Path().string() + "/spliced.jpg";
    WriteAll(splicedPath, spliced);
    const std::optional<imaging::BgrBitmap> strip = imaging::DecodeJpegThumbnail(splicedPath, 110);
    ASSERT_TRUE(strip);
    EXPECT_EQ(strip->width, 110);
    EXPECT_TRUE(QuadrantsNear(QuadrantCentres(*strip), kOtherQuadrants, 16));
    const std::optional<imaging::BgrBitmap> full = imaging::DecodeJpegThumbnail(splicedPath, 0);
    ASSERT_TRUE(full);
    EXPECT_TRUE(QuadrantsNear(QuadrantCentres(*full), kQuadrants, 16));
}

// Offsets within the photo: the TIFF header, and the second directory it points to.
size_t Tiff() {
    return 30;
}
uint32_t Read32(const Bytes& bytes, size_t at) {
    return uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
           uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}
void Write32(Bytes& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}
// The first directory holds 9 entries: its next-directory field follows them.
constexpr size_t kFirstEntries = 9;
size_t SecondDirectory(const Bytes& bytes) {
    return Tiff() + Read32(bytes, Tiff() + 8 + 2 + kFirstEntries * 12);
}
// The value field of entry `index` of the second directory (4: offset, 5: length).
size_t ThumbnailField(const Bytes& bytes, int index) {
    return SecondDirectory(bytes) + 2 + index * 12 + 8;
}

TEST_F(ExifTest, DamagedExifGivesNoThumbnailAndThePictureItselfStillDecodes) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> damage;
        bool pictureDecodes = true;
    };
    const Case cases[] = {
        {"unknown byte order", [](Bytes& b) { b[Tiff()] = 'X'; }},
        {"not Exif", [](Bytes& b) { b[27] = 't'; }},
        {"first directory of 65535 entries",
         [](Bytes& b) { b[Tiff() + 8] = b[Tiff() + 9] = 0xFF; }},
        {"first directory beyond the segment",
         [](Bytes& b) { Write32(b, Tiff() + 4, 0xFFFFFFF0); }},
        {"second directory beyond the segment",
         [](Bytes& b) { Write32(b, Tiff() + 8 + 2 + kFirstEntries * 12, 0x7FFFFFFF); }},
        {"second directory is the first",
         [](Bytes& b) { Write32(b, Tiff() + 8 + 2 + kFirstEntries * 12, 8); }},
        {"no second directory",
         [](Bytes& b) { Write32(b, Tiff() + 8 + 2 + kFirstEntries * 12, 0); }},
        {"thumbnail beyond the segment",
         [](Bytes& b) { Write32(b, ThumbnailField(b, 4), 0xFFFFFFF0); }},
        {"thumbnail length overflows",
         [](Bytes& b) { Write32(b, ThumbnailField(b, 5), 0xFFFFFFFF); }},
        {"thumbnail not a JPEG", [](Bytes& b) { b[Tiff() + Read32(b, ThumbnailField(b, 4))] = 0; }},
        {"segment longer than the file", [](Bytes& b) { b[22] = b[23] = 0xFF; }, false},
    };
    for (const Case& damageCase : cases) {
        SCOPED_TRACE(damageCase.name);
        Bytes damaged = photo_;
        damageCase.damage(damaged);
        const imaging::ByteRange found = imaging::FindExifThumbnail(damaged.data(), damaged.size());
        EXPECT_EQ(found.data, nullptr);
        const std::string path = folder_.Path().string() + "/damaged.jpg";
        WriteAll(path, damaged);
        const std::optional<imaging::BgrBitmap> thumbnail = imaging::DecodeJpegThumbnail(path, 110);
        ASSERT_EQ(thumbnail.has_value(), damageCase.pictureDecodes);
        if (thumbnail) {
            EXPECT_TRUE(QuadrantsNear(QuadrantCentres(*thumbnail), kQuadrants, 16));
        }
        std::filesystem::remove(path);
    }
}

// Cut anywhere in its head, or with bytes of its Exif overwritten at random, a photo never
// makes the search read outside the bytes it is given (AddressSanitizer watches) or loop.
TEST_F(ExifTest, CutOrScrambledExifIsSearchedWithinItsBytes) {
    const size_t head = SegmentEnd(photo_) + 100;
    for (size_t length = 0; length < head; length += 7) {
        const Bytes cut(photo_.begin(), photo_.begin() + static_cast<long>(length));
        const imaging::ByteRange found = imaging::FindExifThumbnail(cut.data(), cut.size());
        if (found.data != nullptr) {
            EXPECT_LE(found.data + found.size, cut.data() + cut.size());
        }
    }
    uint32_t random = 12345;
    for (int round = 0; round < 2000; ++round) {
        Bytes scrambled(photo_.begin(), photo_.begin() + static_cast<long>(head));
        for (int change = 0; change < 4; ++change) {
            random = random * 1664525u + 1013904223u;
            // Within the directories, where offsets and counts lie.
            scrambled[Tiff() + (random >> 8) % 200] = static_cast<uint8_t>(random >> 24);
        }
        const imaging::ByteRange found =
            imaging::FindExifThumbnail(scrambled.data(), scrambled.size());
        if (found.data != nullptr) {
            EXPECT_LE(found.data + found.size, scrambled.data() + scrambled.size());
        }
    }
}

}  // namespace
