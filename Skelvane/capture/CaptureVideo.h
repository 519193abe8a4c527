// Owner of the capture graph of the previewed device: device filter -> sample grabber ->
// video renderer, plus a still branch into a null renderer when the device has a still pin.
#pragma once

#include <functional>
#include <string>

#include "Skelvane/capture/DeviceChoice.h"
#include "Skelvane/capture/Resolution.h"
#include "Skelvane/capture/SaverThread.h"
#include "platform/dshow/DShow.h"

class IWifiControlChannel;

// A grabber callback that is told its grabber's frame size before the graph runs.
class IFrameSizedCallback : public ISampleGrabberCB {
public:
    virtual void SetFrameSize(long width, long height) = 0;
};

class CCaptureVideo {
public:
    // Starts the component runtime for the calling (UI) thread.
    CCaptureVideo();
    // Tears the graph down, ends the runtime and stops the saving thread.
    ~CCaptureVideo();
    CCaptureVideo(const CCaptureVideo&) = delete;
    CCaptureVideo& operator=(const CCaptureVideo&) = delete;

    // Where built graphs report: the window's resolution list, the two frame callbacks
    // (installed in buffer mode) and the wireless control channel.
    struct Sinks {
        ResolutionList* resolutions = nullptr;
        IFrameSizedCallback* previewCallback = nullptr;
        IFrameSizedCallback* stillCallback = nullptr;
        IWifiControlChannel* controlChannel = nullptr;
        // Frames end in a null renderer instead of a video window (tools without a screen).
        bool headless = false;
        // Opens the device's property pages as a modal dialog (window code supplies it).
        std::function<void(IBaseFilter* device, const CAUUID& pages)> showPropertyPages;
        // The owner window's client size, which the video window fills.
        std::function<void(long& width, long& height)> ownerClientSize;
    };
    void SetSinks(const Sinks& sinks) { sinks_ = sinks; }

    // Fills `table` with the devices that have a name and a path; -1 when the category
    // cannot be listed.
    int EnumerateDevices(DeviceTable& table);
    // Whether the wireless camera is registered in the category (without binding it).
    bool WifiDevicePresent();
    // Binds the device at `index` (10000: the wireless camera) as the graph's device filter.
    bool BindDevice(int index);
    // Builds and runs the graph for `request` inside `owner`. Without interpolation the
    // request's size becomes the size the device delivers. The camera's remembered control
    // values are set before the graph runs. Negative on failure.
    HRESULT BuildGraph(int index, OAHWND owner, PreviewRequest& request);
    void TearDown();
    // Sizes the video window to the owner window's client area; nothing without a graph.
    void FitVideoWindow();
    bool HasVideoWindow() const { return videoWindow_ != nullptr; }
    // Opens the device's own property pages; without a graph it says no camera is there.
    void ShowDeviceProperties();
    // The text a warning box shows for a failure of the media layer.
    std::string HresultText(HRESULT hr) const;

    // The timed-shot saving thread, started by the main window.
    CSaverThread saverThread;

private:
    enum class ConfigureVariant { Preview, Still };
    void ConfigureStreamFormat(ConfigureVariant variant, const PreviewRequest& request);
    void AddStillBranch(const PreviewRequest& request);
    void AttachVideoWindow(OAHWND owner);
    HRESULT Box(HRESULT hr) const;

    bool comStarted_ = false;
    OAHWND owner_ = 0;
    CComPtr<IGraphBuilder> graph_;
    CComPtr<ICaptureGraphBuilder2> builder_;
    CComPtr<IBaseFilter> deviceFilter_;
    CComPtr<IMediaControl> mediaControl_;
    CComPtr<IVideoWindow> videoWindow_;
    CComPtr<IBaseFilter> previewGrabber_;
    CComPtr<IBaseFilter> previewRenderer_;
    CComPtr<IBaseFilter> nullRenderer_;
    CComPtr<IBaseFilter> stillGrabber_;
    Sinks sinks_;
};

// The media type both grabbers accept: video, 24-bit RGB, any format.
AM_MEDIA_TYPE GrabberMediaType();
