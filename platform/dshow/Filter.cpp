// Filters, push sources and their streaming threads.
#include <chrono>

#include "platform/dshow/Internal.h"

CBaseFilter::CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid,
                         HRESULT* phr)
    : CUnknown(pName, pUnk, phr), m_clsid(clsid), m_pLock(pLock) {}

CBaseFilter::~CBaseFilter() {
    if (m_pClock != nullptr) m_pClock->Release();
}

HRESULT CBaseFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IBaseFilter || riid == IID_IMediaFilter || riid == IID_IPersist) {
        return GetInterface(static_cast<IBaseFilter*>(this), ppv);
    }
    if (riid == IID_IAMovieSetup) return GetInterface(static_cast<IAMovieSetup*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseFilter::GetClassID(CLSID* pClsID) {
    if (pClsID == nullptr) return E_POINTER;
    *pClsID = m_clsid;
    return NOERROR;
}

HRESULT CBaseFilter::Stop() {
    CAutoLock lock(m_pLock);
    HRESULT hr = NOERROR;
    if (m_State != State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected()) continue;
            const HRESULT pinResult = pin->Inactive();
            if (FAILED(pinResult) && SUCCEEDED(hr)) hr = pinResult;
        }
    }
    m_State = State_Stopped;
    return hr;
}

HRESULT CBaseFilter::Pause() {
    CAutoLock lock(m_pLock);
    if (m_State == State_Stopped) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected()) continue;
            const HRESULT hr = pin->Active();
            if (FAILED(hr)) {
                // Leave no pin half started.
                for (int k = 0; k < i; ++k) {
                    CBasePin* started = GetPin(k);
                    if (started != nullptr && started->IsConnected()) started->Inactive();
                }
                return hr;
            }
        }
    }
    m_State = State_Paused;
    return S_OK;
}

HRESULT CBaseFilter::Run(REFERENCE_TIME tStart) {
    CAutoLock lock(m_pLock);
    m_tStart = tStart;
    if (m_State == State_Stopped) {
        const HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    if (m_State != State_Running) {
        for (int i = 0; i < GetPinCount(); ++i) {
            CBasePin* pin = GetPin(i);
            if (pin == nullptr || !pin->IsConnected()) continue;
            const HRESULT hr = pin->Run(tStart);
            if (FAILED(hr)) return hr;
        }
    }
    m_State = State_Running;
    return S_OK;
}

HRESULT CBaseFilter::GetState(DWORD /*dwMSecs*/, FILTER_STATE* State) {
    if (State == nullptr) return E_POINTER;
    *State = m_State;
    return S_OK;
}

HRESULT CBaseFilter::SetSyncSource(IReferenceClock* pClock) {
    CAutoLock lock(m_pLock);
    if (pClock != nullptr) pClock->AddRef();
    if (m_pClock != nullptr) m_pClock->Release();
    m_pClock = pClock;
    return NOERROR;
}

HRESULT CBaseFilter::GetSyncSource(IReferenceClock** pClock) {
    if (pClock == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    *pClock = m_pClock;
    if (m_pClock != nullptr) m_pClock->AddRef();
    return NOERROR;
}

HRESULT CBaseFilter::EnumPins(IEnumPins** ppEnum) {
    std::vector<CComPtr<IPin>> pins;
    {
        CAutoLock lock(m_pLock);
        for (int i = 0; i < GetPinCount(); ++i) {
            if (CBasePin* pin = GetPin(i)) pins.emplace_back(static_cast<IPin*>(pin));
        }
    }
    return dshow::CInterfaceEnum<IEnumPins, IPin>::Create(IID_IEnumPins, std::move(pins), ppEnum);
}

HRESULT CBaseFilter::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == nullptr || ppPin == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    for (int i = 0; i < GetPinCount(); ++i) {
        CBasePin* pin = GetPin(i);
        if (pin != nullptr && std::wstring(pin->Name()) == Id) {
            return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
        }
    }
    *ppPin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT CBaseFilter::QueryFilterInfo(FILTER_INFO* pInfo) {
    if (pInfo == nullptr) return E_POINTER;
    CAutoLock lock(m_pLock);
    dshow::CopyName(m_pName, pInfo->achName, MAX_FILTER_NAME);
    pInfo->pGraph = m_pGraph;
    if (m_pGraph != nullptr) m_pGraph->AddRef();
    return NOERROR;
}

HRESULT CBaseFilter::JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) {
    CAutoLock lock(m_pLock);
    m_pGraph = pGraph;
    m_pName = pName != nullptr ? pName : L"";
    return NOERROR;
}

HRESULT CBaseFilter::QueryVendorInfo(LPWSTR* /*pVendorInfo*/) {
    return E_NOTIMPL;
}

HRESULT CBaseFilter::Register() {
    const AMOVIESETUP_FILTER* setup = GetSetupData();
    if (setup == nullptr) return S_FALSE;
    return dshow::RegisterFilterSetup(setup, TRUE);
}

HRESULT CBaseFilter::Unregister() {
    const AMOVIESETUP_FILTER* setup = GetSetupData();
    if (setup == nullptr) return S_FALSE;
    return dshow::RegisterFilterSetup(setup, FALSE);
}

HRESULT CBaseFilter::StreamTime(REFERENCE_TIME& rtStream) {
    if (m_pClock == nullptr) return VFW_E_NO_CLOCK;
    const HRESULT hr = m_pClock->GetTime(&rtStream);
    if (FAILED(hr)) return hr;
    rtStream -= m_tStart;
    return S_OK;
}

// ---------------------------------------------------------------------------------------
CSource::CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr)
    : CBaseFilter(pName, lpunk, &m_cStateLock, clsid, phr) {}

CSource::~CSource() {
    // Each pin removes itself from the list as it goes.
    while (m_iPins > 0) delete m_paStreams[static_cast<size_t>(m_iPins - 1)];
}

int CSource::GetPinCount() {
    CAutoLock lock(&m_cStateLock);
    return m_iPins;
}

CBasePin* CSource::GetPin(int n) {
    CAutoLock lock(&m_cStateLock);
    if (n < 0 || n >= m_iPins) return nullptr;
    return m_paStreams[static_cast<size_t>(n)];
}

HRESULT CSource::FindPin(LPCWSTR Id, IPin** ppPin) {
    if (Id == nullptr || ppPin == nullptr) return E_POINTER;
    // A pin is found by its identifier (its 1-based number) or by its name.
    const std::wstring id = Id;
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; ++i) {
        CSourceStream* pin = m_paStreams[static_cast<size_t>(i)];
        if (id == std::to_wstring(i + 1) || id == pin->Name()) {
            return GetInterface(static_cast<IPin*>(pin), reinterpret_cast<void**>(ppPin));
        }
    }
    *ppPin = nullptr;
    return VFW_E_NOT_FOUND;
}

int CSource::FindPinNumber(IPin* iPin) {
    CAutoLock lock(&m_cStateLock);
    for (int i = 0; i < m_iPins; ++i) {
        if (static_cast<IPin*>(m_paStreams[static_cast<size_t>(i)]) == iPin) return i;
    }
    return -1;
}

HRESULT CSource::AddPin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    m_paStreams.push_back(pStream);
    ++m_iPins;
    IncrementPinVersion();
    return S_OK;
}

HRESULT CSource::RemovePin(CSourceStream* pStream) {
    CAutoLock lock(&m_cStateLock);
    for (size_t i = 0; i < m_paStreams.size(); ++i) {
        if (m_paStreams[i] == pStream) {
            m_paStreams.erase(m_paStreams.begin() + static_cast<std::ptrdiff_t>(i));
            --m_iPins;
            IncrementPinVersion();
            return S_OK;
        }
    }
    return S_FALSE;
}

// ---------------------------------------------------------------------------------------
CSourceStream::CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName)
    : CBaseOutputPin(pObjectName, pms, pms->pStateLock(), phr, pName), m_pFilter(pms) {
    const HRESULT hr = m_pFilter->AddPin(this);
    if (phr != nullptr) *phr = hr;
}

CSourceStream::~CSourceStream() {
    if (ThreadExists()) {
        Stop();
        Exit();
        Close();
    }
    m_pFilter->RemovePin(this);
}

HRESULT CSourceStream::QueryId(LPWSTR* Id) {
    if (Id == nullptr) return E_POINTER;
    const std::wstring number = std::to_wstring(m_pFilter->FindPinNumber(this) + 1);
    auto* copy = static_cast<WCHAR*>(CoTaskMemAlloc((number.size() + 1) * sizeof(WCHAR)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::wmemcpy(copy, number.c_str(), number.size() + 1);
    *Id = copy;
    return NOERROR;
}

HRESULT CSourceStream::Active() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (m_pFilter->IsActive()) return S_FALSE;
    if (!IsConnected()) return NOERROR;
    HRESULT hr = CBaseOutputPin::Active();
    if (FAILED(hr)) return hr;
    if (!Create()) {
        sys::DebugTraceF("dshow pin '%s': the streaming thread cannot start",
                         com::WideToUtf8(Name()).c_str());
        return E_FAIL;
    }
    hr = Init();
    if (FAILED(hr)) {
        sys::DebugTraceF("dshow pin '%s': the streaming thread failed to set up (0x%08X)",
                         com::WideToUtf8(Name()).c_str(), static_cast<unsigned>(hr));
        Close();
        CBaseOutputPin::Inactive();
        return hr;
    }
    return Pause();
}

HRESULT CSourceStream::Inactive() {
    CAutoLock lock(m_pFilter->pStateLock());
    if (!IsConnected()) return NOERROR;
    // Decommitting first wakes a thread that waits for a buffer.
    const HRESULT hr = CBaseOutputPin::Inactive();
    if (ThreadExists()) {
        Stop();
        Exit();
        Close();
    }
    return hr;
}

HRESULT CSourceStream::CheckMediaType(const CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    CMediaType offered;
    if (FAILED(GetMediaType(&offered))) return E_FAIL;
    return offered == *pMediaType ? NOERROR : E_FAIL;
}

HRESULT CSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    CAutoLock lock(m_pFilter->pStateLock());
    if (iPosition < 0) return E_INVALIDARG;
    if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
    return GetMediaType(pMediaType);
}

HRESULT CSourceStream::GetMediaType(CMediaType* /*pMediaType*/) {
    return E_UNEXPECTED;
}

DWORD CSourceStream::ThreadProc() {
    DWORD command;
    do {
        command = GetRequest();
        if (command != CMD_INIT) Reply(static_cast<DWORD>(E_UNEXPECTED));
    } while (command != CMD_INIT);

    const HRESULT hr = OnThreadCreate();
    if (FAILED(hr)) {
        OnThreadDestroy();
        Reply(static_cast<DWORD>(hr));
        return 1;
    }
    Reply(NOERROR);

    do {
        command = GetRequest();
        switch (command) {
            case CMD_EXIT:
            case CMD_STOP:
                Reply(NOERROR);
                break;
            case CMD_RUN:
            case CMD_PAUSE:
                Reply(NOERROR);
                DoBufferProcessingLoop();
                break;
            default:
                Reply(static_cast<DWORD>(E_NOTIMPL));
                break;
        }
    } while (command != CMD_EXIT);

    OnThreadDestroy();
    return 0;
}

HRESULT CSourceStream::DoBufferProcessingLoop() {
    OnThreadStartPlay();
    DWORD command = CMD_STOP;
    do {
        while (!CheckRequest(&command)) {
            IMediaSample* sample = nullptr;
            HRESULT hr = GetDeliveryBuffer(&sample, nullptr, nullptr, 0);
            if (FAILED(hr)) {
                // Decommitted: the stop request is on its way.
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            hr = FillBuffer(sample);
            if (hr == S_OK) {
                hr = Deliver(sample);
                sample->Release();
                // Downstream refused the sample: stop pushing until told again.
                if (hr != S_OK) {
                    if (FAILED(hr)) TraceStreamEnd("downstream refused a sample", hr);
                    return S_OK;
                }
            } else if (hr == S_FALSE) {
                sample->Release();
                DeliverEndOfStream();
                return S_OK;
            } else {
                sample->Release();
                TraceStreamEnd("filling a sample failed", hr);
                DeliverEndOfStream();
                return hr;
            }
        }
        if (command == CMD_RUN || command == CMD_PAUSE) {
            Reply(NOERROR);
        } else if (command != CMD_STOP) {
            Reply(static_cast<DWORD>(E_UNEXPECTED));
        }
    } while (command != CMD_STOP);
    // The stop request stays pending; ThreadProc answers it.
    return S_FALSE;
}

void CSourceStream::TraceStreamEnd(const char* why, HRESULT hr) const {
    sys::DebugTraceF("dshow pin '%s': %s (0x%08X); the stream stops",
                     com::WideToUtf8(Name()).c_str(), why, static_cast<unsigned>(hr));
}
