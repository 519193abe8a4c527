// The wireless camera's control channel as the capture object drives it: started when
// the wireless camera is bound, stopped when the graph is torn down.
#pragma once

class IWifiControlChannel {
public:
    virtual ~IWifiControlChannel() = default;
    // Sets the run flag and starts the channel's thread.
    virtual void Start() = 0;
    // Clears the run flag and waits for the thread at most `waitMs`, then forgets it.
    virtual void Stop(int waitMs) = 0;
    // True while the channel has a thread, that is while the wireless camera is bound.
    virtual bool HasThread() const = 0;
};
