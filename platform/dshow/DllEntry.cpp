// The in-process server side of a filter module: the class factory, the exported
// DllGetClassObject and DllCanUnloadNow, and the module's registration. Linked into a
// module when its DllMain calls DllEntryPoint; the program never links it.
#include <dlfcn.h>

#include <climits>
#include <cstdlib>

#include "platform/dshow/Internal.h"

HINSTANCE g_hInst = nullptr;

namespace {

std::atomic<LONG> gServerLocks{0};

// The full path of the library this code was linked into.
std::wstring ModuleFilePath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&ModuleFilePath), &info) == 0 || info.dli_fname == nullptr) {
        return {};
    }
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) == nullptr) return com::Utf8ToWide(info.dli_fname);
    return com::Utf8ToWide(resolved);
}

}  // namespace

CClassFactory::CClassFactory(const CFactoryTemplate* pTemplate)
    : CBaseObject("class factory"), m_pTemplate(pTemplate) {}

HRESULT CClassFactory::QueryInterface(REFIID riid, void** ppv) {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IClassFactory || riid == IID_IUnknown) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return NOERROR;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG CClassFactory::AddRef() {
    return static_cast<ULONG>(++m_cRef);
}

ULONG CClassFactory::Release() {
    const LONG refs = --m_cRef;
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
}

HRESULT CClassFactory::CreateInstance(LPUNKNOWN pUnkOuter, REFIID riid, void** pv) {
    if (pv == nullptr) return E_POINTER;
    *pv = nullptr;
    // An aggregated object hands its inner IUnknown only.
    if (pUnkOuter != nullptr && riid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = NOERROR;
    CUnknown* object = m_pTemplate->CreateInstance(pUnkOuter, &hr);
    if (object == nullptr) return FAILED(hr) ? hr : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete object;
        return hr;
    }
    object->NonDelegatingAddRef();
    hr = object->NonDelegatingQueryInterface(riid, pv);
    object->NonDelegatingRelease();
    return hr;
}

HRESULT CClassFactory::LockServer(BOOL fLock) {
    if (fLock) {
        ++gServerLocks;
    } else {
        --gServerLocks;
    }
    return NOERROR;
}

BOOL CClassFactory::IsLocked() {
    return gServerLocks.load() > 0;
}

BOOL WINAPI DllEntryPoint(HINSTANCE hInstance, ULONG ulReason, LPVOID /*pv*/) {
    switch (ulReason) {
        case DLL_PROCESS_ATTACH:
            g_hInst = hInstance;
            for (int i = 0; i < g_cTemplates; ++i) {
                if (g_Templates[i].m_lpfnInit != nullptr) {
                    g_Templates[i].m_lpfnInit(TRUE, g_Templates[i].m_ClsID);
                }
            }
            break;
        case DLL_PROCESS_DETACH:
            for (int i = 0; i < g_cTemplates; ++i) {
                if (g_Templates[i].m_lpfnInit != nullptr) {
                    g_Templates[i].m_lpfnInit(FALSE, g_Templates[i].m_ClsID);
                }
            }
            break;
        default:
            break;
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rClsID, REFIID riid, void** pv) {
    if (pv == nullptr) return E_POINTER;
    *pv = nullptr;
    if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
    for (int i = 0; i < g_cTemplates; ++i) {
        if (!g_Templates[i].IsClassID(rClsID)) continue;
        auto* factory = new CClassFactory(&g_Templates[i]);
        return factory->QueryInterface(riid, pv);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() {
    return CClassFactory::IsLocked() || CBaseObject::ObjectsActive() > 0 ? S_FALSE : S_OK;
}

HRESULT AMovieDllRegisterServer2(BOOL bRegister) {
    const std::wstring path = ModuleFilePath();
    if (path.empty()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    CoInitialize(nullptr);
    HRESULT hr = NOERROR;
    for (int i = 0; i < g_cTemplates && SUCCEEDED(hr); ++i) {
        const CFactoryTemplate& entry = g_Templates[i];
        if (bRegister) {
            hr = AMovieSetupRegisterServer(*entry.m_ClsID, entry.m_Name, path.c_str());
            if (SUCCEEDED(hr) && entry.m_pAMovieSetup_Filter != nullptr) {
                hr = dshow::RegisterFilterSetup(entry.m_pAMovieSetup_Filter, TRUE);
            }
        } else {
            if (entry.m_pAMovieSetup_Filter != nullptr) {
                hr = dshow::RegisterFilterSetup(entry.m_pAMovieSetup_Filter, FALSE);
            }
            if (SUCCEEDED(hr)) hr = AMovieSetupUnregisterServer(*entry.m_ClsID);
        }
    }
    CoUninitialize();
    return hr;
}

HRESULT AMovieDllRegisterVideoInputDevice(BOOL bRegister, const CLSID& clsid, LPCWSTR name,
                                          const REGFILTER2* registration) {
    HRESULT hr = AMovieDllRegisterServer2(bRegister);
    if (FAILED(hr)) return hr;
    CComPtr<IFilterMapper2> mapper;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) return hr;
    if (bRegister) {
        return mapper->RegisterFilter(clsid, name, nullptr, &CLSID_VideoInputDeviceCategory, name,
                                      registration);
    }
    return mapper->UnregisterFilter(&CLSID_VideoInputDeviceCategory, name, clsid);
}
