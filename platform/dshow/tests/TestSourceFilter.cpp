#include "platform/dshow/tests/TestSourceFilter.h"

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

namespace {

class CTestStream : public CSourceStream, public IKsPropertySet {
public:
    CTestStream(HRESULT* phr, CSource* filter, const std::wstring& name, const GUID& category)
        : CSourceStream("test stream", phr, filter, name.c_str()), category_(category) {}

    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IKsPropertySet)
            return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
        return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT GetMediaType(CMediaType* pmt) override {
        return SetRgb24VideoType(*pmt, CTestSource::kWidth, CTestSource::kHeight,
                                 CTestSource::kFrameTime);
    }

    HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override {
        if (allocator == nullptr || props == nullptr) return E_POINTER;
        props->cBuffers = 2;
        props->cbBuffer = static_cast<long>(m_mt.GetSampleSize());
        return SetAllocatorProperties(allocator, props, props->cbBuffer);
    }

    HRESULT FillBuffer(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = static_cast<long>(m_mt.GetSampleSize());
        std::memset(data, static_cast<int>(frame_ & 0xFF), static_cast<size_t>(length));
        sample->SetActualDataLength(length);
        REFERENCE_TIME start = frame_ * CTestSource::kFrameTime;
        REFERENCE_TIME end = start + CTestSource::kFrameTime;
        sample->SetTime(&start, &end);
        sample->SetSyncPoint(TRUE);
        ++frame_;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return S_OK;
    }

    // IKsPropertySet: the pin category.
    HRESULT Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) override { return E_NOTIMPL; }
    HRESULT Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                DWORD* returned) override {
        return GetPinCategoryProperty(category_, set, id, data, size, returned);
    }
    HRESULT QuerySupported(REFGUID, DWORD, DWORD* support) override {
        if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
        return S_OK;
    }

private:
    const GUID category_;
    REFERENCE_TIME frame_ = 0;  // streaming thread only
};

}  // namespace

CTestSource::CTestSource(LPUNKNOWN outer, HRESULT* phr, const std::vector<GUID>& categories)
    : CSource("test source", outer, CLSID_TestSource, phr) {
    CAutoLock lock(&m_cStateLock);
    int index = 0;
    for (const GUID& category : categories) {
        new CTestStream(phr, this, L"Out" + std::to_wstring(index++), category);
    }
}

CTestSource::~CTestSource() = default;

CUnknown* CTestSource::CreateInstance(LPUNKNOWN outer, HRESULT* phr) {
    return new CTestSource(outer, phr);
}
