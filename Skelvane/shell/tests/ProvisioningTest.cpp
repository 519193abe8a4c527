#include "Skelvane/shell/Provisioning.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "platform/com/RegKey.h"
#include "platform/registry/Registry.h"

namespace fs = std::filesystem;

namespace {

const std::string kModule = std::string(SKELVANE_BIN_DIR) + "/libStravo.so";
const std::string kDefaults = std::string(SKELVANE_SOURCE_DIR) + "/Resource/DefaultSettings.reg";
const std::string kSystemKey = "software\\Skelvane\\default\\system";
const std::string kWifiInstance =
    "CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance\\wifi device";
const std::string kWifiClass = "{B5FF52FC-7EBA-46A9-B43D-C8B225269702}";
const std::string kWifiServer = "CLSID\\" + kWifiClass + "\\InprocServer32";

// A store of its own. The module keeps its own copy of the store code, which finds the
// store through the environment, so both are pointed at the same folders.
class ProvisioningTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() /
                ("skelvane-provisioning-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "config");
        fs::create_directories(root_ / "run");
        setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
        registry::SetStoreFolders((root_ / "config/Skelvane").string(),
                                  (root_ / "run/Skelvane").string());
    }
    void TearDown() override { fs::remove_all(root_); }

    static std::string Text(HKEY root, const std::string& path, const std::string& name) {
        com::RegKey key;
        std::string value;
        if (key.Open(root, path) != ERROR_SUCCESS || key.ReadText(name, value) != ERROR_SUCCESS)
            return "<none>";
        return value;
    }
    static void Write(HKEY root, const std::string& path, const std::string& name,
                      const std::string& value) {
        com::RegKey key;
        ASSERT_EQ(key.Create(root, path), ERROR_SUCCESS);
        ASSERT_EQ(key.WriteText(name, value), ERROR_SUCCESS);
    }

    fs::path root_;
};

TEST_F(ProvisioningTest, EmptyStoreGetsTheDefaultTreeAndTheModuleThenNothingMore) {
    const ProvisioningResult first = ProvisionUserStore(kDefaults, kModule);
    EXPECT_EQ(first.failure, "");
    EXPECT_TRUE(first.importedDefaults);
    EXPECT_TRUE(first.registeredModule);
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kSystemKey, "wifidevicename"), "wifi device");
    EXPECT_EQ(Text(HKEY_CURRENT_USER, "software\\Skelvane\\default\\about", "producename"),
              "Skelvane");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kWifiServer, ""), kModule);
    com::RegKey instance;
    EXPECT_EQ(instance.Open(HKEY_CLASSES_ROOT, kWifiInstance), ERROR_SUCCESS);

    const ProvisioningResult second = ProvisionUserStore(kDefaults, kModule);
    EXPECT_EQ(second.failure, "");
    EXPECT_FALSE(second.importedDefaults);
    EXPECT_FALSE(second.registeredModule);
}

TEST_F(ProvisioningTest, UsersOwnValuesAndRegistrationOfAnExistingFileElsewhereStay) {
    const fs::path own = root_ / "own/libStravo.so";
    fs::create_directories(own.parent_path());
    fs::copy_file(kModule, own);
    Write(HKEY_CURRENT_USER, kSystemKey, "wifidevicename", "wifi device");
    Write(HKEY_CURRENT_USER, kSystemKey, "resourcespath", "/home/someone/Pictures");
    Write(HKEY_CLASSES_ROOT, kWifiServer, "", own.string());
    Write(HKEY_CLASSES_ROOT, kWifiInstance, "FriendlyName", "wifi device");
    Write(HKEY_CLASSES_ROOT, kWifiInstance, "CLSID", kWifiClass);

    const ProvisioningResult result = ProvisionUserStore(kDefaults, kModule);
    EXPECT_EQ(result.failure, "");
    EXPECT_FALSE(result.importedDefaults);
    EXPECT_FALSE(result.registeredModule);
    EXPECT_EQ(Text(HKEY_CURRENT_USER, kSystemKey, "resourcespath"), "/home/someone/Pictures");
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kWifiServer, ""), own.string());
}

// A build folder registered and then deleted: the device could never be opened again.
TEST_F(ProvisioningTest, RegistrationOfADeletedModuleFileIsRepaired) {
    const fs::path build = root_ / "build/libStravo.so";
    fs::create_directories(build.parent_path());
    fs::copy_file(kModule, build);
    ASSERT_TRUE(ProvisionUserStore(kDefaults, build.string()).registeredModule);
    ASSERT_EQ(Text(HKEY_CLASSES_ROOT, kWifiServer, ""), build.string());
    fs::remove_all(build.parent_path());

    const ProvisioningResult result = ProvisionUserStore(kDefaults, kModule);
    EXPECT_EQ(result.failure, "");
    EXPECT_FALSE(result.importedDefaults);
    EXPECT_TRUE(result.registeredModule);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kWifiServer, ""), kModule);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kWifiInstance, "CLSID"), kWifiClass);
}

TEST_F(ProvisioningTest, MissingFilesAreReportedAndLeaveTheStoreAsItWas) {
    const ProvisioningResult noDefaults =
        ProvisionUserStore((root_ / "none.reg").string(), kModule);
    EXPECT_NE(noDefaults.failure.find((root_ / "none.reg").string()), std::string::npos)
        << noDefaults.failure;
    EXPECT_FALSE(noDefaults.registeredModule);
    EXPECT_EQ(Text(HKEY_CLASSES_ROOT, kWifiServer, ""), "<none>");

    const ProvisioningResult noModule =
        ProvisionUserStore(kDefaults, (root_ / "libNone.so").string());
    EXPECT_TRUE(noModule.importedDefaults);
    EXPECT_FALSE(noModule.registeredModule);
    EXPECT_NE(noModule.failure.find("cannot load"), std::string::npos) << noModule.failure;
}

}  // namespace
