#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/registry/RegFile.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("skelvane-reg-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        registry::SetStoreFolders((root_ / "config").string(), (root_ / "run").string());
    }
    void TearDown() override { fs::remove_all(root_); }

    HKEY Create(const char* path, DWORD options = REG_OPTION_NON_VOLATILE) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyEx(HKEY_CURRENT_USER, path, 0, nullptr, options, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    static LONG SetText(HKEY key, const char* name, const std::string& text) {
        return RegSetValueEx(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()),
                             static_cast<DWORD>(text.size()));
    }
    static std::string GetText(HKEY key, const char* name) {
        std::string buffer(64 * 1024, '\0');
        DWORD size = static_cast<DWORD>(buffer.size());
        if (RegQueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer.data()),
                            &size) != ERROR_SUCCESS)
            return "<missing>";
        buffer.resize(size);
        return buffer;
    }

    fs::path root_;
};

TEST_F(RegistryTest, KeysCompareWithoutCaseAndKeepTheirFirstSpelling) {
    HKEY created = Create("software\\Skelvane\\using\\timedShot");
    DWORD value = 0x1f;
    ASSERT_EQ(
        RegSetValueEx(created, "shotsvalue", 0, REG_DWORD, reinterpret_cast<BYTE*>(&value), 4),
        ERROR_SUCCESS);
    RegCloseKey(created);

    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "SOFTWARE\\skelvane\\USING\\timedshot", 0, KEY_READ,
                           &opened),
              ERROR_SUCCESS);
    DWORD read = 0, size = 4, type = 0;
    EXPECT_EQ(RegQueryValueEx(opened, "ShotsValue", nullptr, &type, reinterpret_cast<BYTE*>(&read),
                              &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(read, 0x1fu);
    RegCloseKey(opened);

    const std::string file = ReadFile(registry::HiveFilePath(HKEY_CURRENT_USER));
    EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    EXPECT_NE(file.find("[HKEY_CURRENT_USER\\software\\Skelvane\\using\\timedShot]\n"
                        "\"shotsvalue\"=dword:0000001f\n"),
              std::string::npos);
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\missing", 0, KEY_READ, &opened),
              ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, TextWithEscapesAndUnicodeSurvivesTheFile) {
    const std::string tricky = "C:\\Users\\\"me\"\\图片 @ 100%";
    HKEY key = Create("software\\Skelvane\\using\\system");
    ASSERT_EQ(SetText(key, "resourcespath", tricky), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "multi", "line one\nline two"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, nullptr, "default value"), ERROR_SUCCESS);
    RegCloseKey(key);
    // A new process view: forget the cache by pointing the store at the same folders again.
    registry::SetStoreFolders((root_ / "config").string(), (root_ / "run").string());
    key = Create("software\\Skelvane\\using\\system");
    EXPECT_EQ(GetText(key, "resourcespath"), tricky);
    EXPECT_EQ(GetText(key, "multi"), "line one\nline two");
    EXPECT_EQ(GetText(key, ""), "default value");
    const std::string file = ReadFile(registry::HiveFilePath(HKEY_CURRENT_USER));
    EXPECT_NE(file.find("\"resourcespath\"=\"C:\\\\Users\\\\\\\"me\\\"\\\\图片 @ 100%\""),
              std::string::npos);
    EXPECT_NE(file.find("@=\"default value\""), std::string::npos);
    RegCloseKey(key);
}

TEST_F(RegistryTest, QuerySizesEnumerationAndDeletion) {
    HKEY key = Create("software\\Skelvane\\default\\languages");
    ASSERT_EQ(SetText(key, "b", "12345"), ERROR_SUCCESS);
    ASSERT_EQ(SetText(key, "a", "x"), ERROR_SUCCESS);
    RegCloseKey(Create("software\\Skelvane\\default\\languages\\language1"));
    RegCloseKey(Create("software\\Skelvane\\default\\languages\\Language0"));

    DWORD size = 0, type = 0;
    EXPECT_EQ(RegQueryValueEx(key, "b", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 5u);
    BYTE small[3];
    size = sizeof(small);
    EXPECT_EQ(RegQueryValueEx(key, "b", nullptr, nullptr, small, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 5u);

    char name[32];
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        DWORD chars = sizeof(name);
        if (RegEnumKeyEx(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, chars);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Language0", "language1"}));
    names.clear();
    for (DWORD i = 0;; ++i) {
        DWORD chars = sizeof(name);
        if (RegEnumValue(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, chars);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"b", "a"}));

    EXPECT_EQ(RegDeleteValue(key, "B"), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValue(key, "b"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteTree(HKEY_CURRENT_USER, "software\\skelvane\\DEFAULT"), ERROR_SUCCESS);
    EXPECT_EQ(RegQueryValueEx(key, "a", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
    HKEY gone = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\Skelvane\\default", 0, KEY_READ, &gone),
              ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
}

TEST_F(RegistryTest, VolatileKeysLiveInTheRuntimeFile) {
    HKEY key = Create("Software\\GNU\\XviD", REG_OPTION_VOLATILE);
    DWORD zero = 0;
    ASSERT_EQ(RegSetValueEx(key, "display_status", 0, REG_DWORD, reinterpret_cast<BYTE*>(&zero), 4),
              ERROR_SUCCESS);
    HKEY child = nullptr;
    EXPECT_EQ(RegCreateKeyEx(key, "lasting", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                             nullptr, &child, nullptr),
              ERROR_CHILD_MUST_BE_VOLATILE);
    RegCloseKey(key);

    const std::string volatileFile = ReadFile(registry::VolatileFilePath(HKEY_CURRENT_USER));
    EXPECT_NE(volatileFile.find("[HKEY_CURRENT_USER\\Software\\GNU\\XviD]\n"
                                "\"display_status\"=dword:00000000"),
              std::string::npos);
    EXPECT_EQ(ReadFile(registry::HiveFilePath(HKEY_CURRENT_USER)).find("XviD"), std::string::npos);

    // The next boot empties the runtime folder: the key is gone, the rest stays.
    fs::remove_all(root_ / "run");
    HKEY opened = nullptr;
    EXPECT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "Software\\GNU\\XviD", 0, KEY_READ, &opened),
              ERROR_FILE_NOT_FOUND);
}

// A user who deletes the settings folder while logged in keeps the runtime file, which holds
// the volatile codec key below "Software". The settings made afterwards must last, not be
// refused or live in the runtime file and vanish at logout.
TEST_F(RegistryTest, SettingsMadeAfterTheSettingsFileWasDeletedLast) {
    RegCloseKey(Create("software\\Skelvane\\default"));
    RegCloseKey(Create("Software\\GNU\\XviD", REG_OPTION_VOLATILE));
    fs::remove(registry::HiveFilePath(HKEY_CURRENT_USER));
    HKEY key = Create("software\\Skelvane\\using\\system");
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(SetText(key, "language", "English"), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_NE(ReadFile(registry::HiveFilePath(HKEY_CURRENT_USER))
                  .find("\\Skelvane\\using\\system]\n\"language\"=\"English\""),
              std::string::npos);
    const std::string volatileFile = ReadFile(registry::VolatileFilePath(HKEY_CURRENT_USER));
    EXPECT_EQ(volatileFile.find("Skelvane"), std::string::npos);
    EXPECT_NE(volatileFile.find("\\GNU\\XviD]"), std::string::npos);
}

TEST_F(RegistryTest, ReaderInAnotherProcessNeverSeesHalfAFile) {
    const std::string a(20000, 'a'), b(30000, 'b');
    HKEY key = Create("software\\Skelvane\\using\\system");
    ASSERT_EQ(SetText(key, "resourcespath", a), ERROR_SUCCESS);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0; i < 300; ++i)
            if (SetText(key, "resourcespath", i % 2 ? a : b) != ERROR_SUCCESS) ::_exit(1);
        ::_exit(0);
    }
    int torn = 0;
    for (int i = 0; i < 600; ++i) {
        const std::string value = GetText(key, "resourcespath");
        if (value != a && value != b) ++torn;
        registry::RegKey parsed;
        if (!registry::ParseRegText(ReadFile(registry::HiveFilePath(HKEY_CURRENT_USER)),
                                    "HKEY_CURRENT_USER", parsed, false))
            ++torn;
    }
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(torn, 0);
    RegCloseKey(key);
}

TEST_F(RegistryTest, DamagedFileIsReadAsFarAsPossibleAndKeptBeforeRewrite) {
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\software\\Skelvane\\using\\system]\n"
        "\"moviesizemax\"=dword:00000020\n"
        "\"broken\"=dword:zz\n"
        "\"x\"=hex(11111111111111111):00\n"  // a type beyond 32 bits
        "garbage without quotes\n"
        "\"resourcespath\"=\"/home/me/Pictures\"\n"
        "[HKEY_CURRENT_USER\\software\\half\n";
    fs::create_directories(root_ / "config");
    const std::string hive = registry::HiveFilePath(HKEY_CURRENT_USER);
    std::ofstream(hive, std::ios::binary) << damaged;

    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CURRENT_USER, "software\\Skelvane\\using\\system", 0,
                           KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "resourcespath"), "/home/me/Pictures");
    DWORD number = 0, size = sizeof(number);
    EXPECT_EQ(RegQueryValueEx(key, "moviesizemax", nullptr, nullptr,
                              reinterpret_cast<BYTE*>(&number), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(number, 0x20u);
    EXPECT_EQ(RegQueryValueEx(key, "x", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(fs::exists(hive + ".bad"));  // reading alone changes nothing

    ASSERT_EQ(SetText(key, "language", "x"), ERROR_SUCCESS);
    EXPECT_EQ(ReadFile(hive + ".bad"), damaged);
    EXPECT_EQ(GetText(key, "resourcespath"), "/home/me/Pictures");
    RegCloseKey(key);
}

TEST_F(RegistryTest, ImportKeepsExistingValuesWhenAsked) {
    HKEY key = Create("software\\Skelvane\\default\\system");
    ASSERT_EQ(SetText(key, "resourcespath", "/mine"), ERROR_SUCCESS);
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\software\\Skelvane\\default\\system]\r\n"
        "\"resourcespath\"=\"default\"\r\n"
        "\"moviesizemax\"=dword:00000010\r\n"
        "[HKEY_CLASSES_ROOT\\CLSID\\{B5FF52FC-7EBA-46A9-B43D-C8B225269702}]\r\n"
        "\"FilterData\"=hex:02,00,\\\r\n  00,ff\r\n";
    ASSERT_EQ(registry::ImportRegText(text, true), ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "resourcespath"), "/mine");
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueEx(key, "moviesizemax", nullptr, nullptr, nullptr, &size),
              ERROR_SUCCESS);
    HKEY clsid = nullptr;
    ASSERT_EQ(RegOpenKeyEx(HKEY_CLASSES_ROOT, "clsid\\{b5ff52fc-7eba-46a9-b43d-c8b225269702}", 0,
                           KEY_READ, &clsid),
              ERROR_SUCCESS);
    BYTE data[8];
    DWORD type = 0;
    size = sizeof(data);
    ASSERT_EQ(RegQueryValueEx(clsid, "FilterData", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::vector<BYTE>(data, data + size), (std::vector<BYTE>{2, 0, 0, 0xff}));
    RegCloseKey(clsid);

    ASSERT_EQ(registry::ImportRegText(text, false), ERROR_SUCCESS);
    EXPECT_EQ(GetText(key, "resourcespath"), "default");
    EXPECT_EQ(registry::ImportRegText("[HKEY_LOCAL_MACHINE\\x]\n", false), ERROR_INVALID_PARAMETER);
    RegCloseKey(key);
}

TEST_F(RegistryTest, UnwritableStoreReportsTheSystemError) {
    fs::create_directories(root_);
    std::ofstream(root_ / "config") << "a file where the folder should be";
    HKEY key = nullptr;
    errno = 0;
    EXPECT_NE(RegCreateKeyEx(HKEY_CURRENT_USER, "Software\\GNU\\XviD", 0, nullptr,
                             REG_OPTION_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(errno, ENOTDIR);
    EXPECT_EQ(key, nullptr);
}

}  // namespace
