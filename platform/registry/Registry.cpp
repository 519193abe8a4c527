#include "platform/registry/Registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "platform/registry/RegFile.h"

struct RegKeyHandle {
    int root;                       // index into the hive table
    std::vector<std::string> path;  // components below the root
};

namespace registry {

namespace {

namespace fs = std::filesystem;

// What identifies one version of a file: writers replace files by rename, so a new
// version always has a new inode.
struct FileStamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    bool operator==(const FileStamp&) const = default;
};

FileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
    return FileStamp{info.st_dev, info.st_ino, info.st_size};
}

struct Hive {
    Hive(const char* hiveName, bool withVolatileFile)
        : name(hiveName), hasVolatileFile(withVolatileFile) {}
    const char* name;
    bool hasVolatileFile;
    std::unique_ptr<RegKey> tree = std::make_unique<RegKey>();
    bool loaded = false;
    FileStamp persistentStamp;
    FileStamp volatileStamp;
    std::string volatileInMemory;  // the volatile part when there is no runtime folder
};

struct Store {
    std::mutex lock;
    std::string configFolder;
    std::string runtimeFolder;
    bool foldersChosen = false;
    Hive hives[2] = {{"HKEY_CLASSES_ROOT", false}, {"HKEY_CURRENT_USER", true}};
};

Store& TheStore() {
    static Store store;
    return store;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void ChooseDefaultFolders(Store& store) {
    if (store.foldersChosen) return;
    std::string config = Env("XDG_CONFIG_HOME");
    if (config.empty()) config = Env("HOME") + "/.config";
    store.configFolder = config + "/Skelvane";
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    store.runtimeFolder = runtime.empty() ? std::string() : runtime + "/Skelvane";
    store.foldersChosen = true;
}

int RootIndex(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return 0;
    if (key == HKEY_CURRENT_USER) return 1;
    return -1;
}

std::string PersistentPath(const Store& store, const Hive& hive) {
    return store.configFolder + "/" + hive.name + ".reg";
}

std::string VolatilePath(const Store& store, const Hive& hive) {
    if (!hive.hasVolatileFile || store.runtimeFolder.empty()) return {};
    return store.runtimeFolder + "/" + hive.name + ".volatile.reg";
}

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

// Parses the files into a fresh tree. Returns whether the persistent file was intact.
bool LoadHive(const Store& store, Hive& hive) {
    auto tree = std::make_unique<RegKey>();
    const std::string persistentPath = PersistentPath(store, hive);
    const std::string volatilePath = VolatilePath(store, hive);
    // Stamps are taken before reading, so a version written meanwhile is read again later.
    hive.persistentStamp = StampOf(persistentPath);
    hive.volatileStamp = StampOf(volatilePath);
    std::string text;
    bool intact = true;
    if (ReadWholeFile(persistentPath, text)) intact = ParseRegText(text, hive.name, *tree, false);
    if (!volatilePath.empty()) {
        if (ReadWholeFile(volatilePath, text)) ParseRegText(text, hive.name, *tree, true);
    } else if (!hive.volatileInMemory.empty()) {
        ParseRegText(hive.volatileInMemory, hive.name, *tree, true);
    }
    hive.tree = std::move(tree);
    hive.loaded = true;
    return intact;
}

void RefreshHive(const Store& store, Hive& hive) {
    if (!hive.loaded || hive.persistentStamp != StampOf(PersistentPath(store, hive)) ||
        hive.volatileStamp != StampOf(VolatilePath(store, hive)))
        LoadHive(store, hive);
}

LONG ErrorOfErrno(int error) {
    return error == EACCES || error == EPERM || error == EROFS ? ERROR_ACCESS_DENIED
                                                               : ERROR_WRITE_FAULT;
}

// Failed file operations leave errno at the failing call's value for the caller to report.
LONG FailWithErrno() {
    const int error = errno;
    const LONG result = ErrorOfErrno(error);
    errno = error;
    return result;
}

bool EnsureFolder(const std::string& folder) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return false;
    if (!S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// Writes the file through a temporary file in the same folder, synced, then renamed over
// the old one, so a reader sees the old file or the new one and never a part.
LONG ReplaceFile(const std::string& path, const std::string& text) {
    std::ostringstream temporaryName;
    temporaryName << path << ".tmp." << ::getpid() << "." << std::this_thread::get_id();
    const std::string temporary = temporaryName.str();
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return FailWithErrno();
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            const LONG result = FailWithErrno();
            ::close(fd);
            ::unlink(temporary.c_str());
            return result;
        }
        written += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const LONG result = FailWithErrno();
        ::unlink(temporary.c_str());
        return result;
    }
    return ERROR_SUCCESS;
}

// Keeps a copy of a damaged file before its first rewrite, under a name not yet used.
void KeepDamagedCopy(const std::string& path) {
    std::error_code ignored;  // a copy that cannot be made must not stop the write
    std::string backup = path + ".bad";
    for (int n = 1; fs::exists(backup, ignored) && n < 1000; ++n)
        backup = path + ".bad." + std::to_string(n);
    fs::copy_file(path, backup, fs::copy_options::skip_existing, ignored);
}

// RAII for the cross-process write lock of one hive.
class WriteLock {
public:
    explicit WriteLock(const std::string& lockPath) {
        fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~WriteLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// Runs `change` on a freshly read tree under the cross-process lock and stores the
// result. `change` returns ERROR_SUCCESS to have the files written.
LONG ModifyHive(int rootIndex, const std::function<LONG(RegKey&)>& change) {
    Store& store = TheStore();
    Hive& hive = store.hives[rootIndex];
    if (!EnsureFolder(store.configFolder)) return FailWithErrno();
    const std::string persistentPath = PersistentPath(store, hive);
    WriteLock lock(persistentPath + ".lock");
    if (!lock.Held()) return FailWithErrno();
    const bool intact = LoadHive(store, hive);
    const std::string oldPersistent = SerializeRegText(*hive.tree, hive.name, false);
    const std::string oldVolatile = SerializeRegText(*hive.tree, hive.name, true);
    const LONG result = change(*hive.tree);
    if (result != ERROR_SUCCESS) {
        LoadHive(store, hive);
        return result;
    }
    const std::string newPersistent = SerializeRegText(*hive.tree, hive.name, false);
    const std::string newVolatile = SerializeRegText(*hive.tree, hive.name, true);
    LONG written = ERROR_SUCCESS;
    if (newPersistent != oldPersistent || !intact) {
        if (!intact) KeepDamagedCopy(persistentPath);
        written = ReplaceFile(persistentPath, newPersistent);
    }
    if (written == ERROR_SUCCESS && newVolatile != oldVolatile) {
        const std::string volatilePath = VolatilePath(store, hive);
        if (volatilePath.empty()) {
            hive.volatileInMemory = newVolatile;
        } else if (!EnsureFolder(store.runtimeFolder)) {
            written = FailWithErrno();
        } else {
            written = ReplaceFile(volatilePath, newVolatile);
        }
    }
    const int error = errno;
    LoadHive(store, hive);
    errno = error;
    return written;
}

struct Location {
    int root = -1;
    std::vector<std::string> path;
};

bool Resolve(HKEY key, const char* subKey, Location& location) {
    const int root = RootIndex(key);
    if (root >= 0) {
        location.root = root;
        location.path.clear();
    } else if (key != nullptr) {
        location.root = key->root;
        location.path = key->path;
    } else {
        return false;
    }
    if (subKey != nullptr)
        for (std::string& part : SplitKeyPath(subKey)) location.path.push_back(std::move(part));
    return true;
}

RegKey* Find(RegKey& root, const std::vector<std::string>& path) {
    RegKey* node = &root;
    for (const std::string& part : path)
        if ((node = node->Child(part)) == nullptr) return nullptr;
    return node;
}

// Runs a read on the current tree of the key's hive.
LONG ReadKey(HKEY key, const std::function<LONG(RegKey&)>& read) {
    Location location;
    if (!Resolve(key, nullptr, location)) return ERROR_INVALID_HANDLE;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    ChooseDefaultFolders(store);
    Hive& hive = store.hives[location.root];
    RefreshHive(store, hive);
    RegKey* node = Find(*hive.tree, location.path);
    if (node == nullptr) return location.path.empty() ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    return read(*node);
}

LONG WriteKey(HKEY key, const std::function<LONG(RegKey&)>& write) {
    Location location;
    if (!Resolve(key, nullptr, location)) return ERROR_INVALID_HANDLE;
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    ChooseDefaultFolders(store);
    return ModifyHive(location.root, [&](RegKey& root) {
        RegKey* node = Find(root, location.path);
        return node == nullptr ? static_cast<LONG>(ERROR_KEY_DELETED) : write(*node);
    });
}

HKEY NewHandle(const Location& location) {
    return new RegKeyHandle{location.root, location.path};
}

LONG CopyOut(const std::vector<BYTE>& bytes, bool addTerminator, BYTE* data, DWORD* dataSize) {
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (data == nullptr) {
        if (dataSize != nullptr) *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (dataSize == nullptr) return ERROR_INVALID_PARAMETER;
    if (*dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0) std::memcpy(data, bytes.data(), size);
    if (addTerminator && *dataSize > size) data[size] = 0;
    *dataSize = size;
    return ERROR_SUCCESS;
}

LONG CopyName(const std::string& name, char* buffer, DWORD* bufferChars) {
    if (buffer == nullptr || bufferChars == nullptr) return ERROR_INVALID_PARAMETER;
    if (*bufferChars < name.size() + 1) {
        *bufferChars = static_cast<DWORD>(name.size() + 1);
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *bufferChars = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}

}  // namespace

void SetStoreFolders(const std::string& configFolder, const std::string& runtimeFolder) {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    store.configFolder = configFolder;
    store.runtimeFolder = runtimeFolder;
    store.foldersChosen = true;
    for (Hive& hive : store.hives) {
        hive.loaded = false;
        hive.volatileInMemory.clear();
    }
}

std::string StoreFolder() {
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    ChooseDefaultFolders(store);
    return store.configFolder;
}

std::string HiveFilePath(HKEY root) {
    const int index = RootIndex(root);
    if (index < 0) return {};
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    ChooseDefaultFolders(store);
    return PersistentPath(store, store.hives[index]);
}

std::string VolatileFilePath(HKEY root) {
    const int index = RootIndex(root);
    if (index < 0) return {};
    Store& store = TheStore();
    std::lock_guard<std::mutex> guard(store.lock);
    ChooseDefaultFolders(store);
    return VolatilePath(store, store.hives[index]);
}

LONG ImportRegText(const std::string& text, bool keepExisting) {
    RegKey unused;
    std::map<std::string, RegKey> roots;
    if (!ParseRegText(text, "", unused, false, &roots)) return ERROR_INVALID_PARAMETER;
    for (auto& [rootName, imported] : roots) {
        HKEY root = nullptr;
        if (LowerCase(rootName) == "hkey_current_user")
            root = HKEY_CURRENT_USER;
        else if (LowerCase(rootName) == "hkey_classes_root")
            root = HKEY_CLASSES_ROOT;
        else
            return ERROR_INVALID_PARAMETER;
        Store& store = TheStore();
        std::lock_guard<std::mutex> guard(store.lock);
        ChooseDefaultFolders(store);
        std::function<void(const RegKey&, RegKey&)> merge = [&](const RegKey& from, RegKey& into) {
            for (const RegValue& value : from.values)
                if (!keepExisting || into.Value(value.name) == nullptr)
                    into.SetValue(value.name, value.type, value.data);
            for (const auto& [lower, child] : from.children)
                merge(*child, into.AddChild(child->name, into.isVolatile));
        };
        const LONG result = ModifyHive(RootIndex(root), [&](RegKey& tree) {
            merge(imported, tree);
            return static_cast<LONG>(ERROR_SUCCESS);
        });
        if (result != ERROR_SUCCESS) return result;
    }
    return ERROR_SUCCESS;
}

LONG ImportRegFile(const std::string& path, bool keepExisting) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return ERROR_FILE_NOT_FOUND;
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad()) return ERROR_FILE_NOT_FOUND;
    return ImportRegText(text.str(), keepExisting);
}

}  // namespace registry

using namespace registry;

LONG RegOpenKeyEx(HKEY key, const char* subKey, DWORD, REGSAM, HKEY* result) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Location location;
    if (!Resolve(key, subKey, location)) return ERROR_INVALID_HANDLE;
    const LONG found = ReadKey(key, [&](RegKey& base) {
        RegKey* node = &base;
        for (size_t i = (RootIndex(key) >= 0 ? 0 : key->path.size()); i < location.path.size(); ++i)
            if ((node = node->Child(location.path[i])) == nullptr) return ERROR_FILE_NOT_FOUND;
        return ERROR_SUCCESS;
    });
    if (found != ERROR_SUCCESS) return found;
    *result = NewHandle(location);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyEx(HKEY key, const char* subKey, DWORD, char*, DWORD options, REGSAM, void*,
                    HKEY* result, DWORD* disposition) {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    Location location;
    if (!Resolve(key, subKey, location)) return ERROR_INVALID_HANDLE;
    const bool makeVolatile = (options & REG_OPTION_VOLATILE) != 0;
    const size_t baseDepth = RootIndex(key) >= 0 ? 0 : key->path.size();
    bool created = false;
    const LONG outcome = WriteKey(key, [&](RegKey& base) {
        RegKey* node = &base;
        for (size_t i = baseDepth; i < location.path.size(); ++i) {
            RegKey* child = node->Child(location.path[i]);
            if (child == nullptr) {
                if (node->isVolatile && !makeVolatile) return ERROR_CHILD_MUST_BE_VOLATILE;
                child = &node->AddChild(location.path[i], makeVolatile);
                created = true;
            }
            node = child;
        }
        return ERROR_SUCCESS;
    });
    if (outcome != ERROR_SUCCESS) return outcome;
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(location);
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (RootIndex(key) >= 0) return ERROR_SUCCESS;
    if (key == nullptr) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
}

LONG RegQueryValueEx(HKEY key, const char* name, DWORD*, DWORD* type, BYTE* data, DWORD* dataSize) {
    return ReadKey(key, [&](RegKey& node) {
        RegValue* value = node.Value(name != nullptr ? name : "");
        if (value == nullptr) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
        if (type != nullptr) *type = value->type;
        return CopyOut(value->data, value->type == REG_SZ, data, dataSize);
    });
}

LONG RegSetValueEx(HKEY key, const char* name, DWORD, DWORD type, const BYTE* data,
                   DWORD dataSize) {
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> bytes(data, data + dataSize);
    return WriteKey(key, [&](RegKey& node) {
        node.SetValue(name != nullptr ? name : "", type, bytes);
        return static_cast<LONG>(ERROR_SUCCESS);
    });
}

LONG RegDeleteValue(HKEY key, const char* name) {
    return WriteKey(key, [&](RegKey& node) {
        return node.DeleteValue(name != nullptr ? name : "") ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegDeleteTree(HKEY key, const char* subKey) {
    Location location;
    if (!Resolve(key, subKey, location)) return ERROR_INVALID_HANDLE;
    const size_t baseDepth = RootIndex(key) >= 0 ? 0 : key->path.size();
    return WriteKey(key, [&](RegKey& base) {
        if (location.path.size() == baseDepth) {
            base.values.clear();
            base.children.clear();
            return ERROR_SUCCESS;
        }
        RegKey* parent = &base;
        for (size_t i = baseDepth; i + 1 < location.path.size(); ++i)
            if ((parent = parent->Child(location.path[i])) == nullptr) return ERROR_FILE_NOT_FOUND;
        return parent->children.erase(LowerCase(location.path.back())) != 0 ? ERROR_SUCCESS
                                                                            : ERROR_FILE_NOT_FOUND;
    });
}

LONG RegEnumKeyEx(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, char*, DWORD*,
                  void*) {
    return ReadKey(key, [&](RegKey& node) {
        if (index >= node.children.size()) return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
        auto child = node.children.begin();
        std::advance(child, index);
        return CopyName(child->second->name, name, nameSize);
    });
}

LONG RegEnumValue(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*, DWORD* type,
                  BYTE* data, DWORD* dataSize) {
    return ReadKey(key, [&](RegKey& node) {
        if (index >= node.values.size()) return static_cast<LONG>(ERROR_NO_MORE_ITEMS);
        const RegValue& value = node.values[index];
        const LONG named = CopyName(value.name, name, nameSize);
        if (named != ERROR_SUCCESS) return named;
        if (type != nullptr) *type = value.type;
        return CopyOut(value.data, value.type == REG_SZ, data, dataSize);
    });
}
