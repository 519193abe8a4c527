// What the capture benches that write files share: a folder of their own, and one core.
#pragma once

#include <sched.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

// A new folder under $SKELVANE_BENCH_DIR, else the system's temporary folder, removed with
// everything in it when the object goes. Path() is empty when it could not be made.
class BenchFolder {
public:
    explicit BenchFolder(const std::string& prefix) {
        const char* chosen = std::getenv("SKELVANE_BENCH_DIR");
        std::string pattern =
            (std::filesystem::path(chosen ? chosen
                                          : std::filesystem::temp_directory_path().string()) /
             (prefix + "-XXXXXX"))
                .string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~BenchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    BenchFolder(const BenchFolder&) = delete;
    BenchFolder& operator=(const BenchFolder&) = delete;

    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// Keeps the process on the core it runs on, so a figure "on one core" is one.
inline void PinToOneCore() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    sched_setaffinity(0, sizeof(one), &one);
}
