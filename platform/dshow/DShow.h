// The stream framework's interfaces, identifiers and result codes, with the names of the
// DirectShow design: filters and pins, allocators and samples, the filter graph and the
// capture graph builder, the sample grabber, the system device enumerator with its
// monikers and property bags, and the filter mapper.
//
// Two hooks connect the framework to the program without the framework knowing it:
// video-input providers (the camera layer lists its devices through the system device
// enumerator) and the video display host (the window code shows the renderer's pictures).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "platform/dshow/MediaTypes.h"

// ---------------------------------------------------------------------------------------
// Result codes of the framework
inline constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
inline constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;
inline constexpr HRESULT VFW_S_CANT_CUE = 0x00040268;
inline constexpr HRESULT VFW_S_NO_STOP_TIME = 0x00040270;
inline constexpr HRESULT VFW_S_NOPREVIEWPIN = 0x0004027E;
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MAKE_HRESULT_CONST(0x80040200u);
inline constexpr HRESULT VFW_E_INVALIDSUBTYPE = MAKE_HRESULT_CONST(0x80040201u);
inline constexpr HRESULT VFW_E_NEED_OWNER = MAKE_HRESULT_CONST(0x80040202u);
inline constexpr HRESULT VFW_E_ENUM_OUT_OF_SYNC = MAKE_HRESULT_CONST(0x80040203u);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = MAKE_HRESULT_CONST(0x80040204u);
inline constexpr HRESULT VFW_E_FILTER_ACTIVE = MAKE_HRESULT_CONST(0x80040205u);
inline constexpr HRESULT VFW_E_NO_TYPES = MAKE_HRESULT_CONST(0x80040206u);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MAKE_HRESULT_CONST(0x80040207u);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = MAKE_HRESULT_CONST(0x80040208u);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = MAKE_HRESULT_CONST(0x80040209u);
inline constexpr HRESULT VFW_E_NO_ALLOCATOR = MAKE_HRESULT_CONST(0x8004020Au);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = MAKE_HRESULT_CONST(0x8004020Bu);
inline constexpr HRESULT VFW_E_BUFFER_NOTSET = MAKE_HRESULT_CONST(0x8004020Cu);
inline constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MAKE_HRESULT_CONST(0x8004020Du);
inline constexpr HRESULT VFW_E_BADALIGN = MAKE_HRESULT_CONST(0x8004020Eu);
inline constexpr HRESULT VFW_E_ALREADY_COMMITTED = MAKE_HRESULT_CONST(0x8004020Fu);
inline constexpr HRESULT VFW_E_BUFFERS_OUTSTANDING = MAKE_HRESULT_CONST(0x80040210u);
inline constexpr HRESULT VFW_E_NOT_COMMITTED = MAKE_HRESULT_CONST(0x80040211u);
inline constexpr HRESULT VFW_E_SIZENOTSET = MAKE_HRESULT_CONST(0x80040212u);
inline constexpr HRESULT VFW_E_NO_CLOCK = MAKE_HRESULT_CONST(0x80040213u);
inline constexpr HRESULT VFW_E_NO_SINK = MAKE_HRESULT_CONST(0x80040214u);
inline constexpr HRESULT VFW_E_NO_INTERFACE = MAKE_HRESULT_CONST(0x80040215u);
inline constexpr HRESULT VFW_E_NOT_FOUND = MAKE_HRESULT_CONST(0x80040216u);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = MAKE_HRESULT_CONST(0x80040217u);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = MAKE_HRESULT_CONST(0x80040218u);
inline constexpr HRESULT VFW_E_NOT_STOPPED = MAKE_HRESULT_CONST(0x80040224u);
inline constexpr HRESULT VFW_E_NOT_PAUSED = MAKE_HRESULT_CONST(0x80040225u);
inline constexpr HRESULT VFW_E_NOT_RUNNING = MAKE_HRESULT_CONST(0x80040226u);
inline constexpr HRESULT VFW_E_WRONG_STATE = MAKE_HRESULT_CONST(0x80040227u);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MAKE_HRESULT_CONST(0x8004022Au);
inline constexpr HRESULT VFW_E_SAMPLE_REJECTED = MAKE_HRESULT_CONST(0x8004022Bu);
inline constexpr HRESULT VFW_E_DUPLICATE_NAME = MAKE_HRESULT_CONST(0x8004022Du);
inline constexpr HRESULT VFW_E_TIMEOUT = MAKE_HRESULT_CONST(0x8004022Eu);
inline constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MAKE_HRESULT_CONST(0x80040249u);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = MAKE_HRESULT_CONST(0x8004025Fu);

// The text of a result code (the framework's own codes, then the system's), copied into
// `pBuffer` with a terminator. Returns the number of characters written, 0 when the code
// has no text or the buffer is null.
DWORD AMGetErrorText(HRESULT hr, WCHAR* pBuffer, DWORD MaxLen);

// ---------------------------------------------------------------------------------------
// Interface identifiers
#define SKV_GUID(l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    {                                                       \
        l, w1, w2, {                                        \
            b1, b2, b3, b4, b5, b6, b7, b8                  \
        }                                                   \
    }

inline constexpr IID IID_IPersist =
    SKV_GUID(0x0000010C, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IMediaFilter =
    SKV_GUID(0x56A86899, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IBaseFilter =
    SKV_GUID(0x56A86895, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IPin =
    SKV_GUID(0x56A86891, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IEnumPins =
    SKV_GUID(0x56A86892, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IEnumFilters =
    SKV_GUID(0x56A86893, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IEnumMediaTypes =
    SKV_GUID(0x89C31040, 0x846B, 0x11CE, 0x97, 0xD3, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
inline constexpr IID IID_IReferenceClock =
    SKV_GUID(0x56A86897, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IMediaSample =
    SKV_GUID(0x56A8689A, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IMemAllocator =
    SKV_GUID(0x56A8689C, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IMemInputPin =
    SKV_GUID(0x56A8689D, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IFilterGraph =
    SKV_GUID(0x56A8689F, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IQualityControl =
    SKV_GUID(0x56A868A5, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IGraphBuilder =
    SKV_GUID(0x56A868A9, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IMediaControl =
    SKV_GUID(0x56A868B1, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_IVideoWindow =
    SKV_GUID(0x56A868B4, 0x0AD4, 0x11CE, 0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
inline constexpr IID IID_ICaptureGraphBuilder2 =
    SKV_GUID(0x93E5A4E0, 0x2D50, 0x11D2, 0xAB, 0xFA, 0x00, 0xA0, 0xC9, 0xC6, 0xE3, 0x8D);
inline constexpr IID IID_IKsPropertySet =
    SKV_GUID(0x31EFAC30, 0x515C, 0x11D0, 0xA9, 0xAA, 0x00, 0xAA, 0x00, 0x61, 0xBE, 0x93);
inline constexpr IID IID_IAMStreamConfig =
    SKV_GUID(0xC6E13340, 0x30AC, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
inline constexpr IID IID_IAMVideoControl =
    SKV_GUID(0x6A2E0670, 0x28E4, 0x11D0, 0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56);
inline constexpr IID IID_ISampleGrabber =
    SKV_GUID(0x6B652FFF, 0x11FE, 0x4FCE, 0x92, 0xAD, 0x02, 0x66, 0xB5, 0xD7, 0xC7, 0x8F);
inline constexpr IID IID_ISampleGrabberCB =
    SKV_GUID(0x0579154A, 0x2B53, 0x4994, 0xB0, 0xD0, 0xE7, 0x73, 0x14, 0x8E, 0xFF, 0x85);
inline constexpr IID IID_ICreateDevEnum =
    SKV_GUID(0x29840822, 0x5B84, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
inline constexpr IID IID_IEnumMoniker =
    SKV_GUID(0x00000102, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IMoniker =
    SKV_GUID(0x0000000F, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IBindCtx =
    SKV_GUID(0x0000000E, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
inline constexpr IID IID_IPropertyBag =
    SKV_GUID(0x55272A00, 0x42CB, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
inline constexpr IID IID_IErrorLog =
    SKV_GUID(0x3127CA40, 0x446E, 0x11CE, 0x81, 0x35, 0x00, 0xAA, 0x00, 0x4B, 0xB8, 0x51);
inline constexpr IID IID_IFilterMapper2 =
    SKV_GUID(0xB79BB0B0, 0x33C1, 0x11D1, 0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75);
inline constexpr IID IID_IAMovieSetup =
    SKV_GUID(0xA3D8CEC0, 0x7E5A, 0x11CF, 0xBB, 0xC5, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x20);
inline constexpr IID IID_ISpecifyPropertyPages =
    SKV_GUID(0xB196B28B, 0xBAB4, 0x101A, 0xB6, 0x9C, 0x00, 0xAA, 0x00, 0x34, 0x1D, 0x07);

// Class identifiers of the built-in classes. They are defined with the classes, like the
// framework's identifier library, so that naming one links the classes in.
extern const CLSID CLSID_FilterGraph;
extern const CLSID CLSID_CaptureGraphBuilder2;
extern const CLSID CLSID_SampleGrabber;
extern const CLSID CLSID_NullRenderer;
extern const CLSID CLSID_VideoRenderer;
extern const CLSID CLSID_VideoRendererDefault;
extern const CLSID CLSID_SystemDeviceEnum;
extern const CLSID CLSID_FilterMapper2;

// Categories
inline constexpr CLSID CLSID_VideoInputDeviceCategory =
    SKV_GUID(0x860BB310, 0x5D01, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
inline constexpr CLSID CLSID_LegacyAmFilterCategory =
    SKV_GUID(0x083863F1, 0x70DE, 0x11D0, 0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

// Pin categories and the property set that reports them
inline constexpr GUID AMPROPSETID_Pin =
    SKV_GUID(0x9B00F101, 0x1567, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
inline constexpr GUID PIN_CATEGORY_CAPTURE =
    SKV_GUID(0xFB6C4281, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
inline constexpr GUID PIN_CATEGORY_PREVIEW =
    SKV_GUID(0xFB6C4282, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
inline constexpr GUID PIN_CATEGORY_STILL =
    SKV_GUID(0xFB6C428A, 0x0353, 0x11D1, 0x90, 0x5F, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
inline constexpr GUID LOOK_UPSTREAM_ONLY =
    SKV_GUID(0xAC798BE0, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
inline constexpr GUID LOOK_DOWNSTREAM_ONLY =
    SKV_GUID(0xAC798BE1, 0x98E3, 0x11D1, 0xB3, 0xF1, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
enum : DWORD { AMPROPERTY_PIN_CATEGORY = 0, AMPROPERTY_PIN_MEDIUM = 1 };
enum : DWORD { KSPROPERTY_SUPPORT_GET = 1, KSPROPERTY_SUPPORT_SET = 2 };

// Merits
enum : DWORD {
    MERIT_PREFERRED = 0x800000,
    MERIT_NORMAL = 0x600000,
    MERIT_UNLIKELY = 0x400000,
    MERIT_DO_NOT_USE = 0x200000,
};

// ---------------------------------------------------------------------------------------
// Filters and pins
class IBaseFilter;
class IFilterGraph;
class IPin;
class IMediaSample;
class IMemAllocator;

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct PIN_INFO {
    IBaseFilter* pFilter;  // holds a reference
    PIN_DIRECTION dir;
    WCHAR achName[MAX_PIN_NAME];
};

struct FILTER_INFO {
    WCHAR achName[MAX_FILTER_NAME];
    IFilterGraph* pGraph;  // holds a reference
};

struct ALLOCATOR_PROPERTIES {
    long cBuffers;
    long cbBuffer;
    long cbAlign;
    long cbPrefix;
};

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
    QualityMessageType Type;
    long Proportion;
    REFERENCE_TIME Late;
    REFERENCE_TIME TimeStamp;
};

class IPersist : public IUnknown {
public:
    virtual HRESULT GetClassID(CLSID* pClassID) = 0;
};

class IReferenceClock : public IUnknown {
public:
    virtual HRESULT GetTime(REFERENCE_TIME* pTime) = 0;
};

class IMediaFilter : public IPersist {
public:
    virtual HRESULT Stop() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME tStart) = 0;
    virtual HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) = 0;
    virtual HRESULT SetSyncSource(IReferenceClock* pClock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock** pClock) = 0;
};

class IEnumPins : public IUnknown {
public:
    virtual HRESULT Next(ULONG cPins, IPin** ppPins, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cPins) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumPins** ppEnum) = 0;
};

class IEnumMediaTypes : public IUnknown {
public:
    // Each type is CoTaskMemAlloc'ed; free it with DeleteMediaType.
    virtual HRESULT Next(ULONG cMediaTypes, AM_MEDIA_TYPE** ppMediaTypes, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cMediaTypes) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMediaTypes** ppEnum) = 0;
};

class IBaseFilter : public IMediaFilter {
public:
    virtual HRESULT EnumPins(IEnumPins** ppEnum) = 0;
    virtual HRESULT FindPin(LPCWSTR Id, IPin** ppPin) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO* pInfo) = 0;
    // The graph does not hold a reference in return: the filter keeps a plain pointer.
    virtual HRESULT JoinFilterGraph(IFilterGraph* pGraph, LPCWSTR pName) = 0;
    virtual HRESULT QueryVendorInfo(LPWSTR* pVendorInfo) = 0;
};

class IEnumFilters : public IUnknown {
public:
    virtual HRESULT Next(ULONG cFilters, IBaseFilter** ppFilter, ULONG* pcFetched) = 0;
    virtual HRESULT Skip(ULONG cFilters) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumFilters** ppEnum) = 0;
};

class IPin : public IUnknown {
public:
    virtual HRESULT Connect(IPin* pReceivePin, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT ReceiveConnection(IPin* pConnector, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Disconnect() = 0;
    virtual HRESULT ConnectedTo(IPin** pPin) = 0;
    virtual HRESULT ConnectionMediaType(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO* pInfo) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION* pPinDir) = 0;
    virtual HRESULT QueryId(LPWSTR* Id) = 0;
    virtual HRESULT QueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT EnumMediaTypes(IEnumMediaTypes** ppEnum) = 0;
    virtual HRESULT QueryInternalConnections(IPin** apPin, ULONG* nPin) = 0;
    virtual HRESULT EndOfStream() = 0;
    virtual HRESULT BeginFlush() = 0;
    virtual HRESULT EndFlush() = 0;
    virtual HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) = 0;
};

class IQualityControl : public IUnknown {
public:
    virtual HRESULT Notify(IBaseFilter* pSelf, Quality q) = 0;
    virtual HRESULT SetSink(IQualityControl* piqc) = 0;
};

// ---------------------------------------------------------------------------------------
// Allocators and samples
enum : DWORD { AM_GBF_PREVFRAMESKIPPED = 1, AM_GBF_NOTASYNCPOINT = 2, AM_GBF_NOWAIT = 4 };

class IMediaSample : public IUnknown {
public:
    virtual HRESULT GetPointer(BYTE** ppBuffer) = 0;
    virtual long GetSize() = 0;
    virtual HRESULT GetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT SetTime(REFERENCE_TIME* pTimeStart, REFERENCE_TIME* pTimeEnd) = 0;
    virtual HRESULT IsSyncPoint() = 0;
    virtual HRESULT SetSyncPoint(BOOL bIsSyncPoint) = 0;
    virtual HRESULT IsPreroll() = 0;
    virtual HRESULT SetPreroll(BOOL bIsPreroll) = 0;
    virtual long GetActualDataLength() = 0;
    virtual HRESULT SetActualDataLength(long length) = 0;
    virtual HRESULT GetMediaType(AM_MEDIA_TYPE** ppMediaType) = 0;
    virtual HRESULT SetMediaType(AM_MEDIA_TYPE* pMediaType) = 0;
    virtual HRESULT IsDiscontinuity() = 0;
    virtual HRESULT SetDiscontinuity(BOOL bDiscontinuity) = 0;
    virtual HRESULT GetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
    virtual HRESULT SetMediaTime(LONGLONG* pTimeStart, LONGLONG* pTimeEnd) = 0;
};

class IMemAllocator : public IUnknown {
public:
    virtual HRESULT SetProperties(ALLOCATOR_PROPERTIES* pRequest,
                                  ALLOCATOR_PROPERTIES* pActual) = 0;
    virtual HRESULT GetProperties(ALLOCATOR_PROPERTIES* pProps) = 0;
    virtual HRESULT Commit() = 0;
    virtual HRESULT Decommit() = 0;
    virtual HRESULT GetBuffer(IMediaSample** ppBuffer, REFERENCE_TIME* pStartTime,
                              REFERENCE_TIME* pEndTime, DWORD dwFlags) = 0;
    virtual HRESULT ReleaseBuffer(IMediaSample* pBuffer) = 0;
};

class IMemInputPin : public IUnknown {
public:
    virtual HRESULT GetAllocator(IMemAllocator** ppAllocator) = 0;
    virtual HRESULT NotifyAllocator(IMemAllocator* pAllocator, BOOL bReadOnly) = 0;
    virtual HRESULT GetAllocatorRequirements(ALLOCATOR_PROPERTIES* pProps) = 0;
    virtual HRESULT Receive(IMediaSample* pSample) = 0;
    virtual HRESULT ReceiveMultiple(IMediaSample** pSamples, long nSamples,
                                    long* nSamplesProcessed) = 0;
    virtual HRESULT ReceiveCanBlock() = 0;
};

// ---------------------------------------------------------------------------------------
// Graphs
class IFilterGraph : public IUnknown {
public:
    virtual HRESULT AddFilter(IBaseFilter* pFilter, LPCWSTR pName) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter* pFilter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters** ppEnum) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) = 0;
    virtual HRESULT ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT Reconnect(IPin* ppin) = 0;
    virtual HRESULT Disconnect(IPin* ppin) = 0;
    virtual HRESULT SetDefaultSyncSource() = 0;
};

class IGraphBuilder : public IFilterGraph {
public:
    // Connects the two pins directly (no intermediate filters are inserted).
    virtual HRESULT Connect(IPin* ppinOut, IPin* ppinIn) = 0;
    // Connects a video output pin to a new default video renderer.
    virtual HRESULT Render(IPin* ppinOut) = 0;
};

using OAFilterState = long;
using OAHWND = intptr_t;
enum : long { OATRUE = -1, OAFALSE = 0 };
enum : long {
    WS_CHILD = 0x40000000,
    WS_VISIBLE = 0x10000000,
    WS_CLIPCHILDREN = 0x02000000,
    WS_CLIPSIBLINGS = 0x04000000
};

class IMediaControl : public IUnknown {
public:
    virtual HRESULT Run() = 0;
    virtual HRESULT Pause() = 0;
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    virtual HRESULT StopWhenReady() = 0;
};

class IVideoWindow : public IUnknown {
public:
    virtual HRESULT put_WindowStyle(long WindowStyle) = 0;
    virtual HRESULT get_WindowStyle(long* WindowStyle) = 0;
    virtual HRESULT put_Visible(long Visible) = 0;
    virtual HRESULT get_Visible(long* pVisible) = 0;
    virtual HRESULT put_Owner(OAHWND Owner) = 0;
    virtual HRESULT get_Owner(OAHWND* Owner) = 0;
    virtual HRESULT SetWindowPosition(long Left, long Top, long Width, long Height) = 0;
    virtual HRESULT GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) = 0;
};

class ICaptureGraphBuilder2 : public IUnknown {
public:
    virtual HRESULT SetFiltergraph(IGraphBuilder* pfg) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder** ppfg) = 0;
    // pCategory: a pin category (the interface is looked for on that output pin of `pf`),
    // LOOK_UPSTREAM_ONLY / LOOK_DOWNSTREAM_ONLY, or null (the filter, its pins, then the
    // filters downstream of it).
    virtual HRESULT FindInterface(const GUID* pCategory, const GUID* pType, IBaseFilter* pf,
                                  REFIID riid, void** ppint) = 0;
    virtual HRESULT RenderStream(const GUID* pCategory, const GUID* pType, IUnknown* pSource,
                                 IBaseFilter* pfCompressor, IBaseFilter* pfRenderer) = 0;
    virtual HRESULT FindPin(IUnknown* pSource, PIN_DIRECTION pindir, const GUID* pCategory,
                            const GUID* pType, BOOL fUnconnected, int num, IPin** ppPin) = 0;
};

// ---------------------------------------------------------------------------------------
// Device interfaces
class IKsPropertySet : public IUnknown {
public:
    virtual HRESULT Set(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData,
                        DWORD cbInstanceData, LPVOID pPropData, DWORD cbPropData) = 0;
    virtual HRESULT Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID pInstanceData,
                        DWORD cbInstanceData, LPVOID pPropData, DWORD cbPropData,
                        DWORD* pcbReturned) = 0;
    virtual HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) = 0;
};

struct VIDEO_STREAM_CONFIG_CAPS {
    GUID guid;
    ULONG VideoStandard;
    SIZE InputSize;
    SIZE MinCroppingSize;
    SIZE MaxCroppingSize;
    int CropGranularityX;
    int CropGranularityY;
    int CropAlignX;
    int CropAlignY;
    SIZE MinOutputSize;
    SIZE MaxOutputSize;
    int OutputGranularityX;
    int OutputGranularityY;
    int StretchTapsX;
    int StretchTapsY;
    int ShrinkTapsX;
    int ShrinkTapsY;
    LONGLONG MinFrameInterval;
    LONGLONG MaxFrameInterval;
    LONG MinBitsPerSecond;
    LONG MaxBitsPerSecond;
};
static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == 128);

class IAMStreamConfig : public IUnknown {
public:
    virtual HRESULT SetFormat(AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) = 0;
    virtual HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) = 0;
    virtual HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) = 0;
};

enum : long {
    VideoControlFlag_FlipHorizontal = 0x1,
    VideoControlFlag_FlipVertical = 0x2,
    VideoControlFlag_ExternalTriggerEnable = 0x4,
    VideoControlFlag_Trigger = 0x8,
};

class IAMVideoControl : public IUnknown {
public:
    virtual HRESULT GetCaps(IPin* pPin, long* pCapsFlags) = 0;
    virtual HRESULT SetMode(IPin* pPin, long Mode) = 0;
    virtual HRESULT GetMode(IPin* pPin, long* Mode) = 0;
    virtual HRESULT GetCurrentActualFrameRate(IPin* pPin, LONGLONG* ActualFrameRate) = 0;
    virtual HRESULT GetMaxAvailableFrameRate(IPin* pPin, long iIndex, SIZE Dimensions,
                                             LONGLONG* MaxAvailableFrameRate) = 0;
    virtual HRESULT GetFrameRateList(IPin* pPin, long iIndex, SIZE Dimensions, long* ListSize,
                                     LONGLONG** FrameRates) = 0;
};

struct CAUUID {
    ULONG cElems;
    GUID* pElems;  // CoTaskMemAlloc'ed
};

class ISpecifyPropertyPages : public IUnknown {
public:
    virtual HRESULT GetPages(CAUUID* pPages) = 0;
};

// ---------------------------------------------------------------------------------------
// Sample grabber and its callback
class ISampleGrabberCB : public IUnknown {
public:
    virtual HRESULT SampleCB(double SampleTime, IMediaSample* pSample) = 0;
    virtual HRESULT BufferCB(double SampleTime, BYTE* pBuffer, long BufferLen) = 0;
};

class ISampleGrabber : public IUnknown {
public:
    virtual HRESULT SetOneShot(BOOL OneShot) = 0;
    // Partial type the input accepts: GUID_NULL fields match anything.
    virtual HRESULT SetMediaType(const AM_MEDIA_TYPE* pType) = 0;
    // Copies the input connection's type; free it with FreeMediaType.
    virtual HRESULT GetConnectedMediaType(AM_MEDIA_TYPE* pType) = 0;
    virtual HRESULT SetBufferSamples(BOOL BufferThem) = 0;
    virtual HRESULT GetCurrentBuffer(long* pBufferSize, long* pBuffer) = 0;
    virtual HRESULT GetCurrentSample(IMediaSample** ppSample) = 0;
    // WhichMethodToCallback: 0 = SampleCB, 1 = BufferCB. Called on the streaming thread
    // before the sample goes downstream.
    virtual HRESULT SetCallback(ISampleGrabberCB* pCallback, long WhichMethodToCallback) = 0;
};

// ---------------------------------------------------------------------------------------
// Device enumeration
class IBindCtx : public IUnknown {};
class IErrorLog : public IUnknown {};

class IPropertyBag : public IUnknown {
public:
    // Text values come back as VT_BSTR, numbers as VT_I4. A missing value fails.
    virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};

class IMoniker : public IUnknown {
public:
    virtual HRESULT BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult,
                                 void** ppvResult) = 0;
    virtual HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid,
                                  void** ppvObj) = 0;
    virtual HRESULT GetDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft,
                                   LPOLESTR* ppszDisplayName) = 0;
};

class IEnumMoniker : public IUnknown {
public:
    virtual HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** ppenum) = 0;
};

class ICreateDevEnum : public IUnknown {
public:
    // S_FALSE and a null enumerator when the category holds no device.
    virtual HRESULT CreateClassEnumerator(REFCLSID clsidDeviceClass, IEnumMoniker** ppEnumMoniker,
                                          DWORD dwFlags) = 0;
};

// ---------------------------------------------------------------------------------------
// Registration
struct REGPINTYPES {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
};

struct REGFILTERPINS {
    const WCHAR* strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    const WCHAR* strConnectsToPin;
    UINT nMediaTypes;
    const REGPINTYPES* lpMediaType;
};

// Version 1 of the filter data (pins described by REGFILTERPINS).
struct REGFILTER2 {
    DWORD dwVersion;
    DWORD dwMerit;
    ULONG cPins;
    const REGFILTERPINS* rgPins;
};

using AMOVIESETUP_MEDIATYPE = REGPINTYPES;
using AMOVIESETUP_PIN = REGFILTERPINS;

struct AMOVIESETUP_FILTER {
    const CLSID* clsID;
    const WCHAR* strName;
    DWORD dwMerit;
    UINT nPins;
    const AMOVIESETUP_PIN* lpPin;
};

class IFilterMapper2 : public IUnknown {
public:
    virtual HRESULT CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit,
                                   LPCWSTR Description) = 0;
    // Deletes CLSID\{category}\Instance\<instance> (instance null: the filter's class id).
    virtual HRESULT UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance,
                                     REFCLSID Filter) = 0;
    // Writes CLSID\{category}\Instance\<instance> with "FriendlyName", "CLSID" and
    // "FilterData" (REG_BINARY). Category null: the legacy filter category; instance null:
    // the filter's class id.
    virtual HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker,
                                   const CLSID* pclsidCategory, LPCOLESTR szInstance,
                                   const REGFILTER2* prf2) = 0;
};

class IAMovieSetup : public IUnknown {
public:
    virtual HRESULT Register() = 0;
    virtual HRESULT Unregister() = 0;
};

// ---------------------------------------------------------------------------------------
// Hooks for the program

// A video-input device offered by a provider (the camera layer): listed by the system
// device enumerator before the instances registered in the category.
struct VideoInputDevice {
    std::string friendlyName;  // UTF-8
    std::string devicePath;    // UTF-8; empty: the property bag has no "DevicePath"
    // Creates the device's filter; called by IMoniker::BindToObject.
    std::function<HRESULT(IBaseFilter** filter)> createFilter;
};

class IVideoInputProvider {
public:
    virtual ~IVideoInputProvider() = default;
    // The devices present now, in a stable order. Called on every enumeration.
    virtual std::vector<VideoInputDevice> EnumerateDevices() = 0;
};

// Providers are asked in the order they were registered.
void RegisterVideoInputProvider(std::shared_ptr<IVideoInputProvider> provider);
void UnregisterVideoInputProvider(const std::shared_ptr<IVideoInputProvider>& provider);

// Where the video renderer's pictures appear. The program implements it inside the owner
// window it hands to IVideoWindow::put_Owner.
class IVideoDisplaySurface {
public:
    virtual ~IVideoDisplaySurface() = default;
    // Called on the streaming thread for every frame: 24-bit blue-green-red, bottom row
    // first, rows `stride` bytes apart. The bytes are valid only during the call.
    virtual void ShowFrame(const BYTE* bits, long width, long height, long stride) = 0;
    // Position and size inside the owner window, in pixels (IVideoWindow::SetWindowPosition).
    virtual void SetGeometry(long left, long top, long width, long height) = 0;
    virtual void SetVisible(bool visible) = 0;
};

class IVideoDisplayHost {
public:
    virtual ~IVideoDisplayHost() = default;
    // A surface inside the owner window; null when the window cannot hold one.
    virtual std::shared_ptr<IVideoDisplaySurface> CreateSurface(OAHWND owner) = 0;
};

// Installs the host that video renderers ask for surfaces; returns the previous one.
std::shared_ptr<IVideoDisplayHost> SetVideoDisplayHost(std::shared_ptr<IVideoDisplayHost> host);
