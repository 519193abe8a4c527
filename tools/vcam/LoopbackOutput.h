// The writing side of a v4l2loopback device: found by its card label, checked, given a YUYV
// format and fed whole pictures with write().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/sys/UniqueFd.h"

namespace vcam {

enum class OpenResult {
    kOpened,
    kCannotOpen,   // the node is missing or not ours to open
    kNotLoopback,  // another driver's device
    kAlreadyFed,   // another program writes to it
};

// Whether the v4l2loopback kernel module is loaded.
bool LoopbackModuleLoaded();

// The node of the loopback device labelled for the wireless camera; empty when none is.
std::string FindWirelessCameraLoopback();

class CLoopbackOutput {
public:
    // Opens `node` for writing and checks that it is a loopback device nobody else feeds.
    // `detail` says why not.
    OpenResult Open(const std::string& node, std::string& detail);
    // Gives the device a YUYV format of that size and rate. A device that already holds a
    // format because other programs have it open keeps that size: Width() and Height() tell
    // what it holds. False when the device refused.
    bool SetFormat(int width, int height, int framesPerSecond);
    // Closes the device and opens it again with a new size, which only takes while no other
    // program has it open. False when the device could not be opened again.
    bool Reformat(int width, int height, int framesPerSecond);
    // Hands one picture of FrameBytes() to the readers.
    bool Write(const std::vector<uint8_t>& yuyv);

    const std::string& Node() const { return node_; }
    bool LabelledForWirelessCamera() const { return labelled_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    size_t FrameBytes() const { return static_cast<size_t>(width_) * height_ * 2; }

private:
    sys::UniqueFd fd_;
    std::string node_;
    bool labelled_ = false;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace vcam
