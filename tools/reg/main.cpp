// skelvane-reg: imports .reg text into the user's store and reads values back.
//   skelvane-reg import FILE       every key and value of FILE (existing values replaced)
//   skelvane-reg query KEY [NAME]  prints the values of KEY (HKEY_CURRENT_USER\... or
//                                  HKEY_CLASSES_ROOT\...), or the one named
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/registry/Registry.h"
#include "platform/sys/CommandLine.h"

namespace {

constexpr const char* kUsage = "Usage: skelvane-reg import FILE\n  or:  skelvane-reg query KEY [NAME]\n";

int Usage() {
    std::cerr << kUsage;
    return 2;
}

int Import(const char* path) {
    errno = 0;
    const LONG result = registry::ImportRegFile(path, false);
    if (result == ERROR_FILE_NOT_FOUND) {
        std::cerr << "skelvane-reg: cannot read " << path << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    if (result != ERROR_SUCCESS) {
        std::cerr << "skelvane-reg: import of " << path << " failed with code " << result << "\n";
        return 1;
    }
    std::cout << "imported " << path << " into " << registry::StoreFolder() << "\n";
    return 0;
}

void PrintValue(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    std::cout << (name.empty() ? "@" : name) << " = ";
    if (type == REG_DWORD && data.size() == 4) {
        const DWORD value = data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24;
        std::cout << value;
    } else if (type == REG_SZ) {
        std::cout << '"' << std::string(data.begin(), data.end()) << '"';
    } else {
        for (BYTE b : data) std::printf("%02x ", b);
    }
    std::cout << "\n";
}

int Query(const std::string& fullKey, const char* onlyName) {
    const size_t slash = fullKey.find('\\');
    const std::string rootName = fullKey.substr(0, slash);
    HKEY root = rootName == "HKEY_CURRENT_USER"   ? HKEY_CURRENT_USER
                : rootName == "HKEY_CLASSES_ROOT" ? HKEY_CLASSES_ROOT
                                                  : nullptr;
    if (root == nullptr) return Usage();
    HKEY key = nullptr;
    const std::string path = slash == std::string::npos ? "" : fullKey.substr(slash + 1);
    if (RegOpenKeyEx(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        std::cerr << "skelvane-reg: no key " << fullKey << "\n";
        return 1;
    }
    int status = onlyName != nullptr ? 1 : 0;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof(name), type = 0, dataSize = 0;
        if (RegEnumValue(key, index, name, &nameSize, nullptr, &type, nullptr, &dataSize) !=
            ERROR_SUCCESS)
            break;
        if (onlyName != nullptr && strcasecmp(onlyName, name) != 0) continue;
        std::vector<BYTE> data(dataSize);
        RegQueryValueEx(key, name, nullptr, &type, data.data(), &dataSize);
        PrintValue(name, type, data);
        status = 0;
    }
    RegCloseKey(key);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const int answered = sys::AnswerStandardOptions(
        argc, argv, "skelvane-reg",
        std::string("Imports .reg text into the user's settings store (existing values "
                    "replaced) and prints the values of a key.\n\n") +
            kUsage + "  or:  skelvane-reg --help | --version\n");
    if (answered >= 0) return answered;
    if (argc == 3 && std::strcmp(argv[1], "import") == 0) return Import(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "query") == 0)
        return Query(argv[2], argc == 4 ? argv[3] : nullptr);
    return Usage();
}
