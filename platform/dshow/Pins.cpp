// Pins: connection negotiation, allocator choice, delivery.
#include <cstring>

#include "platform/dshow/Internal.h"

namespace dshow {

CMediaTypeEnum::CMediaTypeEnum(std::vector<CMediaType> types, size_t position)
    : CUnknown("media type enumerator", nullptr), types_(std::move(types)), position_(position) {}

HRESULT CMediaTypeEnum::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IEnumMediaTypes) return GetInterface(static_cast<IEnumMediaTypes*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CMediaTypeEnum::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) {
    if (types == nullptr) return E_POINTER;
    if (fetched == nullptr && count != 1) return E_INVALIDARG;
    ULONG done = 0;
    while (done < count && position_ < types_.size()) {
        AM_MEDIA_TYPE* copy = CreateMediaType(&types_[position_]);
        if (copy == nullptr) break;
        types[done++] = copy;
        ++position_;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

HRESULT CMediaTypeEnum::Skip(ULONG count) {
    const size_t left = types_.size() - position_;
    if (count > left) {
        position_ = types_.size();
        return S_FALSE;
    }
    position_ += count;
    return S_OK;
}

HRESULT CMediaTypeEnum::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT CMediaTypeEnum::Clone(IEnumMediaTypes** clone) {
    if (clone == nullptr) return E_POINTER;
    auto* copy = new CMediaTypeEnum(types_, position_);
    return copy->NonDelegatingQueryInterface(IID_IEnumMediaTypes, reinterpret_cast<void**>(clone));
}

void CopyName(const std::wstring& text, WCHAR* target, size_t capacity) {
    const size_t count = text.size() < capacity - 1 ? text.size() : capacity - 1;
    std::wmemcpy(target, text.data(), count);
    target[count] = 0;
}

std::vector<CComPtr<IPin>> PinsOf(IBaseFilter* filter) {
    std::vector<CComPtr<IPin>> pins;
    CComPtr<IEnumPins> pinEnum;
    if (FAILED(filter->EnumPins(&pinEnum)) || !pinEnum) return pins;
    IPin* pin = nullptr;
    while (pinEnum->Next(1, &pin, nullptr) == S_OK) {
        CComPtr<IPin> held;
        held.Attach(pin);
        pins.push_back(held);
    }
    return pins;
}

GUID PinCategory(IPin* pin) {
    GUID category = GUID_NULL;
    CComPtr<IKsPropertySet> properties;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&properties)))) {
        return category;
    }
    DWORD returned = 0;
    if (FAILED(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                               sizeof(category), &returned)) ||
        returned != sizeof(category)) {
        return GUID_NULL;
    }
    return category;
}

bool PinHasMajorType(IPin* pin, const GUID& majorType) {
    AM_MEDIA_TYPE connected{};
    if (pin->ConnectionMediaType(&connected) == S_OK) {
        const bool matches = connected.majortype == majorType;
        FreeMediaType(connected);
        return matches;
    }
    CComPtr<IEnumMediaTypes> types;
    if (FAILED(pin->EnumMediaTypes(&types)) || !types) return false;
    AM_MEDIA_TYPE* type = nullptr;
    while (types->Next(1, &type, nullptr) == S_OK) {
        const bool matches = type->majortype == majorType;
        DeleteMediaType(type);
        if (matches) return true;
    }
    return false;
}

}  // namespace dshow

// ---------------------------------------------------------------------------------------
CBasePin::CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName, PIN_DIRECTION dir)
    : CUnknown(pObjectName, nullptr, phr),
      m_pName(pName != nullptr ? pName : L""),
      m_dir(dir),
      m_pLock(pLock),
      m_pFilter(pFilter) {}

CBasePin::~CBasePin() {
    if (m_Connected != nullptr) m_Connected->Release();
}

HRESULT CBasePin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IPin) return GetInterface(static_cast<IPin*>(this), ppv);
    if (riid == IID_IQualityControl) return GetInterface(static_cast<IQualityControl*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

ULONG CBasePin::NonDelegatingAddRef() {
    return m_pFilter->AddRef();
}

ULONG CBasePin::NonDelegatingRelease() {
    return m_pFilter->Release();
}

HRESULT CBasePin::Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) {
    if (pReceivePin == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    if (pmt == nullptr) return AgreeMediaType(pReceivePin, nullptr);
    const CMediaType partial(*pmt);
    return AgreeMediaType(pReceivePin, &partial);
}

HRESULT CBasePin::AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt) {
    if (pmt != nullptr && !pmt->IsPartiallySpecified()) {
        return AttemptConnection(pReceivePin, pmt);
    }
    // The receiving pin's preferences first, then ours.
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    for (int side = 0; side < 2; ++side) {
        CComPtr<IEnumMediaTypes> types;
        const HRESULT hr = side == 0 ? pReceivePin->EnumMediaTypes(&types) : EnumMediaTypes(&types);
        if (FAILED(hr) || !types) continue;
        const HRESULT tried = TryMediaTypes(pReceivePin, pmt, types);
        if (SUCCEEDED(tried)) return NOERROR;
        if (tried != VFW_E_NO_ACCEPTABLE_TYPES) failure = tried;
    }
    if (sys::DebugTraceEnabled())
        sys::DebugTraceF("dshow %s -> %s: no media type agreed for %s (0x%08X)",
                         dshow::PinText(this).c_str(), dshow::PinText(pReceivePin).c_str(),
                         dshow::MediaTypeText(pmt).c_str(), static_cast<unsigned>(failure));
    return failure;
}

HRESULT CBasePin::TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum) {
    HRESULT failure = VFW_E_NO_ACCEPTABLE_TYPES;
    AM_MEDIA_TYPE* type = nullptr;
    while (pEnum->Next(1, &type, nullptr) == S_OK) {
        const CMediaType candidate(*type);
        DeleteMediaType(type);
        if (pmt != nullptr && !candidate.MatchesPartial(pmt)) continue;
        const HRESULT hr = AttemptConnection(pReceivePin, &candidate);
        if (SUCCEEDED(hr)) return hr;
        // A type refusal lets the next type try; anything else is worth reporting.
        if (hr != VFW_E_TYPE_NOT_ACCEPTED && hr != E_FAIL && hr != E_INVALIDARG) failure = hr;
    }
    return failure;
}

HRESULT CBasePin::AttemptConnection(IPin* pReceivePin, const CMediaType* pmt) {
    const char* step = "the connecting pin refused the peer";
    HRESULT hr = CheckConnect(pReceivePin);
    if (SUCCEEDED(hr)) {
        step = "the connecting pin refused the type";
        hr = CheckMediaType(pmt);
        if (hr == NOERROR) {
            m_Connected = pReceivePin;
            m_Connected->AddRef();
            step = "the connecting pin could not take the type";
            hr = SetMediaType(pmt);
            if (SUCCEEDED(hr)) {
                step = "the receiving pin refused the connection";
                hr = pReceivePin->ReceiveConnection(this, pmt);
                if (SUCCEEDED(hr)) {
                    step = "completing the connection (allocator) failed";
                    hr = CompleteConnect(pReceivePin);
                    if (SUCCEEDED(hr)) return hr;
                    pReceivePin->Disconnect();
                }
            }
        } else if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) {
            hr = VFW_E_TYPE_NOT_ACCEPTED;
        }
    }
    if (sys::DebugTraceEnabled())
        sys::DebugTraceF("dshow %s -> %s: %s: %s (0x%08X)", dshow::PinText(this).c_str(),
                         dshow::PinText(pReceivePin).c_str(), step,
                         dshow::MediaTypeText(pmt).c_str(), static_cast<unsigned>(hr));
    if (m_Connected != nullptr) {
        m_Connected->Release();
        m_Connected = nullptr;
    }
    BreakConnect();
    return hr;
}

HRESULT CBasePin::ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) {
    if (pConnector == nullptr || pmt == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    HRESULT hr = CheckConnect(pConnector);
    if (FAILED(hr)) {
        BreakConnect();
        return hr;
    }
    const CMediaType type(*pmt);
    hr = CheckMediaType(&type);
    if (hr != NOERROR) {
        BreakConnect();
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    m_Connected = pConnector;
    m_Connected->AddRef();
    hr = SetMediaType(&type);
    if (SUCCEEDED(hr)) {
        hr = CompleteConnect(pConnector);
        if (SUCCEEDED(hr)) return NOERROR;
    }
    m_Connected->Release();
    m_Connected = nullptr;
    BreakConnect();
    return hr;
}

HRESULT CBasePin::Disconnect() {
    CAutoLock lock(m_pLock);
    if (!IsStopped()) return VFW_E_NOT_STOPPED;
    return DisconnectInternal();
}

HRESULT CBasePin::DisconnectInternal() {
    if (m_Connected == nullptr) {
        BreakConnect();
        return S_FALSE;
    }
    const HRESULT hr = BreakConnect();
    if (FAILED(hr)) return hr;
    m_Connected->Release();
    m_Connected = nullptr;
    return S_OK;
}

HRESULT CBasePin::ConnectedTo(IPin** pPin) {
    if (pPin == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pPin = m_Connected;
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    m_Connected->AddRef();
    return S_OK;
}

HRESULT CBasePin::ConnectionMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_Connected == nullptr) {
        std::memset(pmt, 0, sizeof(*pmt));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(pmt, &m_mt);
}

HRESULT CBasePin::QueryPinInfo(PIN_INFO* pInfo) {
    if (pInfo == nullptr) return E_POINTER;
    pInfo->pFilter = m_pFilter;
    m_pFilter->AddRef();
    pInfo->dir = m_dir;
    dshow::CopyName(m_pName, pInfo->achName, MAX_PIN_NAME);
    return NOERROR;
}

HRESULT CBasePin::QueryDirection(PIN_DIRECTION* pPinDir) {
    if (pPinDir == nullptr) return E_POINTER;
    *pPinDir = m_dir;
    return NOERROR;
}

HRESULT CBasePin::QueryId(LPWSTR* Id) {
    if (Id == nullptr) return E_POINTER;
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((m_pName.size() + 1) * sizeof(WCHAR)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::wmemcpy(copy, m_pName.c_str(), m_pName.size() + 1);
    *Id = copy;
    return NOERROR;
}

HRESULT CBasePin::QueryAccept(const AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return E_POINTER;
    const CMediaType type(*pmt);
    return CheckMediaType(&type) == NOERROR ? S_OK : S_FALSE;
}

HRESULT CBasePin::EnumMediaTypes(IEnumMediaTypes** ppEnum) {
    if (ppEnum == nullptr) return E_POINTER;
    std::vector<CMediaType> types;
    for (int position = 0;; ++position) {
        CMediaType type;
        if (GetMediaType(position, &type) != S_OK) break;
        types.push_back(type);
    }
    auto* created = new dshow::CMediaTypeEnum(std::move(types));
    return created->NonDelegatingQueryInterface(IID_IEnumMediaTypes,
                                                reinterpret_cast<void**>(ppEnum));
}

HRESULT CBasePin::QueryInternalConnections(IPin** /*apPin*/, ULONG* /*nPin*/) {
    return E_NOTIMPL;
}

HRESULT CBasePin::EndOfStream() {
    return NOERROR;
}

HRESULT CBasePin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    m_tStart = tStart;
    m_tStop = tStop;
    m_dRate = dRate;
    return S_OK;
}

HRESULT CBasePin::Notify(IBaseFilter* /*pSelf*/, Quality /*q*/) {
    return E_NOTIMPL;
}

HRESULT CBasePin::SetSink(IQualityControl* piqc) {
    CAutoLock lock(m_pLock);
    m_pQSink = piqc;
    return NOERROR;
}

HRESULT CBasePin::Run(REFERENCE_TIME tStart) {
    m_tStart = tStart;
    return NOERROR;
}

HRESULT CBasePin::SetMediaType(const CMediaType* pmt) {
    return m_mt.Set(*pmt);
}

HRESULT CBasePin::CheckConnect(IPin* pPin) {
    PIN_DIRECTION direction;
    const HRESULT hr = pPin->QueryDirection(&direction);
    if (FAILED(hr)) return hr;
    return direction == m_dir ? VFW_E_INVALID_DIRECTION : NOERROR;
}

HRESULT CBasePin::CompleteConnect(IPin* /*pReceivePin*/) {
    return NOERROR;
}

HRESULT CBasePin::GetMediaType(int /*iPosition*/, CMediaType* /*pMediaType*/) {
    return E_UNEXPECTED;
}

// ---------------------------------------------------------------------------------------
CBaseOutputPin::CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                               HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_OUTPUT) {}

CBaseOutputPin::~CBaseOutputPin() {
    if (m_pAllocator != nullptr) m_pAllocator->Release();
    if (m_pInputPin != nullptr) m_pInputPin->Release();
}

HRESULT CBaseOutputPin::CheckConnect(IPin* pPin) {
    HRESULT hr = CBasePin::CheckConnect(pPin);
    if (FAILED(hr)) return hr;
    if (m_pInputPin != nullptr) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    hr = pPin->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_pInputPin));
    return FAILED(hr) ? E_NOINTERFACE : NOERROR;
}

HRESULT CBaseOutputPin::BreakConnect() {
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    if (m_pInputPin != nullptr) {
        m_pInputPin->Release();
        m_pInputPin = nullptr;
    }
    return NOERROR;
}

HRESULT CBaseOutputPin::CompleteConnect(IPin* /*pReceivePin*/) {
    return DecideAllocator(m_pInputPin, &m_pAllocator);
}

HRESULT CBaseOutputPin::DecideAllocator(IMemInputPin* pPin, IMemAllocator** ppAlloc) {
    *ppAlloc = nullptr;
    ALLOCATOR_PROPERTIES props{};
    pPin->GetAllocatorRequirements(&props);
    if (props.cbAlign == 0) props.cbAlign = 1;

    // Sizes the allocator `obtained` gave and hands it to the input pin; a refused one is
    // released.
    auto agree = [&](HRESULT obtained) {
        HRESULT hr = obtained;
        if (SUCCEEDED(hr)) hr = DecideBufferSize(*ppAlloc, &props);
        if (SUCCEEDED(hr)) hr = pPin->NotifyAllocator(*ppAlloc, FALSE);
        if (FAILED(hr) && *ppAlloc != nullptr) {
            (*ppAlloc)->Release();
            *ppAlloc = nullptr;
        }
        return hr;
    };
    // The input pin's allocator first, then one of our own.
    if (SUCCEEDED(agree(pPin->GetAllocator(ppAlloc)))) return NOERROR;
    const HRESULT hr = agree(InitAllocator(ppAlloc));
    return SUCCEEDED(hr) ? NOERROR : hr;
}

HRESULT CBaseOutputPin::InitAllocator(IMemAllocator** ppAlloc) {
    HRESULT hr = S_OK;
    auto* allocator = new CMemAllocator("allocator", nullptr, &hr);
    return allocator->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                  reinterpret_cast<void**>(ppAlloc));
}

HRESULT CBaseOutputPin::Active() {
    const HRESULT hr = m_pAllocator == nullptr ? VFW_E_NO_ALLOCATOR : m_pAllocator->Commit();
    if (FAILED(hr) && sys::DebugTraceEnabled())
        sys::DebugTraceF("dshow %s: no buffers to start with (0x%08X)",
                         dshow::PinText(this).c_str(), static_cast<unsigned>(hr));
    return hr;
}

HRESULT CBaseOutputPin::Inactive() {
    if (m_pAllocator == nullptr) return NOERROR;
    return m_pAllocator->Decommit();
}

HRESULT CBaseOutputPin::GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                          REFERENCE_TIME* pEndTime, DWORD dwFlags) {
    if (m_pAllocator == nullptr) return VFW_E_NO_ALLOCATOR;
    return m_pAllocator->GetBuffer(ppSample, pStartTime, pEndTime, dwFlags);
}

HRESULT CBaseOutputPin::Deliver(IMediaSample* pSample) {
    if (m_pInputPin == nullptr) return VFW_E_NOT_CONNECTED;
    return m_pInputPin->Receive(pSample);
}

HRESULT CBaseOutputPin::DeliverEndOfStream() {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndOfStream();
}

HRESULT CBaseOutputPin::DeliverBeginFlush() {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->BeginFlush();
}

HRESULT CBaseOutputPin::DeliverEndFlush() {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->EndFlush();
}

HRESULT CBaseOutputPin::DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop,
                                          double dRate) {
    if (m_Connected == nullptr) return VFW_E_NOT_CONNECTED;
    return m_Connected->NewSegment(tStart, tStop, dRate);
}

// ---------------------------------------------------------------------------------------
CBaseInputPin::CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock,
                             HRESULT* phr, LPCWSTR pName)
    : CBasePin(pObjectName, pFilter, pLock, phr, pName, PINDIR_INPUT) {}

CBaseInputPin::~CBaseInputPin() {
    if (m_pAllocator != nullptr) m_pAllocator->Release();
}

HRESULT CBaseInputPin::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMemInputPin) return GetInterface(static_cast<IMemInputPin*>(this), ppv);
    return CBasePin::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseInputPin::GetAllocator(IMemAllocator** ppAllocator) {
    if (ppAllocator == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    if (m_pAllocator == nullptr) {
        HRESULT hr = S_OK;
        auto* allocator = new CMemAllocator("input allocator", nullptr, &hr);
        hr = allocator->NonDelegatingQueryInterface(IID_IMemAllocator,
                                                    reinterpret_cast<void**>(&m_pAllocator));
        if (FAILED(hr)) return hr;
    }
    *ppAllocator = m_pAllocator;
    m_pAllocator->AddRef();
    return NOERROR;
}

HRESULT CBaseInputPin::NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) {
    if (pAllocator == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    pAllocator->AddRef();
    if (m_pAllocator != nullptr) m_pAllocator->Release();
    m_pAllocator = pAllocator;
    m_bReadOnly = bReadOnly;
    return NOERROR;
}

HRESULT CBaseInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* /*pProps*/) {
    return E_NOTIMPL;
}

HRESULT CBaseInputPin::Receive(IMediaSample* pSample) {
    if (pSample == nullptr) return E_POINTER;
    if (IsStopped()) return VFW_E_WRONG_STATE;
    if (m_bFlushing) return S_FALSE;
    return NOERROR;
}

HRESULT CBaseInputPin::ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                       long* nSamplesProcessed) {
    if (pSamples == nullptr || nSamplesProcessed == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    *nSamplesProcessed = 0;
    while (nSamples-- > 0) {
        hr = Receive(pSamples[*nSamplesProcessed]);
        if (hr != S_OK) break;
        ++*nSamplesProcessed;
    }
    return hr;
}

HRESULT CBaseInputPin::BeginFlush() {
    m_bFlushing = true;
    return S_OK;
}

HRESULT CBaseInputPin::EndFlush() {
    m_bFlushing = false;
    return S_OK;
}

HRESULT CBaseInputPin::BreakConnect() {
    CAutoLock lock(m_pLock);
    if (m_pAllocator != nullptr) {
        m_pAllocator->Decommit();
        m_pAllocator->Release();
        m_pAllocator = nullptr;
    }
    return S_OK;
}

HRESULT CBaseInputPin::Inactive() {
    m_bFlushing = false;
    if (m_pAllocator == nullptr) return NOERROR;
    return m_pAllocator->Decommit();
}
