// The sample grabber: an in-place filter that shows every sample to a callback on the
// streaming thread and then passes it on unchanged.
#include <cstring>
#include <mutex>

#include "platform/dshow/Internal.h"

namespace dshow {
namespace {

class CSampleGrabber;

class CGrabberInputPin : public CBaseInputPin {
public:
    CGrabberInputPin(CSampleGrabber* grabber, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;

private:
    CSampleGrabber* grabber_;
};

class CGrabberOutputPin : public CBaseOutputPin {
public:
    CGrabberOutputPin(CSampleGrabber* grabber, CCritSec* lock, HRESULT* phr);
    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) override;

private:
    CSampleGrabber* grabber_;
};

class CSampleGrabber : public CBaseFilter, public ISampleGrabber {
public:
    explicit CSampleGrabber(HRESULT* phr)
        : CBaseFilter("sample grabber", nullptr, &filterLock_, CLSID_SampleGrabber, phr),
          input_(this, &filterLock_, phr),
          output_(this, &filterLock_, phr) {}

    ~CSampleGrabber() override {
        if (callback_ != nullptr) callback_->Release();
    }

    DECLARE_IUNKNOWN

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_ISampleGrabber)
            return GetInterface(static_cast<ISampleGrabber*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override { return 2; }
    CBasePin* GetPin(int n) override {
        if (n == 0) return &input_;
        if (n == 1) return &output_;
        return nullptr;
    }

    // ISampleGrabber
    HRESULT SetOneShot(BOOL OneShot) override {
        std::lock_guard<std::mutex> guard(stateLock_);
        oneShot_ = OneShot != FALSE;
        shotTaken_ = false;
        return S_OK;
    }

    HRESULT SetMediaType(const AM_MEDIA_TYPE* pType) override {
        CAutoLock lock(&filterLock_);
        if (pType == nullptr) {
            accepted_.InitMediaType();
            return S_OK;
        }
        return accepted_.Set(*pType);
    }

    HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* pType) override {
        if (pType == nullptr) return E_POINTER;
        CAutoLock lock(&filterLock_);
        if (!input_.IsConnected()) return VFW_E_NOT_CONNECTED;
        return CopyMediaType(pType, &input_.CurrentMediaType());
    }

    HRESULT SetBufferSamples(BOOL BufferThem) override {
        std::lock_guard<std::mutex> guard(stateLock_);
        bufferSamples_ = BufferThem != FALSE;
        if (!bufferSamples_) {
            buffer_.clear();
            haveBuffer_ = false;
        }
        return S_OK;
    }

    HRESULT GetCurrentBuffer(long* pBufferSize, long* pBuffer) override {
        if (pBufferSize == nullptr) return E_POINTER;
        std::lock_guard<std::mutex> guard(stateLock_);
        if (!bufferSamples_) return E_INVALIDARG;
        if (!haveBuffer_) return VFW_E_WRONG_STATE;
        const auto size = static_cast<long>(buffer_.size());
        if (pBuffer == nullptr) {
            *pBufferSize = size;
            return S_OK;
        }
        if (*pBufferSize < size) return E_OUTOFMEMORY;
        std::memcpy(pBuffer, buffer_.data(), buffer_.size());
        *pBufferSize = size;
        return S_OK;
    }

    // Samples are passed on, not kept: there is no current sample to hand out.
    HRESULT GetCurrentSample(IMediaSample** ppSample) override {
        if (ppSample == nullptr) return E_POINTER;
        *ppSample = nullptr;
        return E_NOTIMPL;
    }

    HRESULT SetCallback(ISampleGrabberCB* pCallback, long WhichMethodToCallback) override {
        if (WhichMethodToCallback != 0 && WhichMethodToCallback != 1) return E_INVALIDARG;
        if (pCallback != nullptr) pCallback->AddRef();
        ISampleGrabberCB* old = nullptr;
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            old = callback_;
            callback_ = pCallback;
            whichMethod_ = WhichMethodToCallback;
        }
        if (old != nullptr) old->Release();
        return S_OK;
    }

    // Streaming thread: callback first, then downstream.
    HRESULT Grab(IMediaSample* sample) {
        ISampleGrabberCB* callback = nullptr;
        long whichMethod = 0;
        bool bufferIt = false;
        {
            std::lock_guard<std::mutex> guard(stateLock_);
            if (oneShot_ && shotTaken_) return S_FALSE;
            callback = callback_;
            if (callback != nullptr) callback->AddRef();
            whichMethod = whichMethod_;
            bufferIt = bufferSamples_;
        }
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        REFERENCE_TIME start = 0;
        REFERENCE_TIME end = 0;
        const double time = SUCCEEDED(sample->GetTime(&start, &end)) ? start / 1e7 : 0.0;
        if (bufferIt && data != nullptr) {
            std::lock_guard<std::mutex> guard(stateLock_);
            buffer_.assign(data, data + length);
            haveBuffer_ = true;
        }
        if (callback != nullptr) {
            if (whichMethod == 1) {
                callback->BufferCB(time, data, length);
            } else {
                callback->SampleCB(time, sample);
            }
            callback->Release();
        }
        HRESULT hr = output_.IsConnected() ? output_.Deliver(sample) : S_OK;
        std::lock_guard<std::mutex> guard(stateLock_);
        if (oneShot_) {
            shotTaken_ = true;
            hr = S_FALSE;
        }
        return hr;
    }

    const CMediaType& Accepted() const { return accepted_; }
    CGrabberInputPin& Input() { return input_; }
    CGrabberOutputPin& Output() { return output_; }

private:
    CCritSec filterLock_;
    CGrabberInputPin input_;
    CGrabberOutputPin output_;
    CMediaType accepted_;
    std::mutex stateLock_;  // callback, one-shot and buffer state
    ISampleGrabberCB* callback_ = nullptr;
    long whichMethod_ = 0;
    bool oneShot_ = false;
    bool shotTaken_ = false;
    bool bufferSamples_ = false;
    bool haveBuffer_ = false;
    std::vector<BYTE> buffer_;
};

CGrabberInputPin::CGrabberInputPin(CSampleGrabber* grabber, CCritSec* lock, HRESULT* phr)
    : CBaseInputPin("grabber input", grabber, lock, phr, L"Input"), grabber_(grabber) {}

HRESULT CGrabberInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt->MatchesPartial(&grabber_->Accepted())) return VFW_E_TYPE_NOT_ACCEPTED;
    // With the output connected, the downstream filter must take the type as well.
    IPin* downstream = grabber_->Output().GetConnected();
    if (downstream != nullptr && downstream->QueryAccept(pmt) != S_OK) {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    return S_OK;
}

HRESULT CGrabberInputPin::Receive(IMediaSample* pSample) {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return grabber_->Grab(pSample);
}

HRESULT CGrabberInputPin::EndOfStream() {
    return grabber_->Output().IsConnected() ? grabber_->Output().DeliverEndOfStream() : S_OK;
}

CGrabberOutputPin::CGrabberOutputPin(CSampleGrabber* grabber, CCritSec* lock, HRESULT* phr)
    : CBaseOutputPin("grabber output", grabber, lock, phr, L"Output"), grabber_(grabber) {}

HRESULT CGrabberOutputPin::CheckMediaType(const CMediaType* pmt) {
    CGrabberInputPin& input = grabber_->Input();
    if (!input.IsConnected()) return VFW_E_NOT_CONNECTED;
    return *pmt == input.CurrentMediaType() ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT CGrabberOutputPin::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CGrabberInputPin& input = grabber_->Input();
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0 || !input.IsConnected()) return VFW_S_NO_MORE_ITEMS;
    return pMediaType->Set(input.CurrentMediaType());
}

// Samples pass through in place: downstream gets the upstream allocator.
HRESULT CGrabberOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    CComPtr<IMemAllocator> upstream;
    if (SUCCEEDED(grabber_->Input().GetAllocator(&upstream)) && upstream) {
        const HRESULT hr = pPin->NotifyAllocator(upstream, FALSE);
        if (SUCCEEDED(hr)) {
            *ppAlloc = upstream.Detach();
            return S_OK;
        }
    }
    return CBaseOutputPin::DecideAllocator(pPin, ppAlloc);
}

HRESULT CGrabberOutputPin::DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProps) {
    ALLOCATOR_PROPERTIES request = *pProps;
    request.cBuffers = request.cBuffers > 0 ? request.cBuffers : 1;
    const ULONG sampleSize = grabber_->Input().CurrentMediaType().GetSampleSize();
    request.cbBuffer = sampleSize > 0 ? static_cast<long>(sampleSize) : 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < request.cbBuffer ? E_FAIL : S_OK;
}

}  // namespace

HRESULT CreateSampleGrabber(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateObject<CSampleGrabber>(outer, riid, ppv);
}

}  // namespace dshow
