// Object counting, reference counting, worker threads, samples and allocators.
#include <algorithm>
#include <cstdlib>

#include "platform/dshow/BaseClasses.h"

namespace {
// Objects of this module; each module carrying the framework has its own count.
std::atomic<LONG> gActiveObjects{0};
}  // namespace

CBaseObject::CBaseObject(LPCTSTR pName) : m_pName(pName) {
    ++gActiveObjects;
}

CBaseObject::~CBaseObject() {
    --gActiveObjects;
}

LONG CBaseObject::ObjectsActive() {
    return gActiveObjects.load();
}

// ---------------------------------------------------------------------------------------
CUnknown::CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* /*phr*/)
    : CBaseObject(pName), m_pUnknown(pUnk != nullptr ? pUnk : &m_inner) {}

CUnknown::~CUnknown() = default;

HRESULT CUnknown::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown) return GetInterface(&m_inner, ppv);
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CUnknown::NonDelegatingAddRef() {
    return static_cast<ULONG>(++m_cRef);
}

ULONG CUnknown::NonDelegatingRelease() {
    const LONG refs = --m_cRef;
    if (refs == 0) {
        // A destructor that hands out and drops a reference must not delete twice.
        m_cRef = 1;
        delete this;
        return 0;
    }
    return static_cast<ULONG>(refs);
}

HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = pUnk;
    pUnk->AddRef();
    return NOERROR;
}

// ---------------------------------------------------------------------------------------
CAMThread::~CAMThread() {
    Close();
}

BOOL CAMThread::Create() {
    CAutoLock lock(&m_AccessLock);
    if (thread_.joinable()) return FALSE;
    {
        std::lock_guard<std::mutex> guard(channel_);
        hasRequest_ = false;
        hasReply_ = false;
    }
    thread_ = std::thread([this] { ThreadProc(); });
    return TRUE;
}

DWORD CAMThread::CallWorker(DWORD dwParam) {
    CAutoLock lock(&m_AccessLock);
    if (!thread_.joinable()) return static_cast<DWORD>(E_FAIL);
    std::unique_lock<std::mutex> guard(channel_);
    request_ = dwParam;
    hasRequest_ = true;
    hasReply_ = false;
    changed_.notify_all();
    changed_.wait(guard, [this] { return hasReply_; });
    hasReply_ = false;
    return reply_;
}

void CAMThread::Close() {
    if (thread_.joinable()) thread_.join();
}

// A request stays pending until it is answered, so CheckRequest only looks at it.
DWORD CAMThread::GetRequest() {
    std::unique_lock<std::mutex> guard(channel_);
    changed_.wait(guard, [this] { return hasRequest_; });
    return request_;
}

BOOL CAMThread::CheckRequest(DWORD* pParam) {
    std::lock_guard<std::mutex> guard(channel_);
    if (!hasRequest_) return FALSE;
    if (pParam != nullptr) *pParam = request_;
    return TRUE;
}

void CAMThread::Reply(DWORD dw) {
    std::lock_guard<std::mutex> guard(channel_);
    hasRequest_ = false;
    reply_ = dw;
    hasReply_ = true;
    changed_.notify_all();
}

// ---------------------------------------------------------------------------------------
CMediaSample::CMediaSample(CBaseAllocator* allocator, BYTE* buffer, long length)
    : allocator_(allocator), buffer_(buffer), size_(length) {}

CMediaSample::~CMediaSample() {
    DeleteMediaType(mediaType_);
}

HRESULT CMediaSample::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IMediaSample || riid == IID_IUnknown) {
        *ppv = static_cast<IMediaSample*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CMediaSample::AddRef() {
    return static_cast<ULONG>(++refs_);
}

ULONG CMediaSample::Release() {
    const LONG refs = --refs_;
    if (refs == 0) {
        // Back to the free list; the allocator may go with it, so nothing follows.
        allocator_->ReleaseBuffer(this);
    }
    return static_cast<ULONG>(refs);
}

void CMediaSample::ResetProperties() {
    actual_ = size_;
    timeValid_ = false;
    stopValid_ = false;
    mediaTimeValid_ = false;
    syncPoint_ = false;
    preroll_ = false;
    discontinuity_ = false;
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
}

HRESULT CMediaSample::GetPointer(BYTE** ppBuffer) {
    if (ppBuffer == nullptr) return E_POINTER;
    *ppBuffer = buffer_;
    return NOERROR;
}

long CMediaSample::GetSize() {
    return size_;
}

HRESULT CMediaSample::GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (!timeValid_) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
    *pTimeStart = start_;
    if (!stopValid_) {
        *pTimeEnd = start_ + 1;
        return VFW_S_NO_STOP_TIME;
    }
    *pTimeEnd = end_;
    return NOERROR;
}

HRESULT CMediaSample::SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) {
    if (pTimeStart == nullptr) {
        if (pTimeEnd != nullptr) return E_POINTER;
        timeValid_ = false;
        stopValid_ = false;
        return NOERROR;
    }
    timeValid_ = true;
    start_ = *pTimeStart;
    stopValid_ = pTimeEnd != nullptr;
    if (pTimeEnd != nullptr) end_ = *pTimeEnd;
    return NOERROR;
}

HRESULT CMediaSample::IsSyncPoint() {
    return syncPoint_ ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetSyncPoint(BOOL bIsSyncPoint) {
    syncPoint_ = bIsSyncPoint != FALSE;
    return NOERROR;
}

HRESULT CMediaSample::IsPreroll() {
    return preroll_ ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetPreroll(BOOL bIsPreroll) {
    preroll_ = bIsPreroll != FALSE;
    return NOERROR;
}

long CMediaSample::GetActualDataLength() {
    return actual_;
}

HRESULT CMediaSample::SetActualDataLength(long length) {
    if (length < 0 || length > size_) return VFW_E_BUFFER_OVERFLOW;
    actual_ = length;
    return NOERROR;
}

HRESULT CMediaSample::GetMediaType(AM_MEDIA_TYPE** ppMediaType) {
    if (ppMediaType == nullptr) return E_POINTER;
    if (mediaType_ == nullptr) {
        *ppMediaType = nullptr;
        return S_FALSE;
    }
    *ppMediaType = CreateMediaType(mediaType_);
    return *ppMediaType == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CMediaSample::SetMediaType(AM_MEDIA_TYPE* pMediaType) {
    DeleteMediaType(mediaType_);
    mediaType_ = nullptr;
    if (pMediaType == nullptr) return S_OK;
    mediaType_ = CreateMediaType(pMediaType);
    return mediaType_ == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT CMediaSample::IsDiscontinuity() {
    return discontinuity_ ? S_OK : S_FALSE;
}

HRESULT CMediaSample::SetDiscontinuity(BOOL bDiscontinuity) {
    discontinuity_ = bDiscontinuity != FALSE;
    return NOERROR;
}

HRESULT CMediaSample::GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (pTimeStart == nullptr || pTimeEnd == nullptr) return E_POINTER;
    if (!mediaTimeValid_) return VFW_E_SAMPLE_TIME_NOT_SET;
    *pTimeStart = mediaStart_;
    *pTimeEnd = mediaEnd_;
    return NOERROR;
}

HRESULT CMediaSample::SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) {
    if (pTimeStart == nullptr) {
        mediaTimeValid_ = false;
        return NOERROR;
    }
    if (pTimeEnd == nullptr) return E_POINTER;
    mediaTimeValid_ = true;
    mediaStart_ = *pTimeStart;
    mediaEnd_ = *pTimeEnd;
    return NOERROR;
}

// ---------------------------------------------------------------------------------------
CBaseAllocator::CBaseAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CUnknown(pName, pUnk, phr) {}

CBaseAllocator::~CBaseAllocator() {
    std::lock_guard<std::mutex> guard(lock_);
    FreeMemoryLocked();
}

HRESULT CBaseAllocator::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IMemAllocator) return GetInterface(static_cast<IMemAllocator*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CBaseAllocator::SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                      ALLOCATOR_PROPERTIES* pActual) {
    if (pRequest == nullptr || pActual == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    if (committed_) return VFW_E_ALREADY_COMMITTED;
    if (free_.size() != samples_.size()) return VFW_E_BUFFERS_OUTSTANDING;
    if (pRequest->cBuffers <= 0 || pRequest->cbBuffer <= 0 || pRequest->cbPrefix < 0) {
        return E_INVALIDARG;
    }
    const long align = pRequest->cbAlign <= 0 ? 1 : pRequest->cbAlign;
    if ((align & (align - 1)) != 0) return VFW_E_BADALIGN;
    // Samples of the old size go; Commit makes new ones.
    FreeMemoryLocked();
    props_.cBuffers = pRequest->cBuffers;
    // The granted size covers the request, rounded up to the alignment.
    props_.cbBuffer = (pRequest->cbBuffer + align - 1) / align * align;
    props_.cbAlign = align;
    props_.cbPrefix = pRequest->cbPrefix;
    propertiesSet_ = true;
    *pActual = props_;
    return NOERROR;
}

HRESULT CBaseAllocator::GetProperties(ALLOCATOR_PROPERTIES* pProps) {
    if (pProps == nullptr) return E_POINTER;
    std::lock_guard<std::mutex> guard(lock_);
    *pProps = props_;
    return NOERROR;
}

HRESULT CBaseAllocator::Commit() {
    std::lock_guard<std::mutex> guard(lock_);
    if (committed_) return NOERROR;
    if (!propertiesSet_) return VFW_E_SIZENOTSET;
    if (samples_.empty()) {
        for (long i = 0; i < props_.cBuffers; ++i) {
            const size_t bytes = static_cast<size_t>(props_.cbBuffer + props_.cbPrefix);
            auto* memory = static_cast<BYTE*>(
                std::aligned_alloc(static_cast<size_t>(props_.cbAlign),
                                   (bytes + props_.cbAlign - 1) / props_.cbAlign * props_.cbAlign));
            if (memory == nullptr) {
                FreeMemoryLocked();
                return E_OUTOFMEMORY;
            }
            memory_.push_back(memory);
            auto* sample = new CMediaSample(this, memory + props_.cbPrefix, props_.cbBuffer);
            samples_.push_back(sample);
            free_.push_back(sample);
        }
    }
    committed_ = true;
    return NOERROR;
}

HRESULT CBaseAllocator::Decommit() {
    std::lock_guard<std::mutex> guard(lock_);
    committed_ = false;
    // Buffers still downstream are freed when the allocator goes.
    if (free_.size() == samples_.size()) FreeMemoryLocked();
    freed_.notify_all();
    return NOERROR;
}

void CBaseAllocator::FreeMemoryLocked() {
    for (CMediaSample* sample : samples_) delete sample;
    for (BYTE* memory : memory_) std::free(memory);
    samples_.clear();
    memory_.clear();
    free_.clear();
}

HRESULT CBaseAllocator::GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                                  REFERENCE_TIME* pEndTime, DWORD dwFlags) {
    if (ppBuffer == nullptr) return E_POINTER;
    *ppBuffer = nullptr;
    CMediaSample* sample = nullptr;
    {
        std::unique_lock<std::mutex> guard(lock_);
        for (;;) {
            if (!committed_) return VFW_E_NOT_COMMITTED;
            if (!free_.empty()) break;
            if ((dwFlags & AM_GBF_NOWAIT) != 0) return VFW_E_TIMEOUT;
            freed_.wait(guard);
        }
        sample = free_.back();
        free_.pop_back();
    }
    // The sample holds the allocator until it comes back.
    NonDelegatingAddRef();
    sample->ResetProperties();
    if (pStartTime != nullptr) sample->SetTime(pStartTime, pEndTime);
    sample->AddRef();
    *ppBuffer = sample;
    return NOERROR;
}

HRESULT CBaseAllocator::ReleaseBuffer(IMediaSample* pBuffer) {
    if (pBuffer == nullptr) return E_POINTER;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const auto own = std::find_if(samples_.begin(), samples_.end(), [&](CMediaSample* s) {
            return static_cast<IMediaSample*>(s) == pBuffer;
        });
        if (own == samples_.end()) return E_INVALIDARG;
        free_.push_back(*own);
        if (!committed_ && free_.size() == samples_.size()) FreeMemoryLocked();
        freed_.notify_all();
    }
    NonDelegatingRelease();
    return NOERROR;
}

CMemAllocator::CMemAllocator(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr)
    : CBaseAllocator(pName, pUnk, phr) {}
