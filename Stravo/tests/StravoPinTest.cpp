// The source filter and its output pin, created in-process, against the camera simulator
// (or an address where nothing listens).
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Stravo/CFrameManager.h"
#include "Stravo/CWifiDevice.h"
#include "Stravo/StravoFilter.h"
#include "Stravo/tests/TempStore.h"
#include "tools/camsim/CamSimProcess.h"
#include "tools/camsim/TestPattern.h"

namespace {

using namespace std::chrono_literals;

// One simulator address per test, since tests may run side by side.
constexpr const char* kOfferAddress = "127.0.0.61";
constexpr const char* kFormatAddress = "127.0.0.64";
constexpr const char* kPictureAddress = "127.0.0.65";
constexpr const char* kSharedAddress = "127.0.0.67";
// Nothing listens there: the camera is unreachable.
constexpr const char* kSilentAddress = "127.0.0.63";
constexpr int kPort = 8080;

struct TypeHolder {
    explicit TypeHolder(AM_MEDIA_TYPE* type) : type(type) {}
    ~TypeHolder() {
        if (type != nullptr) DeleteMediaType(type);
    }
    const VIDEOINFOHEADER* Info() const {
        return reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
    }
    AM_MEDIA_TYPE* type;
};

CMediaType VideoType(const GUID& major, const GUID& subtype, LONG width, LONG height,
                     WORD bitCount = 24, bool withFormat = true) {
    CMediaType type(&major);
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    if (withFormat) {
        VIDEOINFOHEADER info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = bitCount;
        info.bmiHeader.biSizeImage = GetBitmapSize(&info.bmiHeader);
        type.SetFormat(reinterpret_cast<const BYTE*>(&info), sizeof(info));
    }
    return type;
}

// A 640 x 480 picture whose every byte is `value`.
uint8_t* Picture(BYTE value) {
    auto* picture = new uint8_t[921600];
    std::memset(picture, value, 921600);
    return picture;
}

CComPtr<IMemAllocator> CommittedAllocator(long bufferSize) {
    HRESULT hr = S_OK;
    auto* allocator = new CMemAllocator("test allocator", nullptr, &hr);
    CComPtr<IMemAllocator> result;
    allocator->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&result));
    ALLOCATOR_PROPERTIES request{1, bufferSize, 1, 0};
    ALLOCATOR_PROPERTIES actual{};
    if (FAILED(result->SetProperties(&request, &actual)) || FAILED(result->Commit())) return {};
    return result;
}

// Creates a filter as the class factory does.
void MakeFilter(CComPtr<IBaseFilter>& filter, CStravoFilter*& stravo, CStravoPin*& pin) {
    HRESULT hr = S_OK;
    CUnknown* object = CStravoFilter::CreateInstance(nullptr, &hr);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(
        object->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter)),
        S_OK);
    stravo = static_cast<CStravoFilter*>(object);
    ASSERT_EQ(stravo->GetPinCount(), 1);
    pin = dynamic_cast<CStravoPin*>(stravo->GetPin(0));
    ASSERT_NE(pin, nullptr);
}

// Fills one sample of a connected 640 x 480 pin and reads the simulator's counter from it.
uint32_t FillAndReadCounter(CStravoPin* pin, IMemAllocator* allocator) {
    IMediaSample* sample = nullptr;
    if (allocator->GetBuffer(&sample, nullptr, nullptr, 0) != S_OK) return 0;
    uint32_t counter = 0;
    BYTE* data = nullptr;
    if (pin->FillBuffer(sample) == S_OK && sample->GetPointer(&data) == S_OK) {
        counter = camsim::ReadFrameCounter(data, 640, 480, 640 * 3, true);
    }
    sample->Release();
    return counter;
}

class StravoFilterTest : public ::testing::Test {
protected:
    void TearDown() override {
        filter_.Release();
        CWifiDevice::Destroy();
        CFrameManager::Destroy();
    }

    // Creates the filter as the class factory does, with the camera at `address`.
    void CreateFilter(const char* address) {
        ASSERT_TRUE(store_.PointCameraAt(address, kPort));
        MakeFilter(filter_, stravo_, pin_);
    }

    TempStore store_;
    CComPtr<IBaseFilter> filter_;
    CStravoFilter* stravo_ = nullptr;
    CStravoPin* pin_ = nullptr;
};

TEST_F(StravoFilterTest, OffersTheCameraSizeAndAcceptsOnlyIt) {
    CamSimProcess camera(
        {"--address", kOfferAddress, "--port", std::to_string(kPort), "--size", "1280x720"});
    ASSERT_TRUE(camera.Ready());
    CreateFilter(kOfferAddress);
    ASSERT_EQ(stravo_->FormatList()->FormatCount(), 1);

    CMediaType offered;
    ASSERT_EQ(pin_->GetMediaType(0, &offered), S_OK);
    EXPECT_EQ(*offered.Type(), MEDIATYPE_Video);
    EXPECT_EQ(*offered.Subtype(), MEDIASUBTYPE_RGB24);
    EXPECT_EQ(*offered.FormatType(), FORMAT_VideoInfo);
    EXPECT_EQ(offered.FormatLength(), sizeof(VIDEOINFO));
    const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(offered.Format());
    EXPECT_EQ(info->bmiHeader.biWidth, 1280);
    EXPECT_EQ(info->bmiHeader.biHeight, 720);
    EXPECT_EQ(info->bmiHeader.biSize, 40u);
    EXPECT_EQ(info->bmiHeader.biBitCount, 24);
    EXPECT_EQ(info->bmiHeader.biSizeImage, 2764800u);
    EXPECT_EQ(info->AvgTimePerFrame, 333333);
    EXPECT_EQ(offered.GetSampleSize(), 2764800u);

    CMediaType unused;
    EXPECT_EQ(pin_->GetMediaType(1, &unused), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(pin_->GetMediaType(2, &unused), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(pin_->GetMediaType(-1, &unused), E_INVALIDARG);
    EXPECT_EQ(pin_->GetMediaType(0, nullptr), E_POINTER);

    struct CheckCase {
        const char* name;
        CMediaType type;
        HRESULT expected;
    };
    const CheckCase cases[] = {
        {"1280 x 720", VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 1280, 720), S_OK},
        {"top-down 1280 x -720", VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 1280, -720),
         E_INVALIDARG},
        {"640 x 480", VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 640, 480), E_INVALIDARG},
        {"RGB32 subtype", VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB32, 1280, 720), E_INVALIDARG},
        {"audio", VideoType(MEDIATYPE_Audio, MEDIASUBTYPE_RGB24, 1280, 720), E_INVALIDARG},
        {"no format block", VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 1280, 720, 24, false),
         E_INVALIDARG},
    };
    for (const CheckCase& check : cases) {
        EXPECT_EQ(pin_->CheckMediaType(&check.type), check.expected) << check.name;
    }
    EXPECT_EQ(pin_->CheckMediaType(nullptr), E_POINTER);

    int count = 0, size = 0;
    ASSERT_EQ(pin_->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(size, 128);
    AM_MEDIA_TYPE* raw = nullptr;
    ASSERT_EQ(pin_->GetStreamCaps(0, &raw, nullptr), S_OK);
    TypeHolder caps(raw);
    EXPECT_EQ(caps.type->subtype, MEDIASUBTYPE_RGB24);
    EXPECT_EQ(caps.type->cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_FALSE(caps.type->bFixedSizeSamples);
    EXPECT_EQ(caps.type->lSampleSize, 2764800u);
    EXPECT_EQ(caps.Info()->bmiHeader.biWidth, 1280);
    EXPECT_EQ(caps.Info()->bmiHeader.biHeight, 720);
    EXPECT_EQ(caps.Info()->bmiHeader.biSize, 40u);
    EXPECT_EQ(caps.Info()->AvgTimePerFrame, 333333);
    EXPECT_EQ(pin_->GetStreamCaps(1, &raw, nullptr), E_INVALIDARG);
    EXPECT_EQ(pin_->GetStreamCaps(0, nullptr, nullptr), E_POINTER);
}

TEST_F(StravoFilterTest, FormatRequestsChangeNothingUntilAConnectionTypeIsSet) {
    CamSimProcess camera(
        {"--address", kFormatAddress, "--port", std::to_string(kPort), "--size", "1280x720"});
    ASSERT_TRUE(camera.Ready());
    CreateFilter(kFormatAddress);

    // Before any connection: the 640 x 480 default with header size 0.
    AM_MEDIA_TYPE* raw = nullptr;
    ASSERT_EQ(pin_->GetFormat(&raw), S_OK);
    {
        TypeHolder before(raw);
        EXPECT_EQ(before.type->cbFormat, sizeof(VIDEOINFOHEADER));
        EXPECT_EQ(before.Info()->bmiHeader.biWidth, 640);
        EXPECT_EQ(before.Info()->bmiHeader.biHeight, 480);
        EXPECT_EQ(before.Info()->bmiHeader.biSize, 0u);
        EXPECT_EQ(before.Info()->bmiHeader.biSizeImage, 921600u);
        EXPECT_EQ(before.Info()->dwBitRate, 221184000u);
        EXPECT_EQ(before.Info()->AvgTimePerFrame, 333333);
    }
    CMediaType request = VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 1280, 720);
    EXPECT_EQ(pin_->SetFormat(&request), S_OK);
    ASSERT_EQ(pin_->GetFormat(&raw), S_OK);
    {
        TypeHolder after(raw);
        EXPECT_EQ(after.Info()->bmiHeader.biWidth, 640);
        EXPECT_EQ(after.Info()->bmiHeader.biHeight, 480);
    }

    // The connection type: its size reaches GetFormat and the buffer size.
    CMediaType offered;
    ASSERT_EQ(pin_->GetMediaType(0, &offered), S_OK);
    ASSERT_EQ(pin_->SetMediaType(&offered), S_OK);
    ASSERT_EQ(pin_->GetFormat(&raw), S_OK);
    {
        TypeHolder connected(raw);
        EXPECT_EQ(connected.Info()->bmiHeader.biWidth, 1280);
        EXPECT_EQ(connected.Info()->bmiHeader.biSize, 40u);
    }
    HRESULT hr = S_OK;
    auto* allocator = new CMemAllocator("test allocator", nullptr, &hr);
    CComPtr<IMemAllocator> memory;
    allocator->NonDelegatingQueryInterface(IID_IMemAllocator, reinterpret_cast<void**>(&memory));
    ALLOCATOR_PROPERTIES proposed{4, 100, 1, 0};
    ASSERT_EQ(pin_->DecideBufferSize(memory, &proposed), S_OK);
    ALLOCATOR_PROPERTIES granted{};
    memory->GetProperties(&granted);
    EXPECT_EQ(granted.cBuffers, 1);
    EXPECT_EQ(granted.cbBuffer, 2764800);
    EXPECT_EQ(pin_->DecideBufferSize(nullptr, &proposed), E_POINTER);

    // Unusable bit counts and missing format blocks are refused after being stored.
    CMediaType twelveBits = VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 1280, 720, 12);
    EXPECT_EQ(pin_->SetMediaType(&twelveBits), E_INVALIDARG);
    CMediaType noFormat = VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 1280, 720, 24, false);
    EXPECT_EQ(pin_->SetMediaType(&noFormat), E_UNEXPECTED);
    EXPECT_EQ(pin_->SetMediaType(nullptr), E_POINTER);
    // Capabilities still come out whole from a connection type without a format block.
    ASSERT_EQ(pin_->GetStreamCaps(0, &raw, nullptr), S_OK);
    TypeHolder caps(raw);
    EXPECT_EQ(caps.Info()->bmiHeader.biWidth, 1280);
    EXPECT_EQ(caps.Info()->bmiHeader.biSizeImage, 2764800u);
}

TEST_F(StravoFilterTest, SamplesCarryTheCameraPictureBottomRowFirst) {
    CamSimProcess camera({"--address", kPictureAddress, "--port", std::to_string(kPort)});
    ASSERT_TRUE(camera.Ready());
    CreateFilter(kPictureAddress);
    CMediaType offered;
    ASSERT_EQ(pin_->GetMediaType(0, &offered), S_OK);
    ASSERT_EQ(pin_->SetMediaType(&offered), S_OK);
    for (int i = 0; i < 500 && CFrameManager::Instance()->GetCount() == 0; ++i) {
        std::this_thread::sleep_for(10ms);
    }
    ASSERT_GT(CFrameManager::Instance()->GetCount(), 0);

    CComPtr<IMemAllocator> allocator = CommittedAllocator(921600);
    ASSERT_TRUE(allocator);
    IMediaSample* sample = nullptr;
    ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(pin_->FillBuffer(sample), S_OK);
    EXPECT_EQ(sample->GetActualDataLength(), 921600);
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const int stride = 640 * 3;
    // Memory row 0 is the picture's bottom row.
    auto near = [](const BYTE* bgr, const camsim::Rgb& colour) {
        return std::abs(bgr[0] - colour.blue) < 40 && std::abs(bgr[1] - colour.green) < 40 &&
               std::abs(bgr[2] - colour.red) < 40;
    };
    EXPECT_TRUE(near(data + (480 - 1 - 100) * stride + 100 * 3, camsim::kTopLeftColour));
    EXPECT_TRUE(near(data + 100 * stride + 100 * 3, camsim::kBottomLeftColour));
    EXPECT_TRUE(near(data + 100 * stride + 540 * 3, camsim::kBottomRightColour));
    sample->Release();
}

TEST_F(StravoFilterTest, UnreachableCameraOffersNothingAndSamplesAreBlackUntilAPicture) {
    // A picture left from an earlier stream is gone once a new filter opens its stream.
    CFrameManager::Instance()->PushFrame(640, 480, Picture(0x77), 921600);
    CreateFilter(kSilentAddress);
    EXPECT_EQ(stravo_->FormatList()->FormatCount(), 0);
    CMediaType unused;
    EXPECT_EQ(pin_->GetMediaType(0, &unused), VFW_S_NO_MORE_ITEMS);
    CMediaType usual = VideoType(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, 640, 480);
    EXPECT_EQ(pin_->CheckMediaType(&usual), E_INVALIDARG);
    int count = -1, size = 0;
    ASSERT_EQ(pin_->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 0);
    AM_MEDIA_TYPE* raw = nullptr;
    EXPECT_EQ(pin_->GetStreamCaps(0, &raw, nullptr), E_INVALIDARG);

    // The connection type is still the 640 x 480 default: 921600 bytes per picture. Until
    // the first picture, samples are black; afterwards an empty queue leaves the buffer as
    // it was (the last picture, in a running graph). A camera that ran ahead is skipped to
    // its newest picture.
    ASSERT_EQ(CFrameManager::Instance()->GetCount(), 0);
    struct FillCase {
        const char* name;
        long bufferSize;
        BYTE before;
        std::vector<BYTE> push;  // pictures, each filled with one byte, queued beforehand
        bool clearQueue;         // the queue emptied before the sample is filled
        long expectedLength;
        BYTE expectedInImage;
    };
    const FillCase cases[] = {
        {"no picture yet", 1000000, 0xAB, {}, false, 921600, 0x00},
        {"no picture yet, small buffer", 500000, 0xAB, {}, false, 500000, 0x00},
        {"a picture", 1000000, 0xAB, {0x11}, false, 921600, 0x11},
        {"the same picture again", 1000000, 0xAB, {}, false, 921600, 0x11},
        {"three more waiting: the newest", 1000000, 0xAB, {0x21, 0x22, 0x23}, false, 921600, 0x23},
        {"one more waiting: the repeated one a last time",
         1000000,
         0xAB,
         {0x31},
         false,
         921600,
         0x23},
        {"then the one that waited", 1000000, 0xAB, {}, false, 921600, 0x31},
        {"empty queue after a picture", 1000000, 0xCD, {}, true, 921600, 0xCD},
    };
    REFERENCE_TIME expectedStart = 0;
    for (const FillCase& fill : cases) {
        for (BYTE value : fill.push) {
            CFrameManager::Instance()->PushFrame(640, 480, Picture(value), 921600);
        }
        if (fill.clearQueue) CFrameManager::Instance()->Clear();
        CComPtr<IMemAllocator> allocator = CommittedAllocator(fill.bufferSize);
        ASSERT_TRUE(allocator);
        IMediaSample* sample = nullptr;
        ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        std::memset(data, fill.before, static_cast<size_t>(fill.bufferSize));
        ASSERT_EQ(pin_->FillBuffer(sample), S_OK) << fill.name;
        EXPECT_EQ(sample->GetActualDataLength(), fill.expectedLength) << fill.name;
        REFERENCE_TIME start = -1, stop = -1;
        ASSERT_EQ(sample->GetTime(&start, &stop), S_OK);
        EXPECT_EQ(start, expectedStart) << fill.name;
        EXPECT_EQ(stop, expectedStart + 333333) << fill.name;
        EXPECT_EQ(sample->IsSyncPoint(), S_OK);
        expectedStart += 333333;
        const auto image = static_cast<size_t>(fill.expectedLength);
        EXPECT_EQ(std::vector<BYTE>(data, data + image),
                  std::vector<BYTE>(image, fill.expectedInImage))
            << fill.name;
        EXPECT_EQ(std::vector<BYTE>(data + image, data + fill.bufferSize),
                  std::vector<BYTE>(static_cast<size_t>(fill.bufferSize) - image, fill.before))
            << fill.name;
        sample->Release();
    }
    EXPECT_EQ(pin_->FillBuffer(nullptr), E_POINTER);
}

// Filters share the one reader: releasing one leaves the other's stream running, releasing
// the last closes it.
TEST_F(StravoFilterTest, TwoFiltersShareTheReaderUntilTheLastIsReleased) {
    CamSimProcess camera(
        {"--address", kSharedAddress, "--port", std::to_string(kPort), "--fps", "60"});
    ASSERT_TRUE(camera.Ready());
    CreateFilter(kSharedAddress);
    CComPtr<IBaseFilter> secondFilter;
    CStravoFilter* second = nullptr;
    CStravoPin* secondPin = nullptr;
    ASSERT_NO_FATAL_FAILURE(MakeFilter(secondFilter, second, secondPin));
    EXPECT_EQ(CWifiDevice::Users(), 2);
    ASSERT_EQ(second->FormatList()->FormatCount(), 1) << "the second shares the open stream";
    CMediaType offered;
    ASSERT_EQ(pin_->GetMediaType(0, &offered), S_OK);
    ASSERT_EQ(pin_->SetMediaType(&offered), S_OK);
    ASSERT_EQ(secondPin->SetMediaType(&offered), S_OK);
    CComPtr<IMemAllocator> memory = CommittedAllocator(921600);
    CComPtr<IMemAllocator> secondMemory = CommittedAllocator(921600);
    ASSERT_TRUE(memory && secondMemory);

    // Both pins fill at once while pictures arrive: a picture lent to one pin is never freed
    // under the other's copy (the sanitizers watch).
    std::thread other([&] {
        for (int i = 0; i < 15; ++i) FillAndReadCounter(secondPin, secondMemory);
    });
    for (int i = 0; i < 15; ++i) FillAndReadCounter(pin_, memory);
    other.join();

    filter_.Release();
    EXPECT_EQ(CWifiDevice::Users(), 1);
    const uint32_t before = FillAndReadCounter(secondPin, secondMemory);
    std::this_thread::sleep_for(200ms);
    EXPECT_GT(FillAndReadCounter(secondPin, secondMemory), before)
        << "the remaining filter still receives new pictures";

    secondFilter.Release();
    EXPECT_EQ(CWifiDevice::Users(), 0);
    CFrameManager::Instance()->Clear();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(CFrameManager::Instance()->GetCount(), 0) << "the reader is gone";
}

TEST_F(StravoFilterTest, PinCategoryAndInterfaceRouting) {
    CreateFilter(kSilentAddress);
    const GUID kOtherSet = PIN_CATEGORY_PREVIEW;
    struct GetCase {
        const char* name;
        GUID set;
        DWORD id;
        bool withData;
        DWORD dataSize;
        bool withReturned;
        HRESULT expected;
        DWORD expectedReturned;
        bool expectCategory;
    };
    const GetCase cases[] = {
        {"other property set", kOtherSet, AMPROPERTY_PIN_CATEGORY, true, 16, true,
         E_PROP_SET_UNSUPPORTED, 0, false},
        {"other property", AMPROPSETID_Pin, AMPROPERTY_PIN_MEDIUM, true, 16, true,
         E_PROP_ID_UNSUPPORTED, 0, false},
        {"no data, no size", AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, false, 0, false, E_POINTER,
         0, false},
        {"size only", AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, false, 0, true, S_OK, 16, false},
        {"short buffer", AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, true, 8, true, E_UNEXPECTED, 16,
         false},
        {"16 bytes", AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, true, 16, true, S_OK, 16, true},
        {"16 bytes, no size", AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, true, 16, false, S_OK, 0,
         true},
    };
    for (const GetCase& get : cases) {
        GUID category = GUID_NULL;
        DWORD returned = 0;
        EXPECT_EQ(pin_->Get(get.set, get.id, nullptr, 0, get.withData ? &category : nullptr,
                            get.dataSize, get.withReturned ? &returned : nullptr),
                  get.expected)
            << get.name;
        EXPECT_EQ(returned, get.expectedReturned) << get.name;
        EXPECT_EQ(category == PIN_CATEGORY_CAPTURE, get.expectCategory) << get.name;
    }
    EXPECT_EQ(pin_->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0),
              E_NOTIMPL);
    EXPECT_EQ(pin_->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr), S_OK);
    EXPECT_EQ(pin_->Notify(filter_, Quality{}), E_FAIL);

    // The filter hands out the pin's stream configuration and property set.
    CComPtr<IAMStreamConfig> fromFilter, fromPin;
    ASSERT_EQ(filter_->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&fromFilter)),
              S_OK);
    ASSERT_EQ(pin_->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&fromPin)), S_OK);
    EXPECT_EQ(fromFilter.p, fromPin.p);
    CComPtr<IKsPropertySet> properties;
    EXPECT_EQ(filter_->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties)),
              S_OK);
    CComPtr<IPin> pin;
    EXPECT_EQ(filter_->FindPin(L"Out", &pin), S_OK);
    CLSID clsid{};
    filter_->GetClassID(&clsid);
    EXPECT_EQ(clsid, CLSID_StravoFilter);
}

}  // namespace
