// A new, empty folder under the system's temporary folder for a test or a benchmark to fill,
// removed with everything in it when the holder goes.
#pragma once

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

namespace support {

class TempFolder {
public:
    // Makes <temporary folder>/<prefix>-XXXXXX with a unique ending, so runs in parallel never
    // share a folder. Throws when it cannot, which fails the test that asked for it.
    explicit TempFolder(const std::string& prefix) {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            // Taken first: building the exception's strings may change errno.
            const std::error_code reason(errno, std::generic_category());
            throw std::filesystem::filesystem_error("cannot make a temporary folder", pattern,
                                                    reason);
        }
        path_ = pattern;
    }
    // Never throws: a test may already have removed the folder or made parts of it unreadable.
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& name) const {
        return path_ / name;
    }

private:
    std::filesystem::path path_;
};

}  // namespace support
