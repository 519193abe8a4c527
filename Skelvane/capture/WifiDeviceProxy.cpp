#include "Skelvane/capture/WifiDeviceProxy.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <chrono>
#include <system_error>

#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/UniqueFd.h"

namespace {

constexpr uint16_t kControlPort = 5000;
constexpr int kConnectTimeoutMs = 3000;
// Short enough that Stop is seen soon while the camera is quiet.
constexpr int kReceiveTimeoutMs = 200;
constexpr size_t kReceiveBufferSize = 64;
constexpr char kButtonEvent = 'e';
// A thread left from an earlier Start gets the same bound as a teardown gives it.
constexpr int kLeftOverWaitMs = 100000;

bool SetNonBlocking(int fd, bool nonBlocking) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0) return false;
    return fcntl(fd, F_SETFL, nonBlocking ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

// Connects the non-blocking socket within kConnectTimeoutMs. A refused or failed attempt
// also makes the socket writable, so the socket's own error decides.
bool ConnectWithin(int fd, const sockaddr_in& camera) {
    if (connect(fd, reinterpret_cast<const sockaddr*>(&camera), sizeof(camera)) == 0) return true;
    if (errno != EINPROGRESS && errno != EINTR) return false;
    pollfd waiting{fd, POLLOUT, 0};
    if (poll(&waiting, 1, kConnectTimeoutMs) != 1) return false;
    int error = 0;
    socklen_t length = sizeof(error);
    return getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
}

}  // namespace

CWifiDeviceProxy::~CWifiDeviceProxy() {
    // The thread uses this object, so it must end before the object does.
    running.store(0, std::memory_order_relaxed);
    if (thread_.joinable()) thread_.join();
}

void CWifiDeviceProxy::Start() {
    if (thread_.joinable()) Stop(kLeftOverWaitMs);
    running.store(1, std::memory_order_relaxed);
    std::packaged_task<int()> task([this] { return ControlChannelProc(this); });
    result_ = task.get_future();
    try {
        thread_ = std::thread(std::move(task));
    } catch (const std::system_error&) {
        running.store(0, std::memory_order_relaxed);
        result_ = {};
    }
}

void CWifiDeviceProxy::Stop(int waitMs) {
    running.store(0, std::memory_order_relaxed);
    if (!thread_.joinable()) return;
    if (result_.wait_for(std::chrono::milliseconds(waitMs)) == std::future_status::ready)
        thread_.join();
    else
        thread_.detach();  // it ends on its own at its next receive time-out
    result_ = {};
}

int ControlChannelProc(CWifiDeviceProxy* proxy) {
    if (proxy == nullptr) return 0;
    const sys::UniqueFd channel(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!channel.Valid()) return -1;
    const timeval receiveTimeout{0, kReceiveTimeoutMs * 1000};
    if (setsockopt(channel.Get(), SOL_SOCKET, SO_RCVTIMEO, &receiveTimeout,
                   sizeof(receiveTimeout)) != 0)
        return -1;
    sockaddr_in camera{};
    camera.sin_family = AF_INET;
    camera.sin_port = htons(kControlPort);
    camera.sin_addr.s_addr = htonl(CSettingParamManage::Instance()->GetCurrent().wifideviceip);
    if (!SetNonBlocking(channel.Get(), true)) return -1;
    if (!ConnectWithin(channel.Get(), camera)) return 0;
    if (!SetNonBlocking(channel.Get(), false)) return -1;

    while (proxy->running.load(std::memory_order_relaxed) != 0) {
        char buffer[kReceiveBufferSize];
        const ssize_t received = recv(channel.Get(), buffer, sizeof(buffer), 0);
        // Failures, the time-out among them, only let the loop look at the run flag again.
        if (received == 0) break;  // the camera closed the connection
        if (received == 1 && buffer[0] == kButtonEvent) {
            ICaptureOwner* window = proxy->owner.load(std::memory_order_relaxed);
            if (window != nullptr) window->TakePhoto().store(1, std::memory_order_relaxed);
        }
    }
    return 0;
}
