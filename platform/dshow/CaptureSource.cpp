// What the output pins of capture sources share: the pin category and the allocator sizing.
#include <cstring>

#include "platform/dshow/BaseClasses.h"

HRESULT GetPinCategoryProperty(const GUID& category, REFGUID guidPropSet, DWORD dwPropID,
                               LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) {
    if (guidPropSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (pPropData == nullptr && pcbReturned == nullptr) return E_POINTER;
    if (pcbReturned != nullptr) *pcbReturned = sizeof(GUID);
    if (pPropData == nullptr) return S_OK;
    if (cbPropData < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(pPropData, &category, sizeof(GUID));
    return S_OK;
}

HRESULT SetAllocatorProperties(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* request,
                               long neededBytes) {
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = pAlloc->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < neededBytes || actual.cBuffers < 1 ? E_FAIL : S_OK;
}

CCaptureSourceStream::CCaptureSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms,
                                           LPCWSTR pName, const GUID& category)
    : CSourceStream(pObjectName, phr, pms, pName), category_(category) {}

HRESULT CCaptureSourceStream::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
    if (riid == IID_IAMStreamConfig) return GetInterface(static_cast<IAMStreamConfig*>(this), ppv);
    if (riid == IID_IKsPropertySet) return GetInterface(static_cast<IKsPropertySet*>(this), ppv);
    return CSourceStream::NonDelegatingQueryInterface(riid, ppv);
}

HRESULT CCaptureSourceStream::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
    return E_NOTIMPL;
}

HRESULT CCaptureSourceStream::Get(REFGUID guidPropSet, DWORD dwPropID, LPVOID, DWORD,
                                  LPVOID pPropData, DWORD cbPropData, DWORD* pcbReturned) {
    return GetPinCategoryProperty(category_, guidPropSet, dwPropID, pPropData, cbPropData,
                                  pcbReturned);
}

HRESULT CCaptureSourceStream::QuerySupported(REFGUID guidPropSet, DWORD dwPropID,
                                             DWORD* pTypeSupport) {
    if (guidPropSet != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
    if (dwPropID != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (pTypeSupport != nullptr) *pTypeSupport = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

HRESULT CCaptureSourceStream::GetMediaType(int iPosition, CMediaType* pMediaType) {
    if (pMediaType == nullptr) return E_POINTER;
    if (iPosition < 0) return E_INVALIDARG;
    CAutoLock lock(m_pFilter->pStateLock());
    return OfferedType(iPosition, pMediaType);
}
