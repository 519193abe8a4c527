#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>
#include <vector>

#include "Skelvane/capture/RotateSampleImp.h"
#include "Skelvane/capture/SampleGrabberCB.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"

namespace {

class RotateSampleTest : public ::testing::Test {
protected:
    void SetUp() override { RotateSampleImp::Destroy(); }
    void TearDown() override { RotateSampleImp::Destroy(); }

    static bool Transform(TestFrame& frame, std::initializer_list<int32_t> codes) {
        return Transform(frame.Buffer(), codes);
    }
    static bool Transform(const FrameBuffer& frame, std::initializer_list<int32_t> codes) {
        RotateSampleImp* rotation = RotateSampleImp::Instance();
        rotation->ClearOperations();
        for (const int32_t code : codes) rotation->AddOperation(code);
        return rotation->TransformFrame(frame);
    }
};

// Every pixel tells where it came from: blue = x, green = y, red mixes both, so a pixel
// landing in the wrong place or with its bytes in the wrong order shows.
TestFrame Labelled(int width, int height) {
    TestFrame frame(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            frame.Set(x, y, static_cast<uint8_t>(x), static_cast<uint8_t>(y),
                      static_cast<uint8_t>(x * 7 + y * 13));
    }
    return frame;
}

TEST_F(RotateSampleTest, EachOperationTurnsThePictureAsSeen) {
    // Pixels 1..9 of a 3 x 3 frame, top row first; rows of 9 bytes are padded to 12.
    using Grid = std::vector<int>;
    const Grid upright = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    const std::pair<int32_t, Grid> cases[] = {
        {kRotate90Cw, {7, 4, 1, 8, 5, 2, 9, 6, 3}},
        {kRotate90Ccw, {3, 6, 9, 2, 5, 8, 1, 4, 7}},
        {kRotate180, {9, 8, 7, 6, 5, 4, 3, 2, 1}},
        {kFlipVertical, {7, 8, 9, 4, 5, 6, 1, 2, 3}},
        {kFlipHorizontal, {3, 2, 1, 6, 5, 4, 9, 8, 7}},
        {0, upright},
        {6, upright},
        {-1, upright},
    };
    for (const auto& [code, expected] : cases) {
        TestFrame frame(3, 3);
        for (int i = 0; i < 9; ++i)
            frame.Set(i % 3, i / 3, static_cast<uint8_t>(upright[i]),
                      static_cast<uint8_t>(10 * upright[i]),
                      static_cast<uint8_t>(200 - upright[i]));
        ASSERT_TRUE(Transform(frame, {code})) << code;
        for (int i = 0; i < 9; ++i) {
            const int label = expected[i];
            EXPECT_EQ(frame.At(i % 3, i / 3), (std::vector<int>{label, 10 * label, 200 - label}))
                << "code " << code << " pixel " << i;
        }
    }
}

TEST_F(RotateSampleTest, ListsFoldIntoOneExactTurn) {
    // Where pixel (x, y) of the result comes from in a w x h picture.
    using Source = std::pair<int, int> (*)(int x, int y, int w, int h);
    const Source same = [](int x, int y, int, int) { return std::pair{x, y}; };
    const Source halfTurn = [](int x, int y, int w, int h) {
        return std::pair{w - 1 - x, h - 1 - y};
    };
    const Source leftRight = [](int x, int y, int w, int) { return std::pair{w - 1 - x, y}; };
    const Source topBottom = [](int x, int y, int, int h) { return std::pair{x, h - 1 - y}; };
    const Source clockwise = [](int x, int y, int, int h) { return std::pair{y, h - 1 - x}; };
    const Source counter = [](int x, int y, int w, int) { return std::pair{w - 1 - y, x}; };
    const Source transposed = [](int x, int y, int, int) { return std::pair{y, x}; };
    const Source antiTransposed = [](int x, int y, int w, int h) {
        return std::pair{w - 1 - y, h - 1 - x};
    };
    const struct {
        int width, height;
        std::initializer_list<int32_t> codes;
        Source source;
    } cases[] = {
        // 5 x 3 and 37 x 5: rows of 15 and 111 bytes, padded; 37 pixels are two blocks of 16
        // for the mirrors and a rest.
        {5, 3, {kRotate90Cw, kRotate90Cw}, halfTurn},
        {37, 5, {kRotate90Cw, kRotate90Cw}, halfTurn},
        {5, 3, {kFlipVertical, kFlipHorizontal}, halfTurn},
        {37, 5, {kFlipHorizontal, kFlipVertical}, halfTurn},
        {5, 3, {kRotate90Cw, kRotate90Ccw}, same},
        {37, 5, {kRotate90Ccw, kRotate90Cw, kRotate180, kRotate180}, same},
        {37, 4, {kRotate180}, halfTurn},
        {37, 5, {kFlipHorizontal}, leftRight},
        {38, 5, {kFlipVertical}, topBottom},
        {37, 5, {kFlipVertical, kRotate180}, leftRight},
        // Square frames keep their size under quarter turns; 131 pixels cross the bands
        // the turn writes in.
        {131, 131, {kRotate90Cw}, clockwise},
        {131, 131, {kRotate90Ccw}, counter},
        {131, 131, {kRotate90Cw, kFlipHorizontal}, transposed},
        {131, 131, {kFlipHorizontal, kRotate90Cw}, antiTransposed},
        {3, 3, {kRotate180, kRotate90Ccw, kFlipVertical}, antiTransposed},
    };
    for (const auto& c : cases) {
        const TestFrame original = Labelled(c.width, c.height);
        TestFrame frame = original;
        ASSERT_TRUE(Transform(frame, c.codes)) << c.width << "x" << c.height;
        int wrong = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const auto [sx, sy] = c.source(x, y, c.width, c.height);
                if (frame.At(x, y) != original.At(sx, sy)) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0) << c.width << "x" << c.height << ", " << c.codes.size()
                            << " operations starting with " << *c.codes.begin();
    }
}

TEST_F(RotateSampleTest, QuarterTurnsOfOblongFramesAreSqueezedIntoTheMiddleOnBlack) {
    // A gradient in both directions with red fixed: the squeeze interpolates only along the
    // turned picture's long side, so the other gradient stays exact and this one stays
    // linear. `expected(x, y)` is {blue, green} at (x, y) of the square, counted from its
    // corner; the long side's coordinate in the turned picture is (i + 0.5) * 4 / 3 - 0.5.
    using Expected = std::pair<double, double> (*)(int x, int y);
    const struct {
        int width, height;
        int32_t code;
        int left, top;
        Expected expected;
    } cases[] = {
        // Turned 480 x 640: pixel (u, v) comes from (v, 479 - u), squeezed in v.
        {640, 480, kRotate90Cw, 80, 0,
         [](int x, int y) {
             return std::pair{((y + 0.5) * 4 / 3 - 0.5) * 255 / 639, (479 - x) * 255.0 / 479};
         }},
        // Turned 640 x 480: pixel (u, v) comes from (479 - v, u), squeezed in u.
        {480, 640, kRotate90Ccw, 0, 80,
         [](int x, int y) {
             return std::pair{(479 - y) * 255.0 / 479, ((x + 0.5) * 4 / 3 - 0.5) * 255 / 639};
         }},
    };
    for (const auto& c : cases) {
        TestFrame frame(c.width, c.height);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x)
                frame.Set(x, y, static_cast<uint8_t>(x * 255 / (c.width - 1)),
                          static_cast<uint8_t>(y * 255 / (c.height - 1)), 77);
        }
        ASSERT_TRUE(Transform(frame, {c.code})) << c.width;
        int litOutside = 0;
        double worst = 0;
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const std::vector<int> pixel = frame.At(x, y);
                const int u = x - c.left;
                const int v = y - c.top;
                if (u < 0 || v < 0 || u >= 480 || v >= 480) {
                    if (pixel != std::vector<int>{0, 0, 0}) ++litOutside;
                    continue;
                }
                const auto [blue, green] = c.expected(u, v);
                worst = std::max({worst, std::abs(pixel[0] - blue), std::abs(pixel[1] - green),
                                  std::abs(pixel[2] - 77.0)});
            }
        }
        EXPECT_EQ(litOutside, 0) << c.width;
        EXPECT_LE(worst, 2.0) << c.width;
    }
}

TEST_F(RotateSampleTest, FramesWhoseBytesDoNotCoverEveryRowStayAsDelivered) {
    TestFrame frame = Labelled(5, 3);  // rows of 15 bytes, 16 apart
    const std::vector<uint8_t> delivered = frame.Bytes();
    FrameBuffer shortByOne = frame.Buffer();
    shortByOne.length -= 1;
    FrameBuffer unpaddedRows = frame.Buffer();
    unpaddedRows.length = 5 * 3 * 3;
    FrameBuffer noHeight = frame.Buffer();
    noHeight.height = 0;
    FrameBuffer noBytes = frame.Buffer();
    noBytes.data = nullptr;
    for (const FrameBuffer& buffer : {shortByOne, unpaddedRows, noHeight, noBytes}) {
        for (const int32_t code : {kRotate90Cw, kRotate180, kFlipHorizontal}) {
            EXPECT_FALSE(Transform(buffer, {code})) << code;
            EXPECT_EQ(frame.Bytes(), delivered) << code;
        }
    }
}

TEST_F(RotateSampleTest, NothingPastTheRowsIsWritten) {
    const struct { int width, height; } sizes[] = {{7, 5}, {5, 7}, {6, 6}, {40, 3}};
    for (const auto& size : sizes) {
        const TestFrame picture = Labelled(size.width, size.height);
        const size_t rows = picture.Bytes().size();
        for (const int32_t code :
             {kRotate90Cw, kRotate90Ccw, kRotate180, kFlipVertical, kFlipHorizontal}) {
            // The framework's length runs 4 bytes past the rows; 4 more lie beyond it.
            std::vector<uint8_t> bytes(rows + 8, 0xA5);
            std::copy(picture.Bytes().begin(), picture.Bytes().end(), bytes.begin());
            const FrameBuffer frame{bytes.data(), static_cast<int32_t>(rows + 4), size.width,
                                    size.height};
            EXPECT_TRUE(Transform(frame, {code})) << size.width << "x" << size.height;
            EXPECT_TRUE(
                std::all_of(bytes.begin() + rows, bytes.end(), [](uint8_t b) { return b == 0xA5; }))
                << size.width << "x" << size.height << " code " << code;
        }
    }
}

class TurnedCallbackTest : public CaptureTest {
protected:
    void TearDown() override {
        previewGrabberCallback.owner = nullptr;
        stillGrabberCallback.owner = nullptr;
        RotateSampleImp::Destroy();
        CaptureTest::TearDown();
    }
};

TEST_F(TurnedCallbackTest, PhotosOfBothGrabbersShowTheTurnedPicture) {
    UseSettings(0, 64, 48);
    ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());
    RotateSampleImp::Instance()->AddOperation(kFlipHorizontal);
    FakeOwner owner;
    owner.takePhoto = 1;
    for (CSampleGrabberCB* callback : {&previewGrabberCallback, &stillGrabberCallback}) {
        callback->owner = &owner;
        callback->SetFrameSize(64, 48);
        TestFrame frame = TestFrame::Quadrants(64, 48);
        const FrameBuffer buffer = frame.Buffer();
        ASSERT_EQ(callback->BufferCB(0.0, buffer.data, buffer.length), S_OK);
        // The bytes the renderer gets next are the turned ones too.
        EXPECT_EQ(frame.At(0, 0), (std::vector<int>{0, 255, 0}));
    }
    EXPECT_EQ(owner.Events(), std::vector<int>{UM_PHOTO_SAVED});
    const std::vector<std::string> revealed = owner.Revealed();
    ASSERT_EQ(revealed.size(), 2u);
    for (const std::string& path : revealed) {
        const DecodedPicture picture = DecodeJpegFile(path);
        ASSERT_EQ(picture.width, 64) << path;
        // Left and right traded places: green top-left, red top-right, white bottom-left.
        const std::pair<std::pair<int, int>, std::vector<int>> spots[] = {
            {{16, 12}, {0, 255, 0}}, {{48, 12}, {0, 0, 255}}, {{16, 36}, {255, 255, 255}}};
        for (const auto& [at, colour] : spots) {
            const std::vector<int> actual = picture.At(at.first, at.second);
            for (int i = 0; i < 3; ++i) EXPECT_NEAR(actual[i], colour[i], 8) << path;
        }
    }
}

}  // namespace
