#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/camsim/CamSimProcess.h"
#include "tools/camsim/TestPattern.h"

namespace {

using namespace std::chrono_literals;

constexpr const char* kAddress = "127.0.0.48";
constexpr int kPort = 18048;
constexpr size_t kMostBuffered = 4 << 20;

class Connection {
public:
    Connection(const char* address, int port) : fd_(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in endpoint{};
        endpoint.sin_family = AF_INET;
        endpoint.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, address, &endpoint.sin_addr);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&endpoint), sizeof(endpoint)) == 0;
    }
    ~Connection() { close(fd_); }

    bool Connected() const { return connected_; }
    bool Send(const std::string& text) {
        return send(fd_, text.data(), text.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(text.size());
    }
    // Reads until `text` holds at least `size` bytes; false on time-out or close.
    bool ReadUntilSize(std::string& text, size_t size) {
        char buffer[65536];
        while (text.size() < size) {
            pollfd waiting{fd_, POLLIN, 0};
            if (poll(&waiting, 1, 5000) <= 0) {
                return false;
            }
            ssize_t received = recv(fd_, buffer, sizeof(buffer), 0);
            if (received <= 0) {
                return false;
            }
            text.append(buffer, static_cast<size_t>(received));
        }
        return true;
    }
    // True when nothing arrives for `milliseconds` and the peer has not closed.
    bool Quiet(int milliseconds) {
        pollfd waiting{fd_, POLLIN, 0};
        return poll(&waiting, 1, milliseconds) == 0;
    }
    // True when the peer closes within `milliseconds`; what arrives before is dropped.
    bool ClosedWithin(int milliseconds) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        char buffer[65536];
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd waiting{fd_, POLLIN, 0};
            if (poll(&waiting, 1, 50) > 0 && recv(fd_, buffer, sizeof(buffer), 0) <= 0) {
                return true;
            }
        }
        return false;
    }
    bool ReadUntil(std::string& text, const std::string& marker, size_t from = 0) {
        while (text.find(marker, from) == std::string::npos) {
            if (text.size() > kMostBuffered || !ReadUntilSize(text, text.size() + 1)) {
                return false;
            }
        }
        return true;
    }

private:
    int fd_;
    bool connected_ = false;
};

// Reads one multipart part and returns its JPEG bytes; `text` keeps what follows.
std::string ReadPart(Connection& connection, std::string& text) {
    if (!connection.ReadUntil(text, "--boundarydonotcross") ||
        !connection.ReadUntil(text, "\r\n\r\n", text.find("--boundarydonotcross"))) {
        return {};
    }
    size_t partStart = text.find("--boundarydonotcross");
    size_t headEnd = text.find("\r\n\r\n", partStart) + 4;
    std::string head = text.substr(partStart, headEnd - partStart);
    EXPECT_NE(head.find("Content-Type: image/jpeg\r\n"), std::string::npos) << head;
    size_t lengthAt = head.find("Content-Length: ");
    if (lengthAt == std::string::npos) {
        ADD_FAILURE() << head;
        return {};
    }
    size_t length = std::stoul(head.substr(lengthAt + 16));
    if (!connection.ReadUntilSize(text, headEnd + length + 2)) {
        return {};
    }
    std::string jpeg = text.substr(headEnd, length);
    text.erase(0, headEnd + length + 2);
    return jpeg;
}

std::vector<uint8_t> DecodeRgb(const std::string& jpeg, int width, int height) {
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3);
    tjhandle decoder = tjInitDecompress();
    int result = tjDecompress2(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()),
                               jpeg.size(), rgb.data(), width, 0, height, TJPF_BGR, 0);
    tjDestroy(decoder);
    return result == 0 ? rgb : std::vector<uint8_t>{};
}

std::pair<int, int> SizeOf(const std::string& jpeg) {
    int width = 0, height = 0, subsampling = 0, colourspace = 0;
    tjhandle decoder = tjInitDecompress();
    tjDecompressHeader3(decoder, reinterpret_cast<const unsigned char*>(jpeg.data()), jpeg.size(),
                        &width, &height, &subsampling, &colourspace);
    tjDestroy(decoder);
    return {width, height};
}

void ExpectColour(const uint8_t* bgr, camsim::Rgb expected, const char* corner) {
    SCOPED_TRACE(corner);
    EXPECT_NEAR(bgr[0], expected.blue, 40);
    EXPECT_NEAR(bgr[1], expected.green, 40);
    EXPECT_NEAR(bgr[2], expected.red, 40);
}

TEST(CamSimTest, StreamsPacedPicturesToEveryClientAndPressesTheButtonForEveryListener) {
    CamSimProcess camera({"--address", kAddress, "--port", std::to_string(kPort), "--size",
                          "320x240", "--fps", "30"},
                         true);
    ASSERT_TRUE(camera.Ready());

    std::vector<std::unique_ptr<Connection>> viewers;
    std::vector<std::string> received(2);
    for (int i = 0; i < 2; ++i) {
        viewers.push_back(std::make_unique<Connection>(kAddress, kPort));
        ASSERT_TRUE(viewers[i]->Connected());
        ASSERT_TRUE(viewers[i]->Send("GET /?action=stream HTTP/1.1\r\nHost: camera\r\n\r\n"));
        ASSERT_TRUE(viewers[i]->ReadUntil(received[i], "\r\n\r\n"));
        std::string head = received[i].substr(0, received[i].find("\r\n\r\n"));
        EXPECT_EQ(head.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << head;
        EXPECT_NE(head.find("Content-Type: multipart/x-mixed-replace;boundary=boundarydonotcross"),
                  std::string::npos)
            << head;
    }

    // Both viewers are read in turn, so neither can run ahead on buffered pictures.
    auto started = std::chrono::steady_clock::now();
    std::vector<std::vector<uint32_t>> counters(2);
    for (int part = 0; part < 10; ++part) {
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            std::string jpeg = ReadPart(*viewers[i], received[i]);
            ASSERT_GE(jpeg.size(), 4u);
            std::vector<uint8_t> bgr = DecodeRgb(jpeg, 320, 240);
            ASSERT_FALSE(bgr.empty());
            const int stride = 320 * 3;
            ExpectColour(&bgr[2 * stride + 6], camsim::kTopLeftColour, "top left");
            ExpectColour(&bgr[2 * stride + 317 * 3], camsim::kTopRightColour, "top right");
            ExpectColour(&bgr[237 * stride + 6], camsim::kBottomLeftColour, "bottom left");
            ExpectColour(&bgr[237 * stride + 317 * 3], camsim::kBottomRightColour, "bottom right");
            counters[i].push_back(camsim::ReadFrameCounter(bgr.data(), 320, 240, stride, false));
        }
    }
    // Nine picture periods at 30 per second at the very least.
    EXPECT_GE(std::chrono::steady_clock::now() - started, 250ms);
    for (const std::vector<uint32_t>& seen : counters) {
        for (size_t k = 1; k < seen.size(); ++k) {
            EXPECT_EQ(seen[k], seen[k - 1] + 1);
        }
    }

    Connection first(kAddress, 5000);
    Connection second(kAddress, 5000);
    ASSERT_TRUE(first.Connected() && second.Connected());
    std::this_thread::sleep_for(300ms);  // let the simulator accept both
    ASSERT_TRUE(camera.PressButton());
    for (Connection* listener : {&first, &second}) {
        std::string press;
        ASSERT_TRUE(listener->ReadUntilSize(press, 1));
        EXPECT_EQ(press, "e");
    }

    EXPECT_EQ(camera.Stop(), 0) << "a clean exit with clients still connected";
}

TEST(CamSimTest, StopsSendingButKeepsTheConnectionAndLogsEveryPictureSent) {
    const std::string logPath =
        (std::filesystem::temp_directory_path() / ("camsim-sends-" + std::to_string(getpid())))
            .string();
    CamSimProcess camera({"--address", "127.0.0.77", "--port", "18077", "--size", "320x240",
                          "--stop-after", "1", "--send-log", logPath});
    ASSERT_TRUE(camera.Ready());
    Connection viewer("127.0.0.77", 18077);
    ASSERT_TRUE(viewer.Send("GET /?action=stream HTTP/1.1\r\n\r\n"));
    std::string text;
    std::vector<uint32_t> received;
    for (std::string jpeg = ReadPart(viewer, text); !jpeg.empty(); jpeg = ReadPart(viewer, text)) {
        std::vector<uint8_t> bgr = DecodeRgb(jpeg, 320, 240);
        ASSERT_FALSE(bgr.empty());
        received.push_back(camsim::ReadFrameCounter(bgr.data(), 320, 240, 320 * 3, false));
    }
    // The last read waited 5 s for a part that never came; the connection is still open.
    EXPECT_TRUE(viewer.Quiet(300));
    EXPECT_GE(received.size(), 5u);
    EXPECT_LE(received.size(), 60u) << "about one second of pictures at 30 per second";

    std::ifstream log(logPath);
    std::vector<uint32_t> logged;
    uint32_t counter = 0;
    long long sentAt = 0, previous = 0;
    while (log >> counter >> sentAt) {
        logged.push_back(counter);
        EXPECT_GE(sentAt, previous) << "monotonic nanoseconds";
        previous = sentAt;
    }
    EXPECT_EQ(logged, received);
    std::remove(logPath.c_str());
}

TEST(CamSimTest, DropClosesEveryStreamKeepsTheButtonAndServesNewConnections) {
    constexpr const char* kDropAddress = "127.0.0.50";
    constexpr int kDropPort = 18050;
    CamSimProcess camera({"--address", kDropAddress, "--port", std::to_string(kDropPort), "--size",
                          "320x240"},
                         true);
    ASSERT_TRUE(camera.Ready());
    auto streaming = [&] {
        auto viewer = std::make_unique<Connection>(kDropAddress, kDropPort);
        std::string text;
        EXPECT_TRUE(viewer->Send("GET /?action=stream HTTP/1.1\r\n\r\n"));
        EXPECT_FALSE(DecodeRgb(ReadPart(*viewer, text), 320, 240).empty());
        return viewer;
    };
    std::vector<std::unique_ptr<Connection>> viewers;
    viewers.push_back(streaming());
    viewers.push_back(streaming());
    Connection button(kDropAddress, 5000);
    ASSERT_TRUE(button.Connected());
    std::this_thread::sleep_for(300ms);  // let the simulator accept it

    ASSERT_TRUE(camera.DropStreams());
    for (const std::unique_ptr<Connection>& viewer : viewers) {
        EXPECT_TRUE(viewer->ClosedWithin(2000));
    }
    EXPECT_TRUE(button.Quiet(300)) << "a drop is no press and leaves the button channel open";
    streaming();
    ASSERT_TRUE(camera.PressButton());
    std::string press;
    ASSERT_TRUE(button.ReadUntilSize(press, 1));
    EXPECT_EQ(press, "e");
}

TEST(CamSimTest, PictureSizeOptions) {
    struct SizeCase {
        const char* name;
        std::vector<std::string> options;
        std::vector<std::pair<int, int>> expectedSizes;
    };
    const SizeCase cases[] = {
        {"alternate size for odd pictures",
         {"--size", "640x480", "--alternate-size", "320x240", "--fps", "0"},
         {{640, 480}, {320, 240}, {640, 480}}},
        {"plain picture of a huge size", {"--plain-size", "12000x12000"}, {{12000, 12000}}},
    };
    for (const SizeCase& sizeCase : cases) {
        SCOPED_TRACE(sizeCase.name);
        std::vector<std::string> arguments = {"--address", "127.0.0.78", "--port", "18078"};
        arguments.insert(arguments.end(), sizeCase.options.begin(), sizeCase.options.end());
        CamSimProcess camera(arguments);
        ASSERT_TRUE(camera.Ready());
        Connection viewer("127.0.0.78", 18078);
        ASSERT_TRUE(viewer.Send("GET /?action=stream HTTP/1.1\r\n\r\n"));
        std::string text;
        for (const std::pair<int, int>& expected : sizeCase.expectedSizes) {
            EXPECT_EQ(SizeOf(ReadPart(viewer, text)), expected);
        }
    }
}

TEST(CamSimTest, AnswersOtherRequestsWithNotFound) {
    CamSimProcess camera({"--address", "127.0.0.49", "--port", "18049"});
    ASSERT_TRUE(camera.Ready());
    Connection viewer("127.0.0.49", 18049);
    ASSERT_TRUE(viewer.Send("GET /index.html HTTP/1.1\r\n\r\n"));
    std::string answer;
    viewer.ReadUntil(answer, "\r\n");
    EXPECT_EQ(answer.rfind("HTTP/1.0 404", 0), 0u) << answer;
}

}  // namespace
