// Media-type helpers and CMediaType.
#include <cstring>

#include "platform/dshow/BaseClasses.h"

void FreeMediaType(AM_MEDIA_TYPE& mt) {
    if (mt.cbFormat != 0 || mt.pbFormat != nullptr) {
        CoTaskMemFree(mt.pbFormat);
        mt.cbFormat = 0;
        mt.pbFormat = nullptr;
    }
    if (mt.pUnk != nullptr) {
        mt.pUnk->Release();
        mt.pUnk = nullptr;
    }
}

void DeleteMediaType(AM_MEDIA_TYPE* pmt) {
    if (pmt == nullptr) return;
    FreeMediaType(*pmt);
    CoTaskMemFree(pmt);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource) {
    if (pmtTarget == nullptr || pmtSource == nullptr) return E_POINTER;
    *pmtTarget = *pmtSource;
    if (pmtSource->cbFormat != 0 && pmtSource->pbFormat != nullptr) {
        pmtTarget->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(pmtSource->cbFormat));
        if (pmtTarget->pbFormat == nullptr) {
            pmtTarget->cbFormat = 0;
            pmtTarget->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(pmtTarget->pbFormat, pmtSource->pbFormat, pmtSource->cbFormat);
    } else {
        pmtTarget->cbFormat = 0;
        pmtTarget->pbFormat = nullptr;
    }
    if (pmtTarget->pUnk != nullptr) pmtTarget->pUnk->AddRef();
    return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc) {
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr) return nullptr;
    if (pSrc == nullptr || FAILED(CopyMediaType(type, pSrc))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

VIDEOINFOHEADER* VideoInfoBlockOf(const AM_MEDIA_TYPE& type) {
    if (type.pbFormat == nullptr || type.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
    return reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
}

VIDEOINFOHEADER* VideoInfoHeaderOf(const AM_MEDIA_TYPE& type) {
    return type.formattype == FORMAT_VideoInfo ? VideoInfoBlockOf(type) : nullptr;
}

void SetRgb24Bitmap(BITMAPINFOHEADER& header, LONG width, LONG height) {
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = GetBitmapSize(&header);
    header.biClrImportant = 0;
}

HRESULT SetRgb24VideoType(CMediaType& type, LONG width, LONG height, REFERENCE_TIME frameTime,
                          ULONG formatSize) {
    FreeMediaType(type);
    type.InitMediaType();
    formatSize = formatSize < sizeof(VIDEOINFOHEADER) ? ULONG{sizeof(VIDEOINFOHEADER)} : formatSize;
    BYTE* block = type.AllocFormatBuffer(formatSize);
    if (block == nullptr) return E_OUTOFMEMORY;
    std::memset(block, 0, formatSize);
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(block);
    SetRgb24Bitmap(info->bmiHeader, width, height);
    info->AvgTimePerFrame = frameTime;
    type.SetType(&MEDIATYPE_Video);
    type.SetSubtype(&MEDIASUBTYPE_RGB24);
    type.SetFormatType(&FORMAT_VideoInfo);
    type.SetTemporalCompression(FALSE);
    type.SetSampleSize(info->bmiHeader.biSizeImage);
    return S_OK;
}

// ---------------------------------------------------------------------------------------
CMediaType::CMediaType() : AM_MEDIA_TYPE() {
    InitMediaType();
}

CMediaType::CMediaType(const GUID* type) : CMediaType() {
    majortype = *type;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& type) : CMediaType() {
    Set(type);
}

CMediaType::CMediaType(const CMediaType& type) : CMediaType() {
    Set(type);
}

CMediaType::~CMediaType() {
    FreeMediaType(*this);
}

CMediaType& CMediaType::operator=(const CMediaType& type) {
    if (this != &type) Set(type);
    return *this;
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& type) {
    if (this != &type) Set(type);
    return *this;
}

bool CMediaType::operator==(const CMediaType& other) const {
    return majortype == other.majortype && subtype == other.subtype &&
           formattype == other.formattype && cbFormat == other.cbFormat &&
           (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

HRESULT CMediaType::Set(const CMediaType& type) {
    return Set(static_cast<const AM_MEDIA_TYPE&>(type));
}

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& type) {
    if (&type == this) return S_OK;
    FreeMediaType(*this);
    const HRESULT hr = CopyMediaType(this, &type);
    if (FAILED(hr)) InitMediaType();
    return hr;
}

void CMediaType::SetSampleSize(ULONG size) {
    if (size == 0) {
        SetVariableSize();
    } else {
        bFixedSizeSamples = TRUE;
        lSampleSize = size;
    }
}

BOOL CMediaType::SetFormat(const BYTE* pFormat, ULONG length) {
    if (AllocFormatBuffer(length) == nullptr && length != 0) return FALSE;
    if (length != 0) std::memcpy(pbFormat, pFormat, length);
    return TRUE;
}

void CMediaType::ResetFormatBuffer() {
    CoTaskMemFree(pbFormat);
    pbFormat = nullptr;
    cbFormat = 0;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    if (cbFormat >= length && pbFormat != nullptr) {
        cbFormat = length;
        return pbFormat;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (block == nullptr) return nullptr;
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
    if (length == 0) {
        ResetFormatBuffer();
        return nullptr;
    }
    auto* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
    if (block == nullptr) return nullptr;
    if (pbFormat != nullptr) std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
    ResetFormatBuffer();
    pbFormat = block;
    cbFormat = length;
    return pbFormat;
}

void CMediaType::InitMediaType() {
    majortype = GUID_NULL;
    subtype = GUID_NULL;
    formattype = GUID_NULL;
    bFixedSizeSamples = TRUE;
    bTemporalCompression = FALSE;
    lSampleSize = 1;
    pUnk = nullptr;
    cbFormat = 0;
    pbFormat = nullptr;
}

BOOL CMediaType::MatchesPartial(const CMediaType* ppartial) const {
    if (ppartial->majortype != GUID_NULL && majortype != ppartial->majortype) return FALSE;
    if (ppartial->subtype != GUID_NULL && subtype != ppartial->subtype) return FALSE;
    if (ppartial->formattype != GUID_NULL) {
        if (formattype != ppartial->formattype) return FALSE;
        if (cbFormat != ppartial->cbFormat) return FALSE;
        if (cbFormat != 0 && std::memcmp(pbFormat, ppartial->pbFormat, cbFormat) != 0) {
            return FALSE;
        }
    }
    return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
    return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}
