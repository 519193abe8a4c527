// What the wireless-camera delay measurements share: a settings store of their own with the
// built module registered in it, the simulator's log of when it sent each picture, and the
// picture counter read back from a delivered frame.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Stravo/tests/TempStore.h"
#include "platform/registry/Registry.h"
#include "tools/camsim/TestPattern.h"

extern char** environ;

namespace stravobench {

// The monotonic clock in nanoseconds, as the simulator's send log has it.
inline int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline std::string BinPath(const std::string& name) {
    const char* binDir = std::getenv("SKELVANE_BIN_DIR");
    return std::string(binDir != nullptr ? binDir : ".") + "/" + name;
}

// Runs a program with the process's environment; its exit status, or -1.
inline int RunProgram(std::vector<std::string> arguments, const std::string& output = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A store in a temporary folder, found by this process and by every program it starts, with
// the built module registered in it.
class RegisteredStore {
public:
    RegisteredStore() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "stravo-bench-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) return;
        root_ = pattern;
        setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
        unsetenv("XDG_RUNTIME_DIR");
        registry::SetStoreFolders((root_ / "Skelvane").string(), "");
        registered_ =
            RunProgram({BinPath("skelvane-regsvr"), BinPath("libStravo.so")}, "/dev/null") == 0;
    }
    ~RegisteredStore() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    RegisteredStore(const RegisteredStore&) = delete;
    RegisteredStore& operator=(const RegisteredStore&) = delete;

    bool Registered() const { return registered_; }
    const std::filesystem::path& Root() const { return root_; }

private:
    std::filesystem::path root_;
    bool registered_ = false;
};

// The simulator's send log: for each counter, when it was first sent (monotonic nanoseconds),
// and the last counter sent.
struct SendLog {
    std::map<uint32_t, int64_t> firstSent;
    uint32_t lastCounter = 0;
    int64_t lastSent = 0;
};

inline SendLog ReadSendLog(const std::filesystem::path& path) {
    SendLog log;
    std::ifstream file(path);
    uint32_t counter = 0;
    int64_t sent = 0;
    while (file >> counter >> sent) {
        log.firstSent.emplace(counter, sent);
        log.lastCounter = counter;
    }
    // A picture is sent again to a client that connects anew; what counts is the first time.
    if (!log.firstSent.empty()) log.lastSent = log.firstSent[log.lastCounter];
    return log;
}

// Whether a bottom-up 24-bit frame shows the simulator's picture, and the counter it shows.
inline bool ReadCounter(const uint8_t* frame, int width, int height, uint32_t& counter) {
    const int stride = (width * 3 + 3) & ~3;
    // The top-left quadrant is red; a black frame from before the first picture is not.
    const uint8_t* topLeft =
        frame + static_cast<long>(height - 1 - height / 8) * stride + (width / 8) * 3;
    if (topLeft[2] < 160 || topLeft[1] > 100 || topLeft[0] > 100) return false;
    counter = camsim::ReadFrameCounter(frame, width, height, stride, true);
    return true;
}

inline double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t index =
        std::min(values.size() - 1, static_cast<size_t>(fraction * (values.size() - 1) + 0.5));
    return values[index];
}

}  // namespace stravobench
