// The control channel against a button port served on a loopback address of each test's
// own: the tests of this binary may run side by side, and port 5000 is fixed.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "Skelvane/capture/SampleGrabberCB.h"
#include "Skelvane/capture/SavingLocation.h"
#include "Skelvane/capture/WifiDeviceProxy.h"
#include "Skelvane/capture/WindowEvents.h"
#include "Skelvane/capture/tests/CaptureTestSupport.h"
#include "Skelvane/settings/SettingParam.h"
#include "platform/sys/UniqueFd.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kButtonPort = 5000;
// Far more than any step needs on a loaded machine; only failures wait this long.
constexpr auto kPatience = 10s;
// Long enough for the channel to have read what was sent before.
constexpr auto kSettle = 500ms;

sockaddr_in ButtonAddress(const char* address) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(kButtonPort);
    inet_pton(AF_INET, address, &endpoint.sin_addr);
    return endpoint;
}

// The camera's side of the channel: listens on port 5000 of `address`.
class ButtonPort {
public:
    // `backlog` 0 with one connection waiting makes further attempts go unanswered.
    explicit ButtonPort(const char* address, int backlog = 4)
        : listener_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in endpoint = ButtonAddress(address);
        const int on = 1;
        setsockopt(listener_.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        listening_ = bind(listener_.Get(), reinterpret_cast<const sockaddr*>(&endpoint),
                          sizeof(endpoint)) == 0 &&
                     listen(listener_.Get(), backlog) == 0;
    }

    bool Listening() const { return listening_; }
    // Takes the next connection; false when none came within `timeout`.
    bool Accept(std::chrono::milliseconds timeout) {
        pollfd waiting{listener_.Get(), POLLIN, 0};
        if (poll(&waiting, 1, static_cast<int>(timeout.count())) != 1) return false;
        connection_.Reset(accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        return connection_.Valid();
    }
    bool Send(const std::string& bytes) {
        return send(connection_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    void CloseConnection() { connection_.Reset(); }

private:
    sys::UniqueFd listener_;
    sys::UniqueFd connection_;
    bool listening_ = false;
};

// A connection that only occupies the queue of a port (nobody accepts it).
sys::UniqueFd Occupy(const char* address) {
    sys::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in endpoint = ButtonAddress(address);
    if (connect(fd.Get(), reinterpret_cast<const sockaddr*>(&endpoint), sizeof(endpoint)) != 0)
        fd.Reset();
    return fd;
}

bool WaitUntil(const std::function<bool()>& condition) {
    const auto deadline = Clock::now() + kPatience;
    while (!condition()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

class WifiDeviceProxyTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        proxy_->owner = &owner_;
    }
    void TearDown() override {
        proxy_->Stop(1000);
        proxy_->owner = nullptr;
        previewGrabberCallback.owner = nullptr;
        CaptureTest::TearDown();
    }

    // The wireless camera's address in the current settings, as the settings dialog keeps it.
    static void UseCameraAddress(const char* address) {
        CSettingParam param = CSettingParamManage::Instance()->GetCurrent();
        in_addr parsed{};
        inet_pton(AF_INET, address, &parsed);
        param.wifideviceip = ntohl(parsed.s_addr);
        CSettingParamManage::Instance()->Apply(param);
    }

    // Starts the channel towards `port`, which it must reach.
    void Connect(const char* address, ButtonPort& port) {
        ASSERT_TRUE(port.Listening()) << address;
        UseCameraAddress(address);
        proxy_->Start();
        ASSERT_TRUE(port.Accept(kPatience)) << "the channel did not connect to " << address;
    }

    int32_t TakePhoto() const { return owner_.takePhoto.load(); }

    CWifiDeviceProxy* proxy_ = CWifiDeviceProxy::Instance();
    FakeOwner owner_;
};

TEST_F(WifiDeviceProxyTest, OneButtonEventBecomesOneStoredPhoto) {
    const char* address = "127.0.0.140";
    ButtonPort port(address);
    ASSERT_NO_FATAL_FAILURE(Connect(address, port));
    ASSERT_TRUE(CSavingLoactionManage::CreateMediaFolders());  // as the window's start does
    previewGrabberCallback.owner = &owner_;
    previewGrabberCallback.SetFrameSize(64, 48);
    TestFrame frame = TestFrame::Quadrants(64, 48);
    FrameBuffer buffer = frame.Buffer();

    ASSERT_TRUE(port.Send("e"));
    ASSERT_TRUE(WaitUntil([this] { return TakePhoto() == 1; }));
    // Frames before and after the one that serves the request.
    for (int i = 0; i < 3; ++i) previewGrabberCallback.BufferCB(0, buffer.data, buffer.length);

    EXPECT_EQ(TakePhoto(), 0);
    EXPECT_EQ(owner_.Events(), std::vector<int>{UM_PHOTO_SAVED});
    const std::vector<std::string> stored = Listing(SingleShots());
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(DecodeJpegFile(SingleShots() + "/" + stored[0]).width, 64);
    EXPECT_EQ(owner_.Revealed(), std::vector<std::string>{SingleShots() + "/" + stored[0]});
    EXPECT_TRUE(boxes_->Texts().empty());
}

TEST_F(WifiDeviceProxyTest, OnlyAReceiveOfExactlyOneLowerCaseEIsAnEvent) {
    const char* address = "127.0.0.141";
    ButtonPort port(address);
    ASSERT_NO_FATAL_FAILURE(Connect(address, port));
    // Each is sent in one write; the channel keeps listening after every one.
    const std::string ignored[] = {
        "ee", "E", "e\n", " e", std::string(64, 'e'), std::string(100, 'e'), std::string("\0", 1)};
    for (const std::string& bytes : ignored) {
        ASSERT_TRUE(port.Send(bytes));
        std::this_thread::sleep_for(kSettle);
        EXPECT_EQ(TakePhoto(), 0) << "after " << bytes.size() << " bytes \"" << bytes << "\"";
    }
    ASSERT_TRUE(port.Send("e"));
    EXPECT_TRUE(WaitUntil([this] { return TakePhoto() == 1; }));
    // Without an owner an event goes nowhere.
    proxy_->owner = nullptr;
    owner_.takePhoto = 0;
    std::this_thread::sleep_for(kSettle);
    ASSERT_TRUE(port.Send("e"));
    std::this_thread::sleep_for(kSettle);
    EXPECT_EQ(TakePhoto(), 0);
}

TEST_F(WifiDeviceProxyTest, NoCameraEndsTheChannelWithinTheConnectTimeWithoutAMessage) {
    // Nothing listens on the first address: the attempt is refused. The second one listens,
    // but its one-place queue is taken, so the attempt is never answered.
    const char* refusing = "127.0.0.142";
    const char* silent = "127.0.0.143";
    ButtonPort full(silent, 0);
    ASSERT_TRUE(full.Listening());
    const sys::UniqueFd waiting = Occupy(silent);
    ASSERT_TRUE(waiting.Valid());

    struct Case {
        const char* address;
        double leastSeconds;
    };
    for (const Case& c : {Case{refusing, 0.0}, Case{silent, 2.9}}) {
        UseCameraAddress(c.address);
        proxy_->running = 1;
        const auto start = Clock::now();
        auto result = std::async(std::launch::async, [this] { return ControlChannelProc(proxy_); });
        ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready) << c.address;
        const double seconds = SecondsSince(start);
        std::printf("no camera at %s: the channel ended after %.3f s\n", c.address, seconds);
        EXPECT_EQ(result.get(), 0) << c.address;
        EXPECT_GE(seconds, c.leastSeconds) << c.address;
        EXPECT_LT(seconds, 6.0) << c.address;
    }
    EXPECT_TRUE(boxes_->Texts().empty());
    EXPECT_EQ(TakePhoto(), 0);

    // Through Start the ended thread is still held, which tells the graph's failure text
    // that the wireless camera is in use, until Stop.
    UseCameraAddress(refusing);
    proxy_->Start();
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(proxy_->HasThread());
    proxy_->Stop(1000);
    EXPECT_FALSE(proxy_->HasThread());
}

TEST_F(WifiDeviceProxyTest, StopWhileListeningReturnsWithinTheReceiveTimeout) {
    const char* address = "127.0.0.144";
    ButtonPort port(address);
    ASSERT_NO_FATAL_FAILURE(Connect(address, port));
    std::this_thread::sleep_for(100ms);  // the channel now waits in a receive

    const auto start = Clock::now();
    proxy_->Stop(100000);
    const double seconds = SecondsSince(start);
    std::printf("Stop while listening took %.1f ms\n", seconds * 1000);
    EXPECT_LT(seconds, 1.0);
    EXPECT_FALSE(proxy_->HasThread());
    EXPECT_EQ(proxy_->running.load(), 0);
}

TEST_F(WifiDeviceProxyTest, AfterTheCameraClosedPressesWaitForTheNextStart) {
    const char* address = "127.0.0.145";
    ButtonPort port(address);
    ASSERT_TRUE(port.Listening());
    UseCameraAddress(address);

    // The thread itself ends when the camera closes the connection.
    proxy_->running = 1;
    auto result = std::async(std::launch::async, [this] { return ControlChannelProc(proxy_); });
    ASSERT_TRUE(port.Accept(kPatience));
    port.CloseConnection();
    ASSERT_EQ(result.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
    proxy_->running = 0;

    // A started channel does not connect again on its own once the camera closed.
    proxy_->Start();
    ASSERT_TRUE(port.Accept(kPatience));
    port.CloseConnection();
    EXPECT_FALSE(port.Accept(1s)) << "the channel connected again without a Start";
    EXPECT_EQ(TakePhoto(), 0);

    proxy_->Stop(1000);
    proxy_->Start();
    ASSERT_TRUE(port.Accept(kPatience));
    ASSERT_TRUE(port.Send("e"));
    EXPECT_TRUE(WaitUntil([this] { return TakePhoto() == 1; }));
}

}  // namespace
