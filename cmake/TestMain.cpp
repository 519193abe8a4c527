// The main of every test binary: tests find the built program beside them, never need a
// display, and never reach a host outside 127.0.0.0/8.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<bool> testsRunning{false};

bool StaysOnThisMachine(const sockaddr* address, socklen_t length) {
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    // Local sockets, and AF_UNSPEC, which dissolves a datagram socket's association.
    return address->sa_family != AF_INET && address->sa_family != AF_INET6;
}

std::string Describe(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
        port = ntohs(v4->sin_port);
    } else {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
        port = ntohs(v6->sin6_port);
    }
    return std::string(text) + ":" + std::to_string(port);
}

}  // namespace

// Every connection a test process makes, from its own code or from the libraries it loads
// (the media libraries of the wireless camera's module among them), passes here: one that
// would leave the machine is refused and fails the running test.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    if (address != nullptr && !StaysOnThisMachine(address, length)) {
        const std::string target = Describe(address);
        std::fprintf(stderr, "REFUSED: connection to %s; tests reach only 127.0.0.0/8\n",
                     target.c_str());
        if (testsRunning.load()) {
            ADD_FAILURE() << "a connection to " << target
                          << " was attempted; tests reach only 127.0.0.0/8";
        }
        errno = ENETUNREACH;
        return -1;
    }
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static const auto next = reinterpret_cast<Connect>(dlsym(RTLD_NEXT, "connect"));
    return next(fd, address, length);
}

int main(int argc, char** argv) {
    setenv("SKELVANE_BIN_DIR", SKELVANE_BIN_DIR, 0);
    setenv("SKELVANE_SOURCE_DIR", SKELVANE_SOURCE_DIR, 0);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    testsRunning = true;
    const int result = RUN_ALL_TESTS();
    testsRunning = false;
    return result;
}
