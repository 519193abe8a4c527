// Which programs stream from the loopback device. The kernel module this is written for
// does not report its readers, so: inotify tells when any program opens or closes the
// device node, a look through /proc finds the processes that hold it open, and of those,
// the ones that have its buffers mapped are the readers. Nothing runs while nobody has the
// device open.
#pragma once

#include <sys/types.h>

#include <set>
#include <string>

#include "platform/sys/UniqueFd.h"

namespace vcam {

class CReaderWatch {
public:
    // `procRoot` is the process table to look through (another one in tests); this process
    // is never counted.
    explicit CReaderWatch(std::string procRoot = "/proc");

    // Watches `node` for opens and closes. False, with `error` set, when it cannot.
    bool Open(const std::string& node, std::string& error);
    // Readable when a program opened or closed the device since the last TakeNotices().
    int NoticeFd() const { return inotify_.Get(); }
    // Reads what the notice descriptor holds; true when there was anything.
    bool TakeNotices();

    // Looks through every process for descriptors of the device.
    void FindOpeners();
    bool HasOpeners() const { return !openers_.empty(); }
    // Of the processes found by FindOpeners, those still alive that have the device's
    // buffers mapped.
    int CountReaders();

private:
    bool HoldsDevice(const std::string& pidFolder) const;
    bool MapsDevice(const std::string& pidFolder) const;

    std::string procRoot_;
    std::string node_;  // as the kernel names it in /proc: without links
    ino_t inode_ = 0;
    pid_t self_;
    sys::UniqueFd inotify_;
    std::set<pid_t> openers_;
};

}  // namespace vcam
