#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/sys/Sys.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/TraceRecorder.h"

namespace {

TEST(LangIdTest, LocaleNamesMapToWindowsIdentifiers) {
    const struct {
        const char* locale;
        uint16_t langId;
    } cases[] = {
        {"en_US.UTF-8", 0x0409}, {"en_GB", 0x0809},       {"zh_CN.UTF-8", 0x0804},
        {"zh_SG", 0x1004},       {"zh_TW.Big5", 0x0404},  {"zh_HK", 0x0C04},
        {"de_DE@euro", 0x0407},  {"fr_FR.UTF-8", 0x040C}, {"ja_JP.eucJP", 0x0411},
        {"C", 0x0409},           {"POSIX", 0x0409},       {"", 0x0409},
        {"xx_YY", 0x0409},       {"de_LU", 0x0407},
    };
    for (const auto& c : cases) EXPECT_EQ(sys::LangIdOfLocaleName(c.locale), c.langId) << c.locale;
}

TEST(LangIdTest, FirstSetVariableWins) {
    setenv("LC_ALL", "", 1);
    setenv("LC_MESSAGES", "ja_JP.UTF-8", 1);
    setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(sys::UserDefaultLangId(), 0x0411);
    unsetenv("LC_MESSAGES");
    EXPECT_EQ(sys::UserDefaultLangId(), 0x0407);
    unsetenv("LANG");
    EXPECT_EQ(sys::UserDefaultLangId(), 0x0409);
}

TEST(DocumentsFolderTest, ReadsUserDirsAndFallsBack) {
    const auto root = std::filesystem::temp_directory_path() / "skelvane-sys-test";
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root / "config");
    setenv("HOME", root.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    EXPECT_EQ(sys::DocumentsFolder(), root.string() + "/Documents");

    std::ofstream(root / "config/user-dirs.dirs")
        << "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente/\"\n";
    EXPECT_EQ(sys::DocumentsFolder(), root.string() + "/Dokumente");
    std::filesystem::remove_all(root);
}

TEST(InstallFolderTest, IsTheExecutablesFolderWithSlash) {
    const std::string folder = sys::GetInstallFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// A build folder keeps data beside the program; an installed tree keeps it in ../share/...
TEST(InstallFolderTest, FolderHoldingPrefersBesideThenInstalledThenBeside) {
    const auto root = std::filesystem::temp_directory_path() / "skelvane-folder-holding";
    std::filesystem::remove_all(root);
    const std::string bin = (root / "bin").string() + "/";
    const std::string share = bin + "../share/skelvane/";
    struct Case {
        bool beside;
        bool installed;
        std::string expected;
    };
    for (const Case& c : {Case{true, false, bin}, Case{false, true, share},
                          Case{true, true, bin}, Case{false, false, bin}}) {
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "bin");
        std::filesystem::create_directories(root / "share/skelvane");
        if (c.beside) std::filesystem::create_directory(root / "bin/Resource");
        if (c.installed) std::filesystem::create_directory(root / "share/skelvane/Resource");
        EXPECT_EQ(sys::FolderHolding(bin, "Resource", "../share/skelvane"), c.expected)
            << "beside " << c.beside << ", installed " << c.installed;
    }
    std::filesystem::remove_all(root);
}

TEST(ClockTest, InjectedClocksReplaceTheSystemOnes) {
    int64_t now = 1000;
    sys::ClockSource injected;
    injected.currentTimeMs = [&] { return now; };
    injected.today = [] { return sys::Date{2026, 12, 9}; };
    const sys::ClockSource previous = sys::SetClockSource(injected);
    EXPECT_EQ(sys::CurrentTimeMs(), 1000);
    now = 61001;
    EXPECT_EQ(sys::CurrentTimeMs(), 61001);
    EXPECT_EQ(sys::Today(), (sys::Date{2026, 12, 9}));
    EXPECT_GT(sys::ProcessClockMs(), 0);  // not injected: the system's
    sys::SetClockSource(previous);
    EXPECT_GT(sys::CurrentTimeMs(), 1'700'000'000'000);
}

TEST(MessageBoxTest, GoesToTheInstalledPresenter) {
    support::ScopedRecordingPresenter boxes;
    boxes->SetAnswer(sys::IDCANCEL);
    EXPECT_EQ(sys::WarningBox("Disk full"), sys::IDCANCEL);
    const auto shown = boxes->Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "Lumivor");
    EXPECT_EQ(shown[0].text, "Disk full");
    EXPECT_EQ(shown[0].style, sys::MB_OK | sys::MB_ICONWARNING);
}

TEST(TraceTest, AnInstalledReceiverGetsEveryFormattedLine) {
    {
        support::TraceRecorder trace;
        EXPECT_TRUE(sys::DebugTraceEnabled());
        sys::DebugTraceF("open %s failed: %s", "/dev/video7", "No such device");
        sys::DebugTrace("plain line");
        EXPECT_EQ(trace.Lines(), (std::vector<std::string>{
                                     "open /dev/video7 failed: No such device", "plain line"}));
    }
    // Without a receiver the trace is off again, unless the environment asks for syslog.
    if (std::getenv("SKELVANE_TRACE") == nullptr) {
        EXPECT_FALSE(sys::DebugTraceEnabled());
    }
}

}  // namespace
