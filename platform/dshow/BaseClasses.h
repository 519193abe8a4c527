// The framework's base classes for filters and filter modules: reference counting
// (CUnknown), media types (CMediaType), pins with connection negotiation (CBasePin,
// CBaseOutputPin, CBaseInputPin), allocators and samples (CMemAllocator), filters
// (CBaseFilter), push sources with their own streaming thread (CSource, CSourceStream),
// and the in-process server plumbing (CFactoryTemplate, CClassFactory, DllGetClassObject,
// DllCanUnloadNow, AMovieDllRegisterServer2).
//
// A filter module defines the class-factory table:
//     CFactoryTemplate g_Templates[] = {{L"name", &CLSID_X, CreateFunction, nullptr, &setup}};
//     int g_cTemplates = 1;
// and calls DllEntryPoint from its load and unload hooks; DllGetClassObject and
// DllCanUnloadNow then come from here. Each module counts its own objects: these classes
// keep no state that must be shared with another module.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dshow/DShow.h"

// ---------------------------------------------------------------------------------------
// Locks
class CCritSec {
public:
    void Lock() { mutex_.lock(); }
    void Unlock() { mutex_.unlock(); }

private:
    std::recursive_mutex mutex_;
};

class CAutoLock {
public:
    explicit CAutoLock(CCritSec* lock) : lock_(lock) { lock_->Lock(); }
    ~CAutoLock() { lock_->Unlock(); }
    CAutoLock(const CAutoLock&) = delete;
    CAutoLock& operator=(const CAutoLock&) = delete;

private:
    CCritSec* lock_;
};

// ---------------------------------------------------------------------------------------
// Objects and reference counting
class CBaseObject {
public:
    explicit CBaseObject(LPCTSTR pName);
    virtual ~CBaseObject();
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;

    // Objects of this module alive now (DllCanUnloadNow asks).
    static LONG ObjectsActive();

protected:
    LPCTSTR m_pName;
};

class INonDelegatingUnknown {
public:
    virtual HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG NonDelegatingAddRef() = 0;
    virtual ULONG NonDelegatingRelease() = 0;

protected:
    ~INonDelegatingUnknown() = default;
};
using PNDUNKNOWN = INonDelegatingUnknown*;

class CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    // pUnk: the outer object when aggregated, else null.
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr = nullptr);
    ~CUnknown() override;

    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // The IUnknown that counts this object's references (the outer object, or our own).
    LPUNKNOWN GetOwner() const { return m_pUnknown; }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    class InnerUnknown final : public IUnknown {
    public:
        explicit InnerUnknown(CUnknown* owner) : owner_(owner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            return owner_->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return owner_->NonDelegatingAddRef(); }
        ULONG Release() override { return owner_->NonDelegatingRelease(); }

    private:
        CUnknown* owner_;
    };

    InnerUnknown m_inner{this};
    LPUNKNOWN const m_pUnknown;
};

// Hands out `pUnk` with one added reference.
HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// The three IUnknown methods of a class deriving from CUnknown and an interface.
#define DECLARE_IUNKNOWN                                       \
    HRESULT QueryInterface(REFIID riid, void** ppv) override { \
        return GetOwner()->QueryInterface(riid, ppv);          \
    }                                                          \
    ULONG AddRef() override {                                  \
        return GetOwner()->AddRef();                           \
    }                                                          \
    ULONG Release() override {                                 \
        return GetOwner()->Release();                          \
    }

// ---------------------------------------------------------------------------------------
// Media type with an owned format block
class CMediaType : public AM_MEDIA_TYPE {
public:
    CMediaType();
    explicit CMediaType(const GUID* majortype);
    CMediaType(const AM_MEDIA_TYPE& type);  // NOLINT: converting like the original
    CMediaType(const CMediaType& type);
    ~CMediaType();
    CMediaType& operator=(const CMediaType& type);
    CMediaType& operator=(const AM_MEDIA_TYPE& type);
    bool operator==(const CMediaType& other) const;
    bool operator!=(const CMediaType& other) const { return !(*this == other); }

    HRESULT Set(const CMediaType& type);
    HRESULT Set(const AM_MEDIA_TYPE& type);
    BOOL IsValid() const { return majortype != GUID_NULL; }

    const GUID* Type() const { return &majortype; }
    void SetType(const GUID* type) { majortype = *type; }
    const GUID* Subtype() const { return &subtype; }
    void SetSubtype(const GUID* type) { subtype = *type; }
    const GUID* FormatType() const { return &formattype; }
    void SetFormatType(const GUID* type) { formattype = *type; }

    BOOL IsFixedSize() const { return bFixedSizeSamples; }
    BOOL IsTemporalCompressed() const { return bTemporalCompression; }
    ULONG GetSampleSize() const { return IsFixedSize() ? lSampleSize : 0; }
    void SetSampleSize(ULONG size);
    void SetVariableSize() { bFixedSizeSamples = FALSE; }
    void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

    BYTE* Format() const { return pbFormat; }
    ULONG FormatLength() const { return cbFormat; }
    // Copies `length` bytes into a new format block. FALSE when out of memory.
    BOOL SetFormat(const BYTE* pFormat, ULONG length);
    void ResetFormatBuffer();
    // A format block of `length` bytes (the old one is reused when it is as large); its
    // content is not cleared. Null when out of memory.
    BYTE* AllocFormatBuffer(ULONG length);
    BYTE* ReallocFormatBuffer(ULONG length);
    void InitMediaType();

    // Whether this type agrees with every field the partial type specifies (GUID_NULL in
    // the partial type matches anything; a partial format block must be equal).
    BOOL MatchesPartial(const CMediaType* ppartial) const;
    BOOL IsPartiallySpecified() const;
};

// Makes `type` the uncompressed RGB24 video type of a size: MEDIATYPE_Video,
// MEDIASUBTYPE_RGB24, FORMAT_VideoInfo with a zeroed format block of `formatSize` bytes (at
// least a VIDEOINFOHEADER; a VIDEOINFO where a palette-sized block is wanted) holding
// SetRgb24Bitmap and the frame time, no temporal compression, fixed-size samples of one
// picture. E_OUTOFMEMORY when the format block cannot be had.
HRESULT SetRgb24VideoType(CMediaType& type, LONG width, LONG height, REFERENCE_TIME frameTime,
                          ULONG formatSize = sizeof(VIDEOINFOHEADER));

// ---------------------------------------------------------------------------------------
// Allocator and samples
class CBaseAllocator;

class CMediaSample : public IMediaSample {
public:
    CMediaSample(CBaseAllocator* allocator, BYTE* buffer, long length);
    virtual ~CMediaSample();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT GetPointer(BYTE** ppBuffer) override;
    long GetSize() override;
    HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) override;
    HRESULT IsSyncPoint() override;
    HRESULT SetSyncPoint(BOOL bIsSyncPoint) override;
    HRESULT IsPreroll() override;
    HRESULT SetPreroll(BOOL bIsPreroll) override;
    long GetActualDataLength() override;
    HRESULT SetActualDataLength(long length) override;
    HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) override;
    HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) override;
    HRESULT IsDiscontinuity() override;
    HRESULT SetDiscontinuity(BOOL bDiscontinuity) override;
    HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;
    HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) override;

    // Clears the per-delivery properties before the sample is handed out again.
    void ResetProperties();

private:
    CBaseAllocator* const allocator_;
    BYTE* const buffer_;
    const long size_;
    std::atomic<LONG> refs_{0};
    long actual_ = 0;
    bool timeValid_ = false;
    bool stopValid_ = false;
    REFERENCE_TIME start_ = 0;
    REFERENCE_TIME end_ = 0;
    bool mediaTimeValid_ = false;
    LONGLONG mediaStart_ = 0;
    LONGLONG mediaEnd_ = 0;
    bool syncPoint_ = false;
    bool preroll_ = false;
    bool discontinuity_ = false;
    AM_MEDIA_TYPE* mediaType_ = nullptr;
};

// Fixed set of samples in memory of its own. GetBuffer waits for a free sample unless
// AM_GBF_NOWAIT is given; Decommit wakes every waiter with VFW_E_NOT_COMMITTED.
class CBaseAllocator : public CUnknown, public IMemAllocator {
public:
    CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
    ~CBaseAllocator() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest, ALLOCATOR_PROPERTIES* pActual) override;
    HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) override;
    HRESULT Commit() override;
    HRESULT Decommit() override;
    HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime, REFERENCE_TIME* pEndTime,
                      DWORD dwFlags) override;
    HRESULT ReleaseBuffer(IMediaSample* pBuffer) override;

private:
    void FreeMemoryLocked();

    std::mutex lock_;
    std::condition_variable freed_;
    ALLOCATOR_PROPERTIES props_{0, 0, 1, 0};
    bool propertiesSet_ = false;
    bool committed_ = false;
    std::vector<BYTE*> memory_;
    std::vector<CMediaSample*> samples_;
    std::vector<CMediaSample*> free_;
};

class CMemAllocator : public CBaseAllocator {
public:
    CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr);
};

// ---------------------------------------------------------------------------------------
// Worker thread with a request/reply channel
class CAMThread {
public:
    CAMThread() = default;
    virtual ~CAMThread();
    CAMThread(const CAMThread&) = delete;
    CAMThread& operator=(const CAMThread&) = delete;

    // Starts the thread running ThreadProc. FALSE when one already runs.
    BOOL Create();
    // Hands a request to the thread and waits for its Reply.
    DWORD CallWorker(DWORD dwParam);
    // Waits for the thread to end.
    void Close();
    BOOL ThreadExists() const { return thread_.joinable(); }

    virtual DWORD ThreadProc() = 0;

    // Worker side.
    DWORD GetRequest();
    BOOL CheckRequest(DWORD* pParam);
    void Reply(DWORD dw);

    CCritSec m_AccessLock;  // serialises callers of CallWorker
    CCritSec m_WorkerLock;

private:
    std::thread thread_;
    std::mutex channel_;
    std::condition_variable changed_;
    bool hasRequest_ = false;
    DWORD request_ = 0;
    bool hasReply_ = false;
    DWORD reply_ = 0;
};

// ---------------------------------------------------------------------------------------
// Filters and pins
class CBasePin;

class CBaseFilter : public CUnknown, public IBaseFilter, public IAMovieSetup {
public:
    CBaseFilter(LPCTSTR pName, LPUNKNOWN pUnk, CCritSec* pLock, REFCLSID clsid,
                HRESULT* phr = nullptr);
    ~CBaseFilter() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IPersist
    HRESULT GetClassID(CLSID* pClsID) override;
    // IMediaFilter
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    HRESULT GetState(DWORD dwMSecs, FILTER_STATE* State) override;
    HRESULT SetSyncSource(IReferenceClock* pClock) override;
    HRESULT GetSyncSource(IReferenceClock** pClock) override;
    // IBaseFilter
    HRESULT EnumPins(IEnumPins** ppEnum) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    HRESULT QueryFilterInfo(FILTER_INFO* pInfo) override;
    HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) override;
    HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) override;
    // IAMovieSetup: registers GetSetupData() in the legacy filter category.
    HRESULT Register() override;
    HRESULT Unregister() override;

    virtual int GetPinCount() = 0;
    // The n-th pin without an added reference; null when out of range.
    virtual CBasePin* GetPin(int n) = 0;
    virtual LONG GetPinVersion() { return m_PinVersion; }
    void IncrementPinVersion() { ++m_PinVersion; }
    // Stream time: VFW_E_NO_CLOCK without a reference clock.
    virtual HRESULT StreamTime(REFERENCE_TIME& rtStream);
    virtual const AMOVIESETUP_FILTER* GetSetupData() { return nullptr; }

    BOOL IsActive() const { return m_State != State_Stopped; }
    BOOL IsStopped() const { return m_State == State_Stopped; }
    IFilterGraph* GetFilterGraph() const { return m_pGraph; }
    CCritSec* pStateLock() const { return m_pLock; }

protected:
    std::atomic<FILTER_STATE> m_State{State_Stopped};
    IReferenceClock* m_pClock = nullptr;
    REFERENCE_TIME m_tStart = 0;
    CLSID m_clsid;
    CCritSec* m_pLock;
    std::wstring m_pName;
    IFilterGraph* m_pGraph = nullptr;
    LONG m_PinVersion = 1;
};

class CBasePin : public CUnknown, public IPin, public IQualityControl {
public:
    CBasePin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
             LPCWSTR pName, PIN_DIRECTION dir);
    ~CBasePin() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    // A pin lives as long as its filter: its references are the filter's.
    ULONG NonDelegatingAddRef() override;
    ULONG NonDelegatingRelease() override;

    // IPin
    HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) override;
    HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) override;
    HRESULT Disconnect() override;
    HRESULT ConnectedTo(IPin** pPin) override;
    HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) override;
    HRESULT QueryPinInfo(PIN_INFO* pInfo) override;
    HRESULT QueryDirection(PIN_DIRECTION* pPinDir) override;
    HRESULT QueryId(LPWSTR* Id) override;
    HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) override;
    HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) override;
    HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override = 0;
    HRESULT EndFlush() override = 0;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;
    // IQualityControl
    HRESULT Notify(IBaseFilter* pSelf, Quality q) override;
    HRESULT SetSink(IQualityControl* piqc) override;

    virtual LONG GetMediaTypeVersion() { return m_pFilter->GetPinVersion(); }
    // State changes of the filter, for connected pins.
    virtual HRESULT Active() { return NOERROR; }
    virtual HRESULT Inactive() { return NOERROR; }
    virtual HRESULT Run(REFERENCE_TIME tStart);

    virtual HRESULT CheckMediaType(const CMediaType* pmt) = 0;
    // Stores the connection type.
    virtual HRESULT SetMediaType(const CMediaType* pmt);
    virtual HRESULT CheckConnect(IPin* pPin);
    virtual HRESULT BreakConnect() { return NOERROR; }
    virtual HRESULT CompleteConnect(IPin* pReceivePin);
    // The types this pin prefers, by position: VFW_S_NO_MORE_ITEMS after the last.
    virtual HRESULT GetMediaType(int iPosition, CMediaType* pMediaType);

    BOOL IsConnected() const { return m_Connected != nullptr; }
    IPin* GetConnected() const { return m_Connected; }
    BOOL IsStopped() const { return m_pFilter->IsStopped(); }
    LPCWSTR Name() const { return m_pName.c_str(); }
    CMediaType& CurrentMediaType() { return m_mt; }
    PIN_DIRECTION Direction() const { return m_dir; }
    CBaseFilter* Filter() const { return m_pFilter; }

protected:
    HRESULT AgreeMediaType(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT AttemptConnection(IPin* pReceivePin, const CMediaType* pmt);
    HRESULT TryMediaTypes(IPin* pReceivePin, const CMediaType* pmt, IEnumMediaTypes* pEnum);
    HRESULT DisconnectInternal();

    std::wstring m_pName;
    IPin* m_Connected = nullptr;
    PIN_DIRECTION m_dir;
    CCritSec* m_pLock;
    CMediaType m_mt;
    CBaseFilter* m_pFilter;
    REFERENCE_TIME m_tStart = 0;
    REFERENCE_TIME m_tStop = 0x7FFFFFFFFFFFFFFFLL;
    double m_dRate = 1.0;
    IQualityControl* m_pQSink = nullptr;
};

class CBaseOutputPin : public CBasePin {
public:
    CBaseOutputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                   LPCWSTR pName);
    ~CBaseOutputPin() override;

    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT CheckConnect(IPin* pPin) override;
    HRESULT BreakConnect() override;
    HRESULT Active() override;
    HRESULT Inactive() override;

    // Takes the downstream pin's allocator (else one of our own), sizes it with
    // DecideBufferSize and tells the downstream pin.
    virtual HRESULT DecideAllocator(IMemInputPin* pPin, IMemAllocator** pAlloc);
    virtual HRESULT DecideBufferSize(IMemAllocator* pAlloc,
                                     ALLOCATOR_PROPERTIES* ppropInputRequest) = 0;
    virtual HRESULT InitAllocator(IMemAllocator** ppAlloc);
    virtual HRESULT GetDeliveryBuffer(IMediaSample** ppSample, REFERENCE_TIME* pStartTime,
                                      REFERENCE_TIME* pEndTime, DWORD dwFlags);
    // Hands the sample to the connected input pin (IMemInputPin::Receive).
    virtual HRESULT Deliver(IMediaSample* pSample);
    virtual HRESULT DeliverEndOfStream();
    virtual HRESULT DeliverBeginFlush();
    virtual HRESULT DeliverEndFlush();
    virtual HRESULT DeliverNewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // Output pins receive no stream notifications.
    HRESULT EndOfStream() override { return E_UNEXPECTED; }
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

protected:
    IMemAllocator* m_pAllocator = nullptr;
    IMemInputPin* m_pInputPin = nullptr;
};

class CBaseInputPin : public CBasePin, public IMemInputPin {
public:
    CBaseInputPin(LPCTSTR pObjectName, CBaseFilter* pFilter, CCritSec* pLock, HRESULT* phr,
                  LPCWSTR pName);
    ~CBaseInputPin() override;
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IMemInputPin
    HRESULT GetAllocator(IMemAllocator** ppAllocator) override;
    HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) override;
    HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) override;
    // Base: refuses samples while the filter is stopped or flushing.
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                            long* nSamplesProcessed) override;
    HRESULT ReceiveCanBlock() override { return S_FALSE; }

    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT BreakConnect() override;
    HRESULT Inactive() override;

protected:
    IMemAllocator* m_pAllocator = nullptr;
    BOOL m_bReadOnly = FALSE;
    std::atomic<bool> m_bFlushing{false};
};

// ---------------------------------------------------------------------------------------
// Push source
class CSourceStream;

class CSource : public CBaseFilter {
public:
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr = nullptr);
    // Deletes the pins that are still attached.
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT FindPin(LPCWSTR Id, IPin** ppPin) override;
    int FindPinNumber(IPin* iPin);

    HRESULT AddPin(CSourceStream* pStream);
    HRESULT RemovePin(CSourceStream* pStream);

protected:
    int m_iPins = 0;
    std::vector<CSourceStream*> m_paStreams;
    CCritSec m_cStateLock;
};

// An output pin that runs its own streaming thread while the filter is active: the
// thread loops GetDeliveryBuffer -> FillBuffer -> Deliver until the filter stops.
class CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    // Adds itself to `pms`'s pins.
    CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    ~CSourceStream() override;

    // Fills one sample: S_OK delivers it, S_FALSE ends the stream, a failure aborts it.
    virtual HRESULT FillBuffer(IMediaSample* pSample) = 0;
    virtual HRESULT OnThreadCreate() { return NOERROR; }
    virtual HRESULT OnThreadDestroy() { return NOERROR; }
    virtual HRESULT OnThreadStartPlay() { return NOERROR; }
    virtual HRESULT DoBufferProcessingLoop();

    HRESULT Active() override;
    HRESULT Inactive() override;
    HRESULT QueryId(LPWSTR* Id) override;

    // Default type negotiation: the one type of GetMediaType(CMediaType*).
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    virtual HRESULT GetMediaType(CMediaType* pMediaType);

    enum Command : DWORD { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };

protected:
    DWORD ThreadProc() override;
    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
    HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    void TraceStreamEnd(const char* why, HRESULT hr) const;

    CSource* m_pFilter;
    CCritSec m_cSharedState;
};

// The answer of IKsPropertySet::Get for a pin of `category`: only AMPROPERTY_PIN_CATEGORY of
// AMPROPSETID_Pin is known; a null data pointer with a size pointer asks for the size.
HRESULT GetPinCategoryProperty(const GUID& category, REFGUID guidPropSet, DWORD dwPropID,
                               LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned);
// Sets the allocator's properties to `request`: its failure, E_FAIL unless it granted at
// least one buffer of `neededBytes`, else S_OK.
HRESULT SetAllocatorProperties(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request,
                               long neededBytes);

// The output pin of a capture source, as capture programs expect one: its formats through
// IAMStreamConfig (the concrete pin answers) and its category through IKsPropertySet.
class CCaptureSourceStream : public CSourceStream, public IAMStreamConfig, public IKsPropertySet {
public:
    CCaptureSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName,
                         const GUID& category);
    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IKsPropertySet: the pin category, read only.
    HRESULT Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                LPVOID pPropData, DWORD cbPropData) override;
    HRESULT Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData, DWORD cbInstanceData,
                LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) override;
    HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

    // Null type: E_POINTER; negative position: E_INVALIDARG; otherwise OfferedType under the
    // filter's state lock.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    using CSourceStream::GetMediaType;

    const GUID& Category() const { return category_; }

protected:
    // The type at a position (0 or more) of the pin's preference order; VFW_S_NO_MORE_ITEMS
    // past the last.
    virtual HRESULT OfferedType(int iPosition, CMediaType* pMediaType) = 0;

private:
    const GUID category_;
};

// ---------------------------------------------------------------------------------------
// In-process server plumbing
using LPFNNewCOMObject = CUnknown* (*)(LPUNKNOWN pUnkOuter, HRESULT* phr);
using LPFNInitRoutine = void (*)(BOOL bLoading, const CLSID* rclsid);

class CFactoryTemplate {
public:
    const WCHAR* m_Name;
    const CLSID* m_ClsID;
    LPFNNewCOMObject m_lpfnNew;
    LPFNInitRoutine m_lpfnInit;
    const AMOVIESETUP_FILTER* m_pAMovieSetup_Filter;

    BOOL IsClassID(REFCLSID rclsid) const { return *m_ClsID == rclsid; }
    CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr) const { return m_lpfnNew(pUnk, phr); }
};

// Defined by the filter module.
extern CFactoryTemplate g_Templates[];
extern int g_cTemplates;

class CClassFactory : public IClassFactory, public CBaseObject {
public:
    explicit CClassFactory(const CFactoryTemplate* pTemplate);

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) override;
    HRESULT LockServer(BOOL fLock) override;

    static BOOL IsLocked();

private:
    const CFactoryTemplate* const m_pTemplate;
    std::atomic<LONG> m_cRef{0};
};

enum : ULONG {
    DLL_PROCESS_DETACH = 0,
    DLL_PROCESS_ATTACH = 1,
    DLL_THREAD_ATTACH = 2,
    DLL_THREAD_DETACH = 3,
};

// The module's handle as its entry routine was given it.
extern HINSTANCE g_hInst;

// The framework's part of a module's DllMain: records the handle and runs the table's
// initialisation routines on attach and detach. Returns TRUE.
BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, ULONG ulReason, LPVOID pv);
STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv);
STDAPI DllCanUnloadNow();

// For every entry of g_Templates: the server key CLSID\{...} (name, InprocServer32 = this
// module's path, ThreadingModel "Both") and, for entries with setup data, the filter in
// the legacy filter category; or, with FALSE, both removed.
HRESULT AMovieDllRegisterServer2(BOOL bRegister);
// AMovieDllRegisterServer2 and then, through the filter mapper, the filter `clsid` as the
// video-input device `name` with `registration`; with FALSE both are removed. The first
// failure, else the mapper's result.
HRESULT AMovieDllRegisterVideoInputDevice(BOOL bRegister, const CLSID& clsid, LPCWSTR name,
                                          const REGFILTER2* registration);
// Writes HKEY_CLASSES_ROOT\CLSID\{clsServer} = szDescription and its server sub-key.
HRESULT AMovieSetupRegisterServer(CLSID clsServer, LPCWSTR szDescription, LPCWSTR szFileName,
                                  LPCWSTR szThreadingModel = L"Both",
                                  LPCWSTR szServerType = L"InprocServer32");
// Deletes HKEY_CLASSES_ROOT\CLSID\{clsServer} with everything below it.
HRESULT AMovieSetupUnregisterServer(CLSID clsServer);
