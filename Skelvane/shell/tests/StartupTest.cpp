#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "Skelvane/shell/LumivorApp.h"
#include "common/CRegistry.h"
#include "platform/registry/Registry.h"
#include "tests/support/RecordingPresenter.h"

extern char** environ;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("skelvane-startup-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "run");
        registry::SetStoreFolders((root_ / "config/Skelvane").string(),
                                  (root_ / "run/Skelvane").string());
    }
    void TearDown() override { fs::remove_all(root_); }

    fs::path root_;
    support::ScopedRecordingPresenter presenter_;
};

TEST_F(StartupTest, CodecStatusIsWrittenAsZeroUnderAVolatileKey) {
    {
        CRegistry key;
        ASSERT_TRUE(key.Create(HKEY_CURRENT_USER, "Software\\GNU\\XviD", true));
        ASSERT_TRUE(key.WriteDword("display_status", 7));
    }
    ASSERT_TRUE(CLumivorApp::PrepareCodec());
    CRegistry key;
    ASSERT_TRUE(key.Open(HKEY_CURRENT_USER, "software\\gnu\\xvid"));
    uint32_t status = 1;
    ASSERT_TRUE(key.ReadDword("display_status", status));
    EXPECT_EQ(status, 0u);
    EXPECT_TRUE(fs::exists(registry::VolatileFilePath(HKEY_CURRENT_USER)));
    EXPECT_FALSE(fs::exists(registry::HiveFilePath(HKEY_CURRENT_USER)));
    EXPECT_TRUE(presenter_->Texts().empty());
}

TEST_F(StartupTest, UnwritableCodecKeyShowsTheSystemErrorCode) {
    fs::remove_all(root_ / "run");
    std::ofstream(root_ / "run") << "not a folder";
    EXPECT_FALSE(CLumivorApp::PrepareCodec());
    ASSERT_EQ(presenter_->Texts().size(), 1u);
    EXPECT_EQ(presenter_->Texts()[0],
              "Fail to run application,because register xvid is error error code = " +
                  std::to_string(ENOTDIR));
}

std::string ProgramPath() { return std::string(std::getenv("SKELVANE_BIN_DIR")) + "/Skelvane"; }

// Runs the real program (or a link to it) with its own store and runtime folders.
pid_t StartProgram(const fs::path& root, const std::string& program = ProgramPath()) {
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen", "HOME=" + root.string(),
                                    "XDG_CONFIG_HOME=" + (root / "config").string(),
                                    "XDG_RUNTIME_DIR=" + (root / "run").string(),
                                    "LANG=en_US.UTF-8"};
    std::vector<char*> envp;
    for (auto& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) return -1;
    return pid;
}

// Waits up to `limit` for the process to end; returns its exit status or -1.
int WaitForExit(pid_t pid, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(20ms);
    }
    return -1;
}

TEST_F(StartupTest, SecondStartEndsQuicklyAndLeavesTheFirstRunning) {
    const pid_t first = StartProgram(root_);
    ASSERT_GT(first, 0);
    // The first is up once its socket listens and its codec key is written.
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < deadline &&
           !(fs::exists(root_ / "run/Skelvane.socket") &&
             fs::exists(root_ / "run/Skelvane/HKEY_CURRENT_USER.volatile.reg")))
        std::this_thread::sleep_for(50ms);
    std::this_thread::sleep_for(500ms);  // the window is built right after the codec key
    ASSERT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first instance ended early";

    // Started by its name or by the lower-case command installed beside it: one program.
    fs::create_symlink(ProgramPath(), root_ / "skelvane");
    for (const std::string& program : {ProgramPath(), (root_ / "skelvane").string()}) {
        const auto started = std::chrono::steady_clock::now();
        const pid_t second = StartProgram(root_, program);
        ASSERT_GT(second, 0);
        const int status = WaitForExit(second, 10s);
        EXPECT_EQ(status, 0) << program;
        EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << program;
        if (status != 0) ::kill(second, SIGKILL), ::waitpid(second, nullptr, 0);
    }

    EXPECT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first instance was disturbed";
    ::kill(first, SIGKILL);
    ::waitpid(first, nullptr, 0);
}

}  // namespace
