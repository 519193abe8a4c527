// The wireless camera's control channel: while the wireless camera is previewed, one thread
// keeps a TCP connection to the camera's port 5000 and turns each press of its button (one
// byte 'e') into a photo request of the owner window. Nothing is ever sent to the camera.
#pragma once

#include <atomic>
#include <cstdint>
#include <future>
#include <thread>

#include "Skelvane/capture/CaptureOwner.h"
#include "Skelvane/capture/WifiControl.h"
#include "common/Singleton.h"

class CWifiDeviceProxy : public Tolm::Singleton<CWifiDeviceProxy>, public IWifiControlChannel {
    friend class Tolm::Singleton<CWifiDeviceProxy>;

public:
    // Starts a listening thread. A thread still held from an earlier Start is stopped first.
    void Start() override;
    // Waits at most `waitMs` for the thread; one that does not end by then is let go.
    void Stop(int waitMs) override;
    // True from Start to Stop, even when the thread already ended on its own.
    bool HasThread() const override { return thread_.joinable(); }

    // Read by the listening thread, written by the UI thread.
    std::atomic<int32_t> running{0};
    std::atomic<ICaptureOwner*> owner{nullptr};

private:
    CWifiDeviceProxy() = default;
    ~CWifiDeviceProxy() override;

    std::thread thread_;
    std::future<int> result_;  // ControlChannelProc's result, ready when the thread ends
};

// The listening thread's procedure: connects to the camera address of the current settings
// on port 5000 (3 s at most) and sets the owner's takePhoto for every button event while
// `running` is set. 0 when it ended or no connection came about, -1 when the socket could
// not be prepared.
int ControlChannelProc(CWifiDeviceProxy* proxy);
