#include "platform/imaging/Exif.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace imaging {

namespace {

constexpr uint16_t kTagCompression = 0x0103;
constexpr uint16_t kTagModel = 0x0110;
constexpr uint16_t kTagOrientation = 0x0112;
constexpr uint16_t kTagXResolution = 0x011A;
constexpr uint16_t kTagYResolution = 0x011B;
constexpr uint16_t kTagResolutionUnit = 0x0128;
constexpr uint16_t kTagSoftware = 0x0131;
constexpr uint16_t kTagDateTime = 0x0132;
constexpr uint16_t kTagThumbnailOffset = 0x0201;
constexpr uint16_t kTagThumbnailLength = 0x0202;
constexpr uint16_t kTagYCbCrPositioning = 0x0213;
constexpr uint16_t kTagExifIfd = 0x8769;
constexpr uint16_t kTagExifVersion = 0x9000;
constexpr uint16_t kTagDateTimeOriginal = 0x9003;
constexpr uint16_t kTagDateTimeDigitized = 0x9004;
constexpr uint16_t kTagComponentsConfiguration = 0x9101;
constexpr uint16_t kTagFlashpixVersion = 0xA000;
constexpr uint16_t kTagColorSpace = 0xA001;
constexpr uint16_t kTagPixelXDimension = 0xA002;
constexpr uint16_t kTagPixelYDimension = 0xA003;

constexpr uint16_t kTypeAscii = 2;
constexpr uint16_t kTypeShort = 3;
constexpr uint16_t kTypeLong = 4;
constexpr uint16_t kTypeRational = 5;
constexpr uint16_t kTypeUndefined = 7;

constexpr uint16_t kJpegCompression = 6;
constexpr uint16_t kInches = 2;
constexpr uint32_t kDotsPerInch = 72;
constexpr uint16_t kCentred = 1;
constexpr uint16_t kSrgb = 1;
constexpr size_t kEntryBytes = 12;
constexpr size_t kSegmentLimit = 0xFFFF;  // the length field's largest value
constexpr char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// Samples averaged per thumbnail pixel, each way.
constexpr int kSamplesPerSide = 4;

// Big-endian ("MM") TIFF structure built front to back; offsets count from the TIFF header.
class TiffWriter {
public:
    struct Entry {
        uint16_t tag;
        uint16_t type;
        uint32_t count;
        std::vector<uint8_t> value;  // the bytes, or a 4-byte offset filled in later
    };

    std::vector<uint8_t>& Bytes() { return bytes_; }

    // Writes a directory of `entries` (sorted by tag) at the end, values over 4 bytes
    // after it, and returns the offset of its next-directory field.
    size_t WriteIfd(const std::vector<Entry>& entries) {
        const size_t start = bytes_.size();
        const size_t dataStart = start + 2 + entries.size() * kEntryBytes + 4;
        size_t data = dataStart;
        Put16(static_cast<uint16_t>(entries.size()));
        std::vector<uint8_t> values;
        for (const Entry& entry : entries) {
            Put16(entry.tag);
            Put16(entry.type);
            Put32(entry.count);
            if (entry.value.size() <= 4) {
                std::vector<uint8_t> inline4 = entry.value;
                inline4.resize(4, 0);
                bytes_.insert(bytes_.end(), inline4.begin(), inline4.end());
            } else {
                Put32(static_cast<uint32_t>(data));
                values.insert(values.end(), entry.value.begin(), entry.value.end());
                if (values.size() % 2 != 0) values.push_back(0);  // word-aligned offsets
                data = dataStart + values.size();
            }
        }
        const size_t next = bytes_.size();
        Put32(0);
        bytes_.insert(bytes_.end(), values.begin(), values.end());
        return next;
    }

    void Patch32(size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = static_cast<uint8_t>(value >> (24 - 8 * i));
    }

    // The offset of the value of the entry at `index` of the directory starting at `ifd`.
    static size_t ValueField(size_t ifd, size_t index) { return ifd + 2 + index * kEntryBytes + 8; }

private:
    void Put16(uint16_t value) {
        bytes_.push_back(static_cast<uint8_t>(value >> 8));
        bytes_.push_back(static_cast<uint8_t>(value));
    }
    void Put32(uint32_t value) {
        Put16(static_cast<uint16_t>(value >> 16));
        Put16(static_cast<uint16_t>(value));
    }

    std::vector<uint8_t> bytes_;
};

std::vector<uint8_t> Short(uint16_t value) {
    return {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}
std::vector<uint8_t> Long(uint32_t value) {
    return {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
}
TiffWriter::Entry Rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
    std::vector<uint8_t> bytes = Long(numerator);
    const std::vector<uint8_t> below = Long(denominator);
    bytes.insert(bytes.end(), below.begin(), below.end());
    return {tag, kTypeRational, 1, bytes};
}
TiffWriter::Entry Ascii(uint16_t tag, const std::string& text) {
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return {tag, kTypeAscii, static_cast<uint32_t>(bytes.size()), bytes};
}

// Reads a TIFF structure of `size` bytes in its own byte order; every read is checked.
class TiffReader {
public:
    TiffReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

    bool ReadOrder() {
        if (size_ < 8) return false;
        if (bytes_[0] == 'I' && bytes_[1] == 'I') {
            littleEndian_ = true;
        } else if (bytes_[0] != 'M' || bytes_[1] != 'M') {
            return false;
        }
        uint32_t magic = 0;
        return Read(2, 2, magic) && magic == 42;
    }

    bool Read(size_t at, size_t width, uint32_t& value) const {
        if (at > size_ || width > size_ - at) return false;
        value = 0;
        for (size_t i = 0; i < width; ++i) {
            const uint32_t byte = bytes_[at + i];
            value |= littleEndian_ ? byte << (8 * i) : byte << (8 * (width - 1 - i));
        }
        return true;
    }

    // The entry count of the directory at `ifd`, when the whole directory and its
    // next-directory field lie within the bytes.
    bool Directory(size_t ifd, uint32_t& count) const {
        return Read(ifd, 2, count) && 2 + count * kEntryBytes + 4 <= size_ - ifd;
    }

    // The value of `tag` in the directory at `ifd`, a single short or long.
    bool Find(size_t ifd, uint32_t count, uint16_t tag, uint32_t& value) const {
        for (uint32_t i = 0; i < count; ++i) {
            const size_t entry = ifd + 2 + i * kEntryBytes;
            uint32_t found = 0, type = 0;
            Read(entry, 2, found);
            Read(entry + 2, 2, type);
            if (found != tag) continue;
            if (type == kTypeShort) return Read(entry + 8, 2, value);
            if (type == kTypeLong) return Read(entry + 8, 4, value);
            return false;
        }
        return false;
    }

    ByteRange Thumbnail() const {
        uint32_t first = 0, count = 0, second = 0;
        if (!Read(4, 4, first) || !Directory(first, count) ||
            !Read(first + 2 + count * kEntryBytes, 4, second) || second == 0 ||
            !Directory(second, count))
            return {};
        uint32_t offset = 0, length = 0;
        if (!Find(second, count, kTagThumbnailOffset, offset) ||
            !Find(second, count, kTagThumbnailLength, length) || length < 4 || offset > size_ ||
            length > size_ - offset)
            return {};
        const uint8_t* thumbnail = bytes_ + offset;
        if (thumbnail[0] != 0xFF || thumbnail[1] != 0xD8) return {};
        return {thumbnail, length};
    }

private:
    const uint8_t* bytes_;
    size_t size_;
    bool littleEndian_ = false;
};

uint32_t BigEndian16(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 8 | bytes[1];
}

}  // namespace

std::string ExifDateTimeNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[20] = {};
    std::strftime(text, sizeof(text), "%Y:%m:%d %H:%M:%S", &local);
    return text;
}

BgrBitmap ExifThumbnailPicture(const BgrImageView& picture) {
    const int width = std::min(kExifThumbnailWidth, picture.width);
    const int height = std::max(1, static_cast<int>(static_cast<int64_t>(picture.height) * width /
                                                    std::max(picture.width, 1)));
    // Sample rows and columns spread evenly over the area each pixel covers, worked out once.
    const auto samples = [](int source, int target) {
        std::vector<int64_t> at(static_cast<size_t>(target) * kSamplesPerSide);
        for (size_t i = 0; i < at.size(); ++i)
            at[i] = static_cast<int64_t>(i) * source / static_cast<int64_t>(at.size());
        return at;
    };
    const std::vector<int64_t> columns = samples(picture.width, width);
    std::vector<int64_t> rows = samples(picture.height, height);
    for (int64_t& row : rows) {
        const int64_t stored = picture.bottomUp ? picture.height - 1 - row : row;
        row = stored * picture.rowStride;
    }
    BgrBitmap thumbnail{width, height,
                        std::vector<uint8_t>(static_cast<size_t>(width) * height * 3)};
    uint8_t* out = thumbnail.pixels.data();
    constexpr unsigned kSamples = kSamplesPerSide * kSamplesPerSide;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned sums[3] = {};
            for (int sy = 0; sy < kSamplesPerSide; ++sy) {
                const uint8_t* line = picture.pixels + rows[y * kSamplesPerSide + sy];
                for (int sx = 0; sx < kSamplesPerSide; ++sx) {
                    const uint8_t* pixel = line + columns[x * kSamplesPerSide + sx] * 3;
                    for (int c = 0; c < 3; ++c) sums[c] += pixel[c];
                }
            }
            for (int c = 0; c < 3; ++c)
                *out++ = static_cast<uint8_t>((sums[c] + kSamples / 2) / kSamples);
        }
    }
    return thumbnail;
}

std::vector<uint8_t> ExifSegment(const PhotoTags& tags, int width, int height,
                                 const uint8_t* thumbnail, size_t thumbnailSize) {
    TiffWriter tiff;
    std::vector<uint8_t>& bytes = tiff.Bytes();
    bytes = {'M', 'M', 0, 42, 0, 0, 0, 8};
    // Entries in tag order; the Exif directory's offset is patched once it is placed.
    const TiffWriter::Entry resolution[] = {
        Rational(kTagXResolution, kDotsPerInch, 1),
        Rational(kTagYResolution, kDotsPerInch, 1),
        {kTagResolutionUnit, kTypeShort, 1, Short(kInches)},
    };
    const std::vector<TiffWriter::Entry> first = {
        Ascii(kTagModel, tags.camera),
        {kTagOrientation, kTypeShort, 1, Short(1)},
        resolution[0],
        resolution[1],
        resolution[2],
        Ascii(kTagSoftware, tags.software),
        Ascii(kTagDateTime, tags.dateTime),
        {kTagYCbCrPositioning, kTypeShort, 1, Short(kCentred)},
        {kTagExifIfd, kTypeLong, 1, Long(0)},
    };
    const size_t firstStart = bytes.size();
    const size_t firstNext = tiff.WriteIfd(first);
    tiff.Patch32(TiffWriter::ValueField(firstStart, first.size() - 1),
                 static_cast<uint32_t>(bytes.size()));
    tiff.WriteIfd({
        {kTagExifVersion, kTypeUndefined, 4, {'0', '2', '3', '2'}},
        Ascii(kTagDateTimeOriginal, tags.dateTime),
        Ascii(kTagDateTimeDigitized, tags.dateTime),
        {kTagComponentsConfiguration, kTypeUndefined, 4, {1, 2, 3, 0}},
        {kTagFlashpixVersion, kTypeUndefined, 4, {'0', '1', '0', '0'}},
        {kTagColorSpace, kTypeShort, 1, Short(kSrgb)},
        {kTagPixelXDimension, kTypeLong, 1, Long(static_cast<uint32_t>(width))},
        {kTagPixelYDimension, kTypeLong, 1, Long(static_cast<uint32_t>(height))},
    });
    tiff.Patch32(firstNext, static_cast<uint32_t>(bytes.size()));
    const size_t secondStart = bytes.size();
    const std::vector<TiffWriter::Entry> second = {
        {kTagCompression, kTypeShort, 1, Short(kJpegCompression)},
        resolution[0],
        resolution[1],
        resolution[2],
        {kTagThumbnailOffset, kTypeLong, 1, Long(0)},
        {kTagThumbnailLength, kTypeLong, 1, Long(static_cast<uint32_t>(thumbnailSize))},
    };
    tiff.WriteIfd(second);
    tiff.Patch32(TiffWriter::ValueField(secondStart, 4), static_cast<uint32_t>(bytes.size()));
    bytes.insert(bytes.end(), thumbnail, thumbnail + thumbnailSize);

    const size_t length = 2 + sizeof(kExifHeader) + bytes.size();
    if (length > kSegmentLimit) return {};
    std::vector<uint8_t> segment = {0xFF, 0xE1, static_cast<uint8_t>(length >> 8),
                                    static_cast<uint8_t>(length)};
    segment.insert(segment.end(), kExifHeader, kExifHeader + sizeof(kExifHeader));
    segment.insert(segment.end(), bytes.begin(), bytes.end());
    return segment;
}

size_t ExifInsertionPoint(const uint8_t* jpeg, size_t size) {
    if (size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return 0;
    if (jpeg[2] != 0xFF || jpeg[3] != 0xE0 || size < 6) return 2;
    const size_t end = 4 + BigEndian16(jpeg + 4);
    return end <= size ? end : 0;
}

ByteRange FindExifThumbnail(const uint8_t* jpeg, size_t size) {
    if (jpeg == nullptr || size < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return {};
    size_t at = 2;
    // Segments up to the picture data; each step moves forward, so the walk ends.
    while (size - at >= 4) {
        if (jpeg[at] != 0xFF) return {};
        const uint8_t marker = jpeg[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return {};  // start of scan, end of picture
        const size_t length = BigEndian16(jpeg + at + 2);
        if (length < 2 || length > size - at - 2) return {};
        const uint8_t* body = jpeg + at + 4;
        const size_t bodySize = length - 2;
        if (marker == 0xE1 && bodySize > sizeof(kExifHeader) &&
            std::memcmp(body, kExifHeader, sizeof(kExifHeader)) == 0) {
            TiffReader tiff(body + sizeof(kExifHeader), bodySize - sizeof(kExifHeader));
            if (!tiff.ReadOrder()) return {};
            return tiff.Thumbnail();
        }
        at += 2 + length;
    }
    return {};
}

}  // namespace imaging
