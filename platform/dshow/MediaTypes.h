// Media types of the stream framework: AM_MEDIA_TYPE, the video format blocks and the
// major, sub and format type identifiers.
#pragma once

#include "platform/com/Com.h"

using REFERENCE_TIME = LONGLONG;

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
struct SIZE {
    LONG cx;
    LONG cy;
};

struct AM_MEDIA_TYPE {
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown* pUnk;
    ULONG cbFormat;
    BYTE* pbFormat;
};

enum : DWORD { BI_RGB = 0, BI_BITFIELDS = 3 };

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
};

struct VIDEOINFOHEADER {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct TRUECOLORINFO {
    DWORD dwBitMasks[3];
    RGBQUAD bmiColors[256];
};

struct VIDEOINFO {
    RECT rcSource;
    RECT rcTarget;
    DWORD dwBitRate;
    DWORD dwBitErrorRate;
    REFERENCE_TIME AvgTimePerFrame;
    BITMAPINFOHEADER bmiHeader;
    union {
        RGBQUAD bmiColors[256];
        DWORD dwBitMasks[3];
        TRUECOLORINFO TrueColorInfo;
    };
};
static_assert(sizeof(VIDEOINFO) == 1128);

// Bytes of one bitmap row: padded to a multiple of 4.
inline constexpr DWORD WIDTHBYTES(DWORD bits) {
    return ((bits + 31) & ~31u) / 8;
}
inline constexpr DWORD DIBWIDTHBYTES(const BITMAPINFOHEADER& bi) {
    return WIDTHBYTES(static_cast<DWORD>(bi.biWidth) * bi.biBitCount);
}
inline constexpr DWORD DIBSIZE(const BITMAPINFOHEADER& bi) {
    return DIBWIDTHBYTES(bi) * static_cast<DWORD>(bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
}
inline DWORD GetBitmapSize(const BITMAPINFOHEADER* header) {
    return DIBSIZE(*header);
}

// The VIDEOINFOHEADER at the start of a type's format block when the block is at least that
// large, whatever the format type says; null otherwise.
VIDEOINFOHEADER* VideoInfoBlockOf(const AM_MEDIA_TYPE& type);
// The same for FORMAT_VideoInfo types only.
VIDEOINFOHEADER* VideoInfoHeaderOf(const AM_MEDIA_TYPE& type);
// Describes an uncompressed 24-bit RGB picture of a size: header size 40, one plane, BI_RGB,
// the image size of rows padded to 4 bytes, no important colours. A positive height means
// bottom row first. The header's other fields stay as they are.
void SetRgb24Bitmap(BITMAPINFOHEADER& header, LONG width, LONG height);

// Frees the format block and the pUnk of a type, leaving the type's other fields.
void FreeMediaType(AM_MEDIA_TYPE& mt);
// Frees a type made by CreateMediaType or handed out by an enumerator or GetFormat.
void DeleteMediaType(AM_MEDIA_TYPE* pmt);
// Deep copy into `pmtTarget` (whose old content is not freed). E_OUTOFMEMORY on failure.
HRESULT CopyMediaType(AM_MEDIA_TYPE* pmtTarget, const AM_MEDIA_TYPE* pmtSource);
// A new CoTaskMemAlloc'ed deep copy; null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* pSrc);

// Major types
inline constexpr GUID MEDIATYPE_Video = {
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIATYPE_Stream = {
    0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

// Subtypes
inline constexpr GUID MEDIASUBTYPE_RGB8 = {
    0xE436EB7A, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB565 = {
    0xE436EB7B, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB555 = {
    0xE436EB7C, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB24 = {
    0xE436EB7D, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_RGB32 = {
    0xE436EB7E, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_MJPG = {
    0x47504A4D, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_YUY2 = {
    0x32595559, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_UYVY = {
    0x59565955, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_NV12 = {
    0x3231564E, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_I420 = {
    0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

// Format types
inline constexpr GUID FORMAT_None = {
    0x0F6417D6, 0xC318, 0x11D0, {0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
inline constexpr GUID FORMAT_VideoInfo = {
    0x05589F80, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
inline constexpr GUID FORMAT_VideoInfo2 = {
    0xF72A76A0, 0xEB0A, 0x11D0, {0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA}};
