// Server and filter registration in the classes root.
#include "platform/com/RegKey.h"
#include "platform/dshow/Internal.h"

HRESULT AMovieSetupRegisterServer(CLSID clsServer, LPCWSTR szDescription, LPCWSTR szFileName,
                                  LPCWSTR szThreadingModel, LPCWSTR szServerType) {
    if (szFileName == nullptr || szFileName[0] == 0) {
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    }
    const std::string classKey = "CLSID\\" + com::GuidToString(clsServer);
    com::RegKey key;
    LONG result = key.Create(HKEY_CLASSES_ROOT, classKey);
    if (result == ERROR_SUCCESS && szDescription != nullptr) {
        result = key.WriteText("", com::WideToUtf8(szDescription));
    }
    if (result != ERROR_SUCCESS) return HRESULT_FROM_WIN32(result);

    com::RegKey server;
    const std::string serverType =
        com::WideToUtf8(szServerType != nullptr ? szServerType : L"InprocServer32");
    result = server.Create(HKEY_CLASSES_ROOT, classKey + "\\" + serverType);
    if (result == ERROR_SUCCESS) result = server.WriteText("", com::WideToUtf8(szFileName));
    if (result == ERROR_SUCCESS && szThreadingModel != nullptr) {
        result = server.WriteText("ThreadingModel", com::WideToUtf8(szThreadingModel));
    }
    return HRESULT_FROM_WIN32(result);
}

HRESULT AMovieSetupUnregisterServer(CLSID clsServer) {
    const std::string classKey = "CLSID\\" + com::GuidToString(clsServer);
    const LONG result = RegDeleteTree(HKEY_CLASSES_ROOT, classKey.c_str());
    // Nothing registered is nothing to remove.
    if (result == ERROR_FILE_NOT_FOUND) return S_OK;
    return HRESULT_FROM_WIN32(result);
}

namespace dshow {

HRESULT RegisterFilterSetup(const AMOVIESETUP_FILTER* setup, BOOL bRegister) {
    if (setup == nullptr || setup->clsID == nullptr) return E_POINTER;
    CComPtr<IFilterMapper2> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
    if (FAILED(hr)) return hr;
    if (bRegister) {
        const REGFILTER2 data = {1, setup->dwMerit, setup->nPins, setup->lpPin};
        return mapper->RegisterFilter(*setup->clsID, setup->strName, nullptr,
                                      &CLSID_LegacyAmFilterCategory, nullptr, &data);
    }
    hr = mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, *setup->clsID);
    // A filter that was never registered is not an error here.
    return hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ? NOERROR : hr;
}

}  // namespace dshow
