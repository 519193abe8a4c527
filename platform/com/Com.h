// The component runtime that stands in for COM: GUIDs, result codes, IUnknown, class
// factories, per-thread start-up counting and object creation (built-in classes and
// in-process servers registered under CLSID\{...}\InprocServer32 in the classes root).
//
// Objects cross module boundaries only through their interface tables, so interfaces are
// pure abstract classes and identifiers are compared by value. Memory handed from one
// module to another (media-type format blocks, strings, arrays) comes from
// CoTaskMemAlloc/SysAllocString, which every module frees the same way.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/registry/Registry.h"

// ---------------------------------------------------------------------------------------
// Basic types
using HRESULT = int32_t;
using ULONG = uint32_t;
using USHORT = uint16_t;
using WORD = uint16_t;
using UINT = unsigned int;
using BOOL = int;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using WCHAR = wchar_t;
using OLECHAR = wchar_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using BSTR = OLECHAR*;
using TCHAR = char;
using LPCTSTR = const TCHAR*;
using LPVOID = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using VARTYPE = uint16_t;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define TEXT(text) text
#define NAME(text) text

#define WINAPI
#define STDMETHODCALLTYPE
#define STDMETHOD(method) virtual HRESULT method
#define STDMETHOD_(type, method) virtual type method
#define STDMETHODIMP HRESULT
#define STDMETHODIMP_(type) type
#define PURE = 0
#define EXTERN_C extern "C"
// Entry points of an in-process server: C linkage and visible from outside the library,
// whatever visibility the rest of the module is built with.
#define STDAPI extern "C" __attribute__((visibility("default"))) HRESULT
#define STDAPI_(type) extern "C" __attribute__((visibility("default"))) type

// ---------------------------------------------------------------------------------------
// GUIDs
struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFGUID = const GUID&;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

constexpr bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) return false;
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) return false;
    }
    return true;
}
constexpr bool operator!=(const GUID& a, const GUID& b) {
    return !(a == b);
}
constexpr bool IsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}
constexpr bool IsEqualIID(REFIID a, REFIID b) {
    return a == b;
}
constexpr bool IsEqualCLSID(REFCLSID a, REFCLSID b) {
    return a == b;
}
constexpr bool InlineIsEqualGUID(REFGUID a, REFGUID b) {
    return a == b;
}

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
inline constexpr IID IID_NULL = GUID_NULL;
inline constexpr CLSID CLSID_NULL = GUID_NULL;

// Writes "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (upper case); returns the number of
// characters written including the terminator, 0 when `cchMax` is below 39.
int StringFromGUID2(REFGUID guid, LPOLESTR text, int cchMax);
// Parses the braced form (either case). NOERROR, or CO_E_CLASSSTRING for malformed text.
HRESULT CLSIDFromString(LPCOLESTR text, CLSID* clsid);
HRESULT IIDFromString(LPCOLESTR text, IID* iid);

// ---------------------------------------------------------------------------------------
// Result codes (the Windows numbers)
#define MAKE_HRESULT_CONST(value) static_cast<HRESULT>(static_cast<uint32_t>(value))
inline constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
inline constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}
inline constexpr HRESULT HRESULT_FROM_WIN32(long code) {
    return code <= 0 ? static_cast<HRESULT>(code)
                     : static_cast<HRESULT>((static_cast<uint32_t>(code) & 0xFFFFu) | (7u << 16) |
                                            0x80000000u);
}
inline constexpr uint32_t HRESULT_CODE(HRESULT hr) {
    return static_cast<uint32_t>(hr) & 0xFFFFu;
}

inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT NOERROR = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_CONST(0x80004001u);
inline constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_CONST(0x80004002u);
inline constexpr HRESULT E_POINTER = MAKE_HRESULT_CONST(0x80004003u);
inline constexpr HRESULT E_ABORT = MAKE_HRESULT_CONST(0x80004004u);
inline constexpr HRESULT E_FAIL = MAKE_HRESULT_CONST(0x80004005u);
inline constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_CONST(0x8000FFFFu);
inline constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_CONST(0x80070005u);
inline constexpr HRESULT E_HANDLE = MAKE_HRESULT_CONST(0x80070006u);
inline constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_CONST(0x8007000Eu);
inline constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_CONST(0x80070057u);
inline constexpr HRESULT E_PROP_ID_UNSUPPORTED = MAKE_HRESULT_CONST(0x80070490u);
inline constexpr HRESULT E_PROP_SET_UNSUPPORTED = MAKE_HRESULT_CONST(0x80070492u);
inline constexpr HRESULT RPC_E_CHANGED_MODE = MAKE_HRESULT_CONST(0x80010106u);
inline constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_CONST(0x80040110u);
inline constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MAKE_HRESULT_CONST(0x80040111u);
inline constexpr HRESULT REGDB_E_READREGDB = MAKE_HRESULT_CONST(0x80040150u);
inline constexpr HRESULT REGDB_E_WRITEREGDB = MAKE_HRESULT_CONST(0x80040151u);
inline constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_CONST(0x80040154u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MAKE_HRESULT_CONST(0x800401F0u);
inline constexpr HRESULT CO_E_CLASSSTRING = MAKE_HRESULT_CONST(0x800401F3u);
inline constexpr HRESULT CO_E_DLLNOTFOUND = MAKE_HRESULT_CONST(0x800401F8u);
inline constexpr HRESULT CO_E_ERRORINDLL = MAKE_HRESULT_CONST(0x800401F9u);
inline constexpr HRESULT DISP_E_TYPEMISMATCH = MAKE_HRESULT_CONST(0x80020005u);

// The system's message text for a result code ("Unspecified error" and so on), without a
// trailing line break; empty when the code has no text.
std::string SystemMessageText(HRESULT hr);

// ---------------------------------------------------------------------------------------
// IUnknown and class factories
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IUnknown {
public:
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) = 0;
    virtual HRESULT LockServer(BOOL fLock) = 0;

protected:
    ~IClassFactory() = default;
};

// Smart pointer holding one reference.
template <class T>
class CComPtr {
public:
    CComPtr() = default;
    CComPtr(T* p) : p(p) {  // NOLINT: converting like the original
        if (p != nullptr) p->AddRef();
    }
    CComPtr(const CComPtr& other) : CComPtr(other.p) {}
    CComPtr(CComPtr&& other) noexcept : p(other.p) { other.p = nullptr; }
    ~CComPtr() { Release(); }
    CComPtr& operator=(T* other) {
        if (other != nullptr) other->AddRef();
        Release();
        p = other;
        return *this;
    }
    CComPtr& operator=(const CComPtr& other) { return *this = other.p; }
    CComPtr& operator=(CComPtr&& other) noexcept {
        if (this != std::addressof(other)) {
            Release();
            p = other.p;
            other.p = nullptr;
        }
        return *this;
    }

    void Release() {
        T* held = p;
        p = nullptr;
        if (held != nullptr) held->Release();
    }
    void Attach(T* other) {
        Release();
        p = other;
    }
    T* Detach() {
        T* held = p;
        p = nullptr;
        return held;
    }
    HRESULT CopyTo(T** target) const {
        if (target == nullptr) return E_POINTER;
        *target = p;
        if (p != nullptr) p->AddRef();
        return S_OK;
    }
    // Queries the held object for another interface.
    template <class Q>
    HRESULT QueryInterface(REFIID riid, Q** target) const {
        if (target == nullptr) return E_POINTER;
        *target = nullptr;
        if (p == nullptr) return E_POINTER;
        return p->QueryInterface(riid, reinterpret_cast<void**>(target));
    }

    T* operator->() const { return p; }
    operator T*() const { return p; }  // NOLINT: converting like the original
    // Only for filling an empty pointer through an out-parameter.
    T** operator&() { return &p; }
    bool operator!() const { return p == nullptr; }

    T* p = nullptr;
};

// ---------------------------------------------------------------------------------------
// Runtime
enum : uint32_t {
    COINIT_MULTITHREADED = 0x0,
    COINIT_APARTMENTTHREADED = 0x2,
};
enum : uint32_t {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_INPROC = 0x3,
    CLSCTX_ALL = 0x17,
};

// Per-thread start-up count: the first call on a thread gives S_OK, later ones S_FALSE.
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
// Ends one CoInitialize of the calling thread; the last one also unloads the in-process
// servers that report they can be unloaded.
void CoUninitialize();

// Creates an object: built-in classes first, then an in-process server registered in the
// classes root. REGDB_E_CLASSNOTREG when the class is unknown; the server's own failure
// (for example CLASS_E_CLASSNOTAVAILABLE) otherwise.
HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv);
HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID reserved, REFIID riid,
                         LPVOID* ppv);
// Unloads every loaded in-process server whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();

LPVOID CoTaskMemAlloc(size_t cb);
LPVOID CoTaskMemRealloc(LPVOID pv, size_t cb);
void CoTaskMemFree(LPVOID pv);

// ---------------------------------------------------------------------------------------
// Strings and variants (enough for property bags)
BSTR SysAllocString(const OLECHAR* text);
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);

enum : VARTYPE { VT_EMPTY = 0, VT_I4 = 3, VT_BSTR = 8, VT_BOOL = 11, VT_UI4 = 19 };

struct VARIANT {
    VARTYPE vt;
    union {
        LONG lVal;
        ULONG ulVal;
        int16_t boolVal;
        BSTR bstrVal;
    };
};
void VariantInit(VARIANT* var);
HRESULT VariantClear(VARIANT* var);

namespace com {

// UTF-8 <-> wide text (wchar_t holds one code point).
std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" and back; the parse accepts either case and
// rejects anything else.
std::string GuidToString(const GUID& guid);
bool GuidFromString(std::string_view text, GUID* guid);

// Creation function of a built-in class: like IClassFactory::CreateInstance.
using CreateFunction = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);
// Makes a class creatable through CoCreateInstance without a registered server. A later
// registration of the same class id replaces the earlier one.
void RegisterBuiltInClass(const CLSID& clsid, CreateFunction create);

// Whether an in-process server of that path is loaded by this runtime (for diagnostics).
bool IsServerLoaded(const std::string& modulePath);

}  // namespace com
