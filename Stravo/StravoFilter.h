// The wireless camera as a video capture source: CStravoFilter opens the camera stream when
// it is created and offers, on its single output pin CStravoPin, one uncompressed RGB24
// type at the camera's size; once running, the pin fills every sample with the next
// picture of the frame queue, stamped 30 per second.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Stravo/VideoFormat.h"
#include "platform/dshow/BaseClasses.h"

// {B5FF52FC-7EBA-46A9-B43D-C8B225269702}
inline constexpr CLSID CLSID_StravoFilter = {
    0xB5FF52FC, 0x7EBA, 0x46A9, {0xB4, 0x3D, 0xC8, 0xB2, 0x25, 0x26, 0x97, 0x02}};

// The formats the camera stream offers: none when the camera could not be reached, else
// the one the stream reader found.
class CVideoFormatList {
public:
    // Takes a share of the process's stream reader, opening the camera stream when no other
    // filter has it open, and learns its size.
    CVideoFormatList();
    // Gives the share back; the last one closes the stream.
    ~CVideoFormatList();
    CVideoFormatList(const CVideoFormatList&) = delete;
    CVideoFormatList& operator=(const CVideoFormatList&) = delete;

    int32_t FormatCount() const { return static_cast<int32_t>(entries_.size()); }
    // Writes size, planes, bit count, compression, image size and frame time of the format
    // at `position` into `info`; false for any position but 0 or an empty list.
    bool FillFormat(int position, VIDEOINFOHEADER* info) const;
    // Whether a format has that width and the absolute value of that height.
    bool HasFormat(LONG width, LONG height) const;
    const GUID& Subtype() const { return subtype_; }

private:
    std::vector<VideoFormat> entries_;
    GUID subtype_;
    DWORD compression_;
};

class CStravoFilter;

class CStravoPin : public CCaptureSourceStream {
public:
    static constexpr REFERENCE_TIME kFrameDuration = 333333;
    static constexpr int kPaceMs = 33;
    // How long the pin's first sample waits for the camera's first picture.
    static constexpr int kFirstPictureWaitMs = 2000;

    CStravoPin(HRESULT* phr, CStravoFilter* parent);
    ~CStravoPin() override;

    HRESULT FillBuffer(IMediaSample* pSample) override;
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT SetMediaType(const CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pProperties) override;

    // IQualityControl
    HRESULT Notify(IBaseFilter* pSelf, Quality q) override;

    // IAMStreamConfig
    HRESULT SetFormat(AM_MEDIA_TYPE* pmt) override;
    HRESULT GetFormat(AM_MEDIA_TYPE** ppmt) override;
    HRESULT GetNumberOfCapabilities(int* piCount, int* piSize) override;
    HRESULT GetStreamCaps(int iIndex, AM_MEDIA_TYPE** ppmt, BYTE* pSCC) override;

    // IKsPropertySet: every question about a property is answered yes, the flags unwritten.
    HRESULT QuerySupported(REFGUID guidPropSet, DWORD dwPropID, DWORD* pTypeSupport) override;

protected:
    HRESULT OfferedType(int iPosition, CMediaType* pMediaType) override;

private:
    // Bytes of one picture of the connection type; 0 without a video format block.
    DWORD ConnectionImageSize() const;
    // Copies the next queued picture into `buffer`, skipping to the newest when the camera
    // has run ahead; `length` becomes the bytes copied. Without a picture the buffer and
    // `length` stay as they are and the result is false.
    bool CopyNextFrame(BYTE* buffer, ULONG& length);
    // Waits until the frame queue holds a picture, the time is up or the thread is asked
    // to change state.
    void WaitForPicture(std::chrono::milliseconds limit);

    CStravoFilter* const parent_;
    int32_t sampleCounter_ = 0;  // samples filled since construction; never reset
    bool firstPictureAwaited_ = false;
    bool pictureDelivered_ = false;  // a sample has carried a camera picture
    std::mutex fillLock_;
};

class CStravoFilter : public CSource {
public:
    // The class factory's creation function; null when memory runs out.
    static CUnknown* CreateInstance(LPUNKNOWN pUnk, HRESULT* phr);

    CStravoFilter(LPUNKNOWN pUnk, HRESULT* phr);
    ~CStravoFilter() override;

    // Traces the interface's registry name, then hands the stream configuration and the
    // property set out from the pin and everything else from the object.
    HRESULT QueryInterface(REFIID riid, void** ppv) override;

    // The format list; null only while the filter is being constructed.
    const CVideoFormatList* FormatList() const { return formatList_; }

private:
    void TraceInterfaceName(REFIID riid) const;

    CStravoPin* pin_ = nullptr;
    CVideoFormatList* formatList_ = nullptr;
};
