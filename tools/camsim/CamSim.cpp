// skelvane-camsim: a stand-in for the wireless camera. Serves a Motion-JPEG test picture at
// http://ADDRESS:PORT/?action=stream and reports button presses on TCP port 5000 of the same
// address by sending one byte 'e' to every connected client. Options make it misbehave as
// cameras may (stop sending, change the picture size, send a huge picture) and log when each
// picture was sent, so a viewer's delay can be measured.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/sys/CommandLine.h"
#include "tools/camsim/TestPicture.h"

namespace {

constexpr int kButtonPort = 5000;
constexpr const char* kBoundary = "boundarydonotcross";
// Unpaced streams cycle through this many pictures encoded ahead, so encoding does not
// limit the rate.
constexpr uint32_t kUnpacedPictureCount = 256;
constexpr int kRequestTimeoutMs = 5000;

struct Options {
    std::string address = "127.0.0.1";
    int port = 8080;
    int width = 640;
    int height = 480;
    double fps = 30;
    double buttonEvery = 0;
    camsim::Pattern pattern = camsim::Pattern::kQuadrants;
    double stopAfter = 0;  // seconds after start when sending stops; 0: never
    std::string sendLog;
    std::string clientLog;
    int alternateWidth = 0;  // odd pictures have this size when set
    int alternateHeight = 0;
    int plainWidth = 0;  // when set, a plain grey picture of this size is sent instead
    int plainHeight = 0;
};

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    char byte = 1;
    ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
}

std::string UsageText() {
    char text[2048];
    snprintf(text, sizeof(text),
             "Usage: skelvane-camsim [--address A] [--port P] [--size WxH] [--fps N]\n"
             "                       [--button-every SECONDS] [--pattern quadrants|detail]\n"
             "                       [--stop-after SECONDS] [--send-log FILE]\n"
             "                       [--alternate-size WxH] [--plain-size WxH]\n"
             "                       [--client-log FILE]\n"
             "  --fps 0 sends pictures as fast as each client takes them (counter modulo %u)\n"
             "  --stop-after: no picture is sent after that many seconds; connections stay open\n"
             "  --send-log: one line per picture sent, \"COUNTER NANOSECONDS\" on the monotonic\n"
             "              clock, taken as the picture starts on its way\n"
             "  --alternate-size: every odd picture has that size instead\n"
             "  --client-log: one line each time the number of stream connections changes,\n"
             "                \"COUNT NANOSECONDS\" on the monotonic clock\n"
             "  --plain-size: a plain grey picture of that size, up to 65535x65535, instead of\n"
             "                the test picture (no counter)\n"
             "  a line \"drop\" on standard input closes every stream connection (as a camera\n"
             "  leaving the network does; new connections are served); any other line presses\n"
             "  the button once\n"
             "  --help, --version: this text, the version\n",
             kUnpacedPictureCount);
    return text;
}

bool ParseSize(const char* text, int& width, int& height) {
    return sscanf(text, "%dx%d", &width, &height) == 2 && width >= 64 && height >= 32 &&
           width <= 8192 && height <= 8192;
}

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        char* end = nullptr;
        if (name == "--address") {
            in_addr ignored{};
            if (inet_pton(AF_INET, value, &ignored) != 1) {
                return false;
            }
            options.address = value;
        } else if (name == "--port") {
            options.port = static_cast<int>(strtol(value, &end, 10));
            if (*end != '\0' || options.port <= 0 || options.port > 65535) {
                return false;
            }
        } else if (name == "--size") {
            if (!ParseSize(value, options.width, options.height)) {
                return false;
            }
        } else if (name == "--alternate-size") {
            if (!ParseSize(value, options.alternateWidth, options.alternateHeight)) {
                return false;
            }
        } else if (name == "--plain-size") {
            // Any size a JPEG can state.
            if (sscanf(value, "%dx%d", &options.plainWidth, &options.plainHeight) != 2 ||
                options.plainWidth < 1 || options.plainHeight < 1 || options.plainWidth > 65535 ||
                options.plainHeight > 65535) {
                return false;
            }
        } else if (name == "--stop-after") {
            options.stopAfter = strtod(value, &end);
            if (*end != '\0' || options.stopAfter <= 0) {
                return false;
            }
        } else if (name == "--send-log") {
            options.sendLog = value;
        } else if (name == "--client-log") {
            options.clientLog = value;
        } else if (name == "--fps") {
            options.fps = strtod(value, &end);
            if (*end != '\0' || options.fps < 0) {
                return false;
            }
        } else if (name == "--button-every") {
            options.buttonEvery = strtod(value, &end);
            if (*end != '\0' || options.buttonEvery < 0) {
                return false;
            }
        } else if (name == "--pattern") {
            if (strcmp(value, "quadrants") == 0) {
                options.pattern = camsim::Pattern::kQuadrants;
            } else if (strcmp(value, "detail") == 0) {
                options.pattern = camsim::Pattern::kDetail;
            } else {
                return false;
            }
        } else {
            return false;
        }
    }
    return true;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int Get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

int Listen(const std::string& address, int port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, address.c_str(), &endpoint.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&endpoint), sizeof(endpoint)) != 0 ||
        listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

using Jpeg = std::shared_ptr<const std::string>;
using Clock = std::chrono::steady_clock;

// Lines of a number and the monotonic clock in nanoseconds, which other processes on the
// machine read alike: each picture's counter as it is sent, or the number of stream
// connections as it changes.
class TimedLog {
public:
    bool Open(const std::string& path) {
        file_ = fopen(path.c_str(), "w");
        return file_ != nullptr;
    }
    ~TimedLog() {
        if (file_ != nullptr) {
            fclose(file_);
        }
    }
    void Record(uint32_t value) {
        if (file_ == nullptr) {
            return;
        }
        const long long nanoseconds =
            std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
                .count();
        std::lock_guard<std::mutex> guard(lock_);
        fprintf(file_, "%u %lld\n", value, nanoseconds);
        fflush(file_);
    }

private:
    FILE* file_ = nullptr;
    std::mutex lock_;
};

// Hands the current picture to every client: paced pictures come from a producer thread at
// the frame rate; unpaced ones from a ring encoded ahead.
class PictureSource {
public:
    PictureSource(const Options& options, std::atomic<bool>& stopping)
        : options_(options),
          stopping_(stopping),
          picture_(options.width, options.height, options.pattern) {
        if (options.alternateWidth > 0) {
            alternate_ = std::make_unique<camsim::TestPicture>(
                options.alternateWidth, options.alternateHeight, options.pattern);
        }
    }

    ~PictureSource() {
        changed_.notify_all();
        if (producer_.joinable()) {
            producer_.join();
        }
    }

    bool Start() {
        if (options_.plainWidth > 0) {
            plain_ = std::make_shared<const std::string>(
                camsim::EncodePlain(options_.plainWidth, options_.plainHeight));
        }
        stopAt_ = options_.stopAfter > 0
                      ? Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(options_.stopAfter))
                      : Clock::time_point::max();
        if (options_.fps == 0) {
            for (uint32_t i = 0; i < kUnpacedPictureCount; ++i) {
                Jpeg jpeg = Encode(i);
                if (jpeg->empty()) {
                    return false;
                }
                ring_.push_back(jpeg);
            }
            return true;
        }
        if (Encode(0)->empty()) {
            return false;
        }
        producer_ = std::thread(&PictureSource::Produce, this);
        return true;
    }

    // The picture after `sequence` and the counter it shows; waits for it when paced. Null
    // when stopping.
    Jpeg Next(uint64_t& sequence, uint32_t& counter) {
        if (!ring_.empty()) {
            if (Clock::now() >= stopAt_) {
                WaitForStop();
            }
            if (stopping_) {
                return nullptr;
            }
            counter = static_cast<uint32_t>(sequence % ring_.size());
            return ring_[sequence++ % ring_.size()];
        }
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] {
            return stopping_ ||
                   (current_ && currentSequence_ >= sequence && Clock::now() < stopAt_);
        });
        if (stopping_) {
            return nullptr;
        }
        counter = static_cast<uint32_t>(currentSequence_);
        sequence = currentSequence_ + 1;
        return current_;
    }

    void Wake() {
        // Taking the lock first means no waiter can miss the stop between test and wait.
        { std::lock_guard<std::mutex> guard(lock_); }
        changed_.notify_all();
    }

private:
    Jpeg Encode(uint32_t counter) {
        if (plain_) {
            return plain_;
        }
        camsim::TestPicture& picture = alternate_ && counter % 2 == 1 ? *alternate_ : picture_;
        return std::make_shared<const std::string>(picture.Encode(counter));
    }

    void WaitForStop() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return stopping_.load(); });
    }

    void Produce() {
        auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / options_.fps));
        auto due = Clock::now();
        for (uint32_t counter = 0; !stopping_ && Clock::now() < stopAt_; ++counter) {
            Jpeg jpeg = Encode(counter);
            {
                std::lock_guard<std::mutex> guard(lock_);
                current_ = jpeg;
                currentSequence_ = counter;
            }
            changed_.notify_all();
            due += period;
            std::unique_lock<std::mutex> guard(lock_);
            changed_.wait_until(guard, due, [&] { return stopping_.load(); });
        }
    }

    const Options& options_;
    std::atomic<bool>& stopping_;
    camsim::TestPicture picture_;
    std::unique_ptr<camsim::TestPicture> alternate_;
    Jpeg plain_;
    Clock::time_point stopAt_;
    std::vector<Jpeg> ring_;
    std::thread producer_;
    std::mutex lock_;
    std::condition_variable changed_;
    Jpeg current_;
    uint64_t currentSequence_ = 0;
};

// Reads the request head; returns its first line, or "" on time-out or a closed connection.
std::string ReadRequestLine(int fd) {
    std::string head;
    char buffer[1024];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 8192) {
        pollfd waiting{fd, POLLIN, 0};
        if (poll(&waiting, 1, kRequestTimeoutMs) <= 0) {
            return {};
        }
        ssize_t received = recv(fd, buffer, sizeof(buffer), 0);
        if (received <= 0) {
            return {};
        }
        head.append(buffer, static_cast<size_t>(received));
    }
    return head.substr(0, head.find("\r\n"));
}

void ServeClient(int fd, PictureSource& source, TimedLog& log, std::atomic<bool>& stopping) {
    std::string requestLine = ReadRequestLine(fd);
    if (requestLine.rfind("GET /?action=stream ", 0) != 0) {
        const char* notFound =
            "HTTP/1.0 404 Not Found\r\nContent-Type: text/plain\r\nContent-Length: 10\r\n"
            "Connection: close\r\n\r\nnot found\n";
        if (!requestLine.empty()) {
            SendAll(fd, notFound, strlen(notFound));
        }
        return;
    }
    std::string head = std::string(
                           "HTTP/1.0 200 OK\r\n"
                           "Connection: close\r\n"
                           "Cache-Control: no-store, no-cache, must-revalidate\r\n"
                           "Pragma: no-cache\r\n"
                           "Content-Type: multipart/x-mixed-replace;boundary=") +
                       kBoundary + "\r\n\r\n";
    if (!SendAll(fd, head.data(), head.size())) {
        return;
    }
    uint64_t sequence = 0;
    while (!stopping) {
        uint32_t counter = 0;
        Jpeg jpeg = source.Next(sequence, counter);
        if (!jpeg) {
            return;
        }
        log.Record(counter);
        char partHead[160];
        int partHeadSize =
            snprintf(partHead, sizeof(partHead),
                     "--%s\r\nContent-Type: image/jpeg\r\nContent-Length: %zu\r\n\r\n", kBoundary,
                     jpeg->size());
        if (!SendAll(fd, partHead, static_cast<size_t>(partHeadSize)) ||
            !SendAll(fd, jpeg->data(), jpeg->size()) || !SendAll(fd, "\r\n", 2)) {
            return;
        }
    }
}

struct StreamClient {
    int fd;
    std::thread thread;
    std::atomic<bool> finished{false};
};

}  // namespace

int main(int argc, char** argv) {
    const int answered = sys::AnswerStandardOptions(
        argc, argv, "skelvane-camsim",
        "Simulates the wireless camera on this machine: a picture stream and its button.\n\n" +
            UsageText());
    if (answered >= 0) return answered;
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fputs(UsageText().c_str(), stderr);
        return 2;
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        perror("skelvane-camsim: pipe");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    FileDescriptor streamListener(Listen(options.address, options.port));
    if (streamListener.Get() < 0) {
        fprintf(stderr, "skelvane-camsim: cannot listen on %s:%d: %s\n", options.address.c_str(),
                options.port, strerror(errno));
        return 1;
    }
    FileDescriptor buttonListener(Listen(options.address, kButtonPort));
    if (buttonListener.Get() < 0) {
        fprintf(stderr, "skelvane-camsim: cannot listen on %s:%d: %s\n", options.address.c_str(),
                kButtonPort, strerror(errno));
        return 1;
    }

    TimedLog sendLog, clientLog;
    for (auto [log, path] :
         {std::pair{&sendLog, &options.sendLog}, {&clientLog, &options.clientLog}}) {
        if (!path->empty() && !log->Open(*path)) {
            fprintf(stderr, "skelvane-camsim: cannot write %s: %s\n", path->c_str(),
                    strerror(errno));
            return 1;
        }
    }
    std::atomic<bool> stopping{false};
    std::list<StreamClient> streamClients;
    std::vector<int> buttonClients;
    {
        PictureSource source(options, stopping);
        if (!source.Start()) {
            fprintf(stderr, "skelvane-camsim: cannot encode the test picture\n");
            return 1;
        }
        printf(
            "skelvane-camsim ready: http://%s:%d/?action=stream, button on %s:%d, %dx%d, %g fps\n",
            options.address.c_str(), options.port, options.address.c_str(), kButtonPort,
            options.plainWidth > 0 ? options.plainWidth : options.width,
            options.plainWidth > 0 ? options.plainHeight : options.height, options.fps);
        fflush(stdout);

        auto pressButton = [&buttonClients] {
            for (auto it = buttonClients.begin(); it != buttonClients.end();) {
                if (send(*it, "e", 1, MSG_NOSIGNAL | MSG_DONTWAIT) != 1) {
                    close(*it);
                    it = buttonClients.erase(it);
                } else {
                    ++it;
                }
            }
        };
        bool stdinOpen = true;
        std::string stdinLine;
        auto nextPress = std::chrono::steady_clock::now() +
                         std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                             std::chrono::duration<double>(options.buttonEvery));
        while (true) {
            std::vector<pollfd> waiting = {{signalPipe[0], POLLIN, 0},
                                           {streamListener.Get(), POLLIN, 0},
                                           {buttonListener.Get(), POLLIN, 0},
                                           {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
            for (int fd : buttonClients) {
                waiting.push_back({fd, POLLIN, 0});
            }
            int timeoutMs = 200;
            if (options.buttonEvery > 0) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                nextPress - std::chrono::steady_clock::now())
                                .count();
                timeoutMs = static_cast<int>(std::clamp<long>(left, 0, 200));
            }
            poll(waiting.data(), waiting.size(), timeoutMs);
            if (waiting[0].revents != 0) {
                break;
            }
            if (waiting[1].revents & POLLIN) {
                int fd = accept4(streamListener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    StreamClient& client = streamClients.emplace_back();
                    client.fd = fd;
                    client.thread = std::thread([&client, &source, &sendLog, &stopping] {
                        ServeClient(client.fd, source, sendLog, stopping);
                        client.finished = true;
                    });
                    clientLog.Record(static_cast<uint32_t>(streamClients.size()));
                }
            }
            if (waiting[2].revents & POLLIN) {
                int fd = accept4(buttonListener.Get(), nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    buttonClients.push_back(fd);
                }
            }
            if (waiting[3].revents != 0) {
                char buffer[256];
                ssize_t received = read(STDIN_FILENO, buffer, sizeof(buffer));
                if (received <= 0) {
                    stdinOpen = false;
                } else {
                    for (ssize_t i = 0; i < received; ++i) {
                        if (buffer[i] != '\n') {
                            if (stdinLine.size() < 64) stdinLine.push_back(buffer[i]);
                            continue;
                        }
                        if (stdinLine == "drop") {
                            // The serving threads see their next send fail, end and are
                            // reaped below.
                            for (StreamClient& client : streamClients) {
                                shutdown(client.fd, SHUT_RDWR);
                            }
                        } else {
                            pressButton();
                        }
                        stdinLine.clear();
                    }
                }
            }
            // A button client that closed or sent something: closed ones are dropped.
            for (size_t i = 4; i < waiting.size(); ++i) {
                if (waiting[i].revents == 0) {
                    continue;
                }
                char ignored[64];
                if (recv(waiting[i].fd, ignored, sizeof(ignored), MSG_DONTWAIT) <= 0) {
                    close(waiting[i].fd);
                    std::erase(buttonClients, waiting[i].fd);
                }
            }
            if (options.buttonEvery > 0 && std::chrono::steady_clock::now() >= nextPress) {
                pressButton();
                nextPress += std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                    std::chrono::duration<double>(options.buttonEvery));
            }
            for (auto it = streamClients.begin(); it != streamClients.end();) {
                if (it->finished) {
                    it->thread.join();
                    close(it->fd);
                    it = streamClients.erase(it);
                    clientLog.Record(static_cast<uint32_t>(streamClients.size()));
                } else {
                    ++it;
                }
            }
        }

        stopping = true;
        source.Wake();
        for (StreamClient& client : streamClients) {
            shutdown(client.fd, SHUT_RDWR);
        }
        for (StreamClient& client : streamClients) {
            client.thread.join();
            close(client.fd);
        }
    }
    for (int fd : buttonClients) {
        close(fd);
    }
    return 0;
}
