// The thin kernel side of the device interface: ioctl, mmap, poll and sysfs.
#include <dirent.h>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "platform/v4l2/V4l2Device.h"

namespace v4l2 {

int Ioctl(int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = ioctl(fd, request, argument);
    } while (result < 0 && errno == EINTR);
    return result < 0 ? errno : 0;
}

namespace {

// Waits for input on fd: 0 ready, ETIMEDOUT, or errno.
int WaitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    int ready = poll(&entry, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? ETIMEDOUT : errno;
    if (ready == 0) return ETIMEDOUT;
    if (entry.revents & (POLLERR | POLLHUP | POLLNVAL)) return ENODEV;
    return 0;
}

class UniqueFd {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

class KernelNode final : public IDeviceNode {
public:
    explicit KernelNode(int fd) : fd_(fd) {}
    ~KernelNode() override { UnmapBuffers(); }

    int QueryCap(v4l2_capability& cap) override { return Ioctl(fd_.get(), VIDIOC_QUERYCAP, &cap); }
    int EnumFormat(v4l2_fmtdesc& desc) override { return Ioctl(fd_.get(), VIDIOC_ENUM_FMT, &desc); }
    int EnumFrameSizes(v4l2_frmsizeenum& size) override {
        return Ioctl(fd_.get(), VIDIOC_ENUM_FRAMESIZES, &size);
    }
    int EnumFrameIntervals(v4l2_frmivalenum& interval) override {
        return Ioctl(fd_.get(), VIDIOC_ENUM_FRAMEINTERVALS, &interval);
    }
    int GetFormat(v4l2_format& format) override { return Ioctl(fd_.get(), VIDIOC_G_FMT, &format); }
    int SetFormat(v4l2_format& format) override { return Ioctl(fd_.get(), VIDIOC_S_FMT, &format); }
    int SetStreamParm(v4l2_streamparm& parm) override {
        return Ioctl(fd_.get(), VIDIOC_S_PARM, &parm);
    }
    int RequestBuffers(v4l2_requestbuffers& request) override {
        return Ioctl(fd_.get(), VIDIOC_REQBUFS, &request);
    }
    int QueryBuffer(v4l2_buffer& buffer) override {
        return Ioctl(fd_.get(), VIDIOC_QUERYBUF, &buffer);
    }
    int MapBuffer(const v4l2_buffer& buffer, std::span<uint8_t>& mapped) override {
        void* address = mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_.get(),
                             buffer.m.offset);
        if (address == MAP_FAILED) return errno;
        mapped = {static_cast<uint8_t*>(address), buffer.length};
        mappings_.push_back(mapped);
        return 0;
    }
    void UnmapBuffers() override {
        for (auto& mapping : mappings_) munmap(mapping.data(), mapping.size());
        mappings_.clear();
    }
    int QueueBuffer(v4l2_buffer& buffer) override { return Ioctl(fd_.get(), VIDIOC_QBUF, &buffer); }
    int DequeueBuffer(v4l2_buffer& buffer) override {
        return Ioctl(fd_.get(), VIDIOC_DQBUF, &buffer);
    }
    int StreamOn() override {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return Ioctl(fd_.get(), VIDIOC_STREAMON, &type);
    }
    int StreamOff() override {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        return Ioctl(fd_.get(), VIDIOC_STREAMOFF, &type);
    }
    int WaitFrame(int timeoutMs) override { return WaitReadable(fd_.get(), timeoutMs); }
    int QueryControl(v4l2_queryctrl& control) override {
        return Ioctl(fd_.get(), VIDIOC_QUERYCTRL, &control);
    }
    int QueryMenu(v4l2_querymenu& item) override {
        return Ioctl(fd_.get(), VIDIOC_QUERYMENU, &item);
    }
    int GetControl(v4l2_control& control) override {
        return Ioctl(fd_.get(), VIDIOC_G_CTRL, &control);
    }
    int SetControl(v4l2_control& control) override {
        return Ioctl(fd_.get(), VIDIOC_S_CTRL, &control);
    }

private:
    UniqueFd fd_;
    std::vector<std::span<uint8_t>> mappings_;
};

class KernelButton final : public IButtonInput {
public:
    explicit KernelButton(int fd) : fd_(fd) {}

    int WaitPress(int timeoutMs) override {
        int waited = WaitReadable(fd_.get(), timeoutMs);
        if (waited == ETIMEDOUT) return 0;
        if (waited != 0) return -waited;
        input_event events[16];
        ssize_t got = read(fd_.get(), events, sizeof(events));
        if (got < 0) return errno == EAGAIN || errno == EINTR ? 0 : -errno;
        for (size_t i = 0; i < static_cast<size_t>(got) / sizeof(input_event); ++i) {
            if (events[i].type == EV_KEY && events[i].code == KEY_CAMERA && events[i].value == 1)
                return 1;
        }
        return 0;
    }

private:
    UniqueFd fd_;
};

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::optional<unsigned> ReadHexFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text)) return std::nullopt;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 16);
    if (end == text.c_str() || value > 0xFFFF) return std::nullopt;
    return static_cast<unsigned>(value);
}

// The first line of a sysfs text attribute; empty when it cannot be read.
std::string ReadLineFile(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool FileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

// The sysfs folder of the USB device (the one holding idVendor) above a video node.
std::string UsbDeviceFolder(const std::string& node) {
    std::string folder = RealPath("/sys/class/video4linux/" + BaseName(node) + "/device");
    while (!folder.empty() && folder != "/sys") {
        if (FileExists(folder + "/idVendor") && FileExists(folder + "/idProduct")) return folder;
        folder = folder.substr(0, folder.rfind('/'));
    }
    return {};
}

std::vector<std::string> ListDirectory(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.rfind(prefix, 0) == 0 && name.size() > prefix.size() &&
                std::all_of(name.begin() + prefix.size(), name.end(), ::isdigit))
                names.push_back(name);
        }
        closedir(dir);
    }
    // Numeric order, so video2 comes before video10.
    std::sort(names.begin(), names.end(), [&](const std::string& a, const std::string& b) {
        return std::stoul(a.substr(prefix.size())) < std::stoul(b.substr(prefix.size()));
    });
    return names;
}

bool ReportsCameraKey(int fd) {
    unsigned long keys[KEY_MAX / (8 * sizeof(unsigned long)) + 1] = {};
    if (Ioctl(fd, EVIOCGBIT(EV_KEY, sizeof(keys)), keys) != 0) return false;
    constexpr size_t bitsPerWord = 8 * sizeof(unsigned long);
    return (keys[KEY_CAMERA / bitsPerWord] >> (KEY_CAMERA % bitsPerWord)) & 1;
}

class KernelSystem final : public IDeviceSystem {
public:
    std::vector<std::string> ListVideoNodes() override {
        std::vector<std::string> nodes;
        for (const auto& name : ListDirectory("/dev", "video")) nodes.push_back("/dev/" + name);
        return nodes;
    }

    int Open(const std::string& node, std::unique_ptr<IDeviceNode>& opened) override {
        int fd = open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return errno;
        opened = std::make_unique<KernelNode>(fd);
        return 0;
    }

    std::optional<UsbIdentity> UsbIdentityOf(const std::string& node) override {
        std::string usbFolder = UsbDeviceFolder(node);
        if (usbFolder.empty()) return std::nullopt;
        auto vendor = ReadHexFile(usbFolder + "/idVendor");
        auto product = ReadHexFile(usbFolder + "/idProduct");
        if (!vendor || !product) return std::nullopt;
        UsbIdentity identity{static_cast<uint16_t>(*vendor), static_cast<uint16_t>(*product), 0,
                             ReadLineFile(usbFolder + "/serial")};
        // The node's own folder is the USB interface that carries bInterfaceNumber.
        std::string interfaceFolder =
            RealPath("/sys/class/video4linux/" + BaseName(node) + "/device");
        if (auto number = ReadHexFile(interfaceFolder + "/bInterfaceNumber"))
            identity.interfaceNumber = static_cast<uint8_t>(*number);
        return identity;
    }

    int OpenSnapshotButton(const std::string& node,
                           std::unique_ptr<IButtonInput>& opened) override {
        std::string usbFolder = UsbDeviceFolder(node);
        if (usbFolder.empty()) return ENOENT;
        int lastError = ENOENT;
        for (const auto& name : ListDirectory("/sys/class/input", "event")) {
            std::string inputFolder = RealPath("/sys/class/input/" + name + "/device");
            if (inputFolder.rfind(usbFolder + "/", 0) != 0) continue;
            int fd = open(("/dev/input/" + name).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                lastError = errno;
                continue;
            }
            if (!ReportsCameraKey(fd)) {
                close(fd);
                continue;
            }
            opened = std::make_unique<KernelButton>(fd);
            return 0;
        }
        return lastError;
    }
};

std::atomic<IDeviceSystem*> installedSystem{nullptr};

}  // namespace

IDeviceSystem& KernelDeviceSystem() {
    static KernelSystem system;
    return system;
}

IDeviceSystem& CurrentDeviceSystem() {
    IDeviceSystem* system = installedSystem.load();
    return system ? *system : KernelDeviceSystem();
}

IDeviceSystem* SetDeviceSystem(IDeviceSystem* system) {
    return installedSystem.exchange(system);
}

}  // namespace v4l2
