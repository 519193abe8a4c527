// Start-up counting, object creation and the in-process servers loaded for it.
#include "platform/com/Com.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <vector>

#include "platform/com/RegKey.h"
#include "platform/sys/Sys.h"

namespace {

thread_local int tInitCount = 0;

struct BuiltInClass {
    CLSID clsid;
    com::CreateFunction create;
};

struct BuiltInTable {
    std::mutex lock;
    std::vector<BuiltInClass> classes;
};

BuiltInTable& BuiltIns() {
    static BuiltInTable table;
    return table;
}

com::CreateFunction FindBuiltIn(REFCLSID clsid) {
    BuiltInTable& table = BuiltIns();
    std::lock_guard<std::mutex> guard(table.lock);
    for (const BuiltInClass& entry : table.classes) {
        if (entry.clsid == clsid) return entry.create;
    }
    return nullptr;
}

using GetClassObjectFunction = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFunction = HRESULT (*)();

// One loaded server. `creating` counts calls into it that run without the table lock, so
// the library is not unloaded under them.
struct LoadedServer {
    void* handle = nullptr;
    GetClassObjectFunction getClassObject = nullptr;
    CanUnloadNowFunction canUnloadNow = nullptr;
    int creating = 0;
};

struct ServerTable {
    std::mutex lock;
    std::map<std::string, LoadedServer> servers;  // by module path
};

ServerTable& Servers() {
    static ServerTable table;
    return table;
}

// The registered module path of a class: the default value of CLSID\{...}\InprocServer32.
HRESULT RegisteredServerPath(REFCLSID clsid, std::string& path) {
    com::RegKey key;
    const std::string keyPath = "CLSID\\" + com::GuidToString(clsid) + "\\InprocServer32";
    if (key.Open(HKEY_CLASSES_ROOT, keyPath) != ERROR_SUCCESS) {
        sys::DebugTraceF("com: class %s is not registered (no %s)",
                         com::GuidToString(clsid).c_str(), keyPath.c_str());
        return REGDB_E_CLASSNOTREG;
    }
    if (key.ReadText("", path) != ERROR_SUCCESS || path.empty()) {
        sys::DebugTraceF("com: %s names no module", keyPath.c_str());
        return REGDB_E_READREGDB;
    }
    return S_OK;
}

// Loads (or finds) the server and marks a call into it as running.
HRESULT AcquireServer(const std::string& path, GetClassObjectFunction* getClassObject) {
    ServerTable& table = Servers();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.servers.find(path);
    if (found == table.servers.end()) {
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            sys::DebugTraceF("cannot load %s: %s", path.c_str(), dlerror());
            return CO_E_DLLNOTFOUND;
        }
        LoadedServer server;
        server.handle = handle;
        server.getClassObject =
            reinterpret_cast<GetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
        server.canUnloadNow =
            reinterpret_cast<CanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
        if (server.getClassObject == nullptr) {
            sys::DebugTraceF("com: %s exports no DllGetClassObject", path.c_str());
            dlclose(handle);
            return CO_E_ERRORINDLL;
        }
        found = table.servers.emplace(path, server).first;
    }
    ++found->second.creating;
    *getClassObject = found->second.getClassObject;
    return S_OK;
}

void ReleaseServerCall(const std::string& path) {
    ServerTable& table = Servers();
    std::lock_guard<std::mutex> guard(table.lock);
    auto found = table.servers.find(path);
    if (found != table.servers.end()) --found->second.creating;
}

// Runs `call` with the class-object entry of the server registered for the class; the
// server stays loaded until the call returns.
template <class Call>
HRESULT CallServer(REFCLSID rclsid, Call call) {
    std::string path;
    HRESULT hr = RegisteredServerPath(rclsid, path);
    if (FAILED(hr)) return hr;
    GetClassObjectFunction getClassObject = nullptr;
    hr = AcquireServer(path, &getClassObject);
    if (FAILED(hr)) return hr;
    hr = call(getClassObject, path);
    ReleaseServerCall(path);
    return hr;
}

HRESULT GetServerClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    return CallServer(rclsid, [&](GetClassObjectFunction getClassObject, const std::string&) {
        return getClassObject(rclsid, riid, ppv);
    });
}

}  // namespace

namespace com {

void RegisterBuiltInClass(const CLSID& clsid, CreateFunction create) {
    BuiltInTable& table = BuiltIns();
    std::lock_guard<std::mutex> guard(table.lock);
    for (BuiltInClass& entry : table.classes) {
        if (entry.clsid == clsid) {
            entry.create = create;
            return;
        }
    }
    table.classes.push_back({clsid, create});
}

bool IsServerLoaded(const std::string& modulePath) {
    ServerTable& table = Servers();
    std::lock_guard<std::mutex> guard(table.lock);
    return table.servers.count(modulePath) != 0;
}

}  // namespace com

HRESULT CoInitializeEx(LPVOID /*reserved*/, DWORD /*coInit*/) {
    return tInitCount++ == 0 ? S_OK : S_FALSE;
}

HRESULT CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

void CoUninitialize() {
    if (tInitCount == 0) return;
    if (--tInitCount == 0) CoFreeUnusedLibraries();
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID /*reserved*/, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if ((dwClsContext & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
    return GetServerClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                         LPVOID* ppv) {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if ((dwClsContext & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
    if (com::CreateFunction create = FindBuiltIn(rclsid)) return create(pUnkOuter, riid, ppv);

    return CallServer(rclsid, [&](GetClassObjectFunction getClassObject, const std::string& path) {
        IClassFactory* factory = nullptr;
        HRESULT hr = getClassObject(rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
        if (SUCCEEDED(hr) && factory != nullptr) {
            hr = factory->CreateInstance(pUnkOuter, riid, ppv);
            factory->Release();
        } else if (SUCCEEDED(hr)) {
            hr = E_UNEXPECTED;
        }
        if (FAILED(hr))
            sys::DebugTraceF("com: %s could not create class %s (0x%08X)", path.c_str(),
                             com::GuidToString(rclsid).c_str(), static_cast<unsigned>(hr));
        return hr;
    });
}

void CoFreeUnusedLibraries() {
    ServerTable& table = Servers();
    std::lock_guard<std::mutex> guard(table.lock);
    for (auto it = table.servers.begin(); it != table.servers.end();) {
        LoadedServer& server = it->second;
        const bool unloadable =
            server.creating == 0 && server.canUnloadNow != nullptr && server.canUnloadNow() == S_OK;
        if (unloadable) {
            dlclose(server.handle);
            it = table.servers.erase(it);
        } else {
            ++it;
        }
    }
}

// ---------------------------------------------------------------------------------------
namespace com {

LONG RegKey::Open(HKEY root, const std::string& path, REGSAM access) {
    Close();
    return RegOpenKeyEx(root, path.c_str(), 0, access, &key_);
}

LONG RegKey::Create(HKEY root, const std::string& path) {
    Close();
    return RegCreateKeyEx(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                          nullptr, &key_, nullptr);
}

void RegKey::Close() {
    if (key_ != nullptr) RegCloseKey(key_);
    key_ = nullptr;
}

LONG RegKey::ReadText(const std::string& name, std::string& value) const {
    DWORD type = 0;
    DWORD size = 0;
    LONG result = RegQueryValueEx(key_, name.c_str(), nullptr, &type, nullptr, &size);
    if (result != ERROR_SUCCESS) return result;
    if (type != REG_SZ) return ERROR_FILE_NOT_FOUND;
    std::string buffer(size + 1, '\0');
    DWORD bufferSize = static_cast<DWORD>(buffer.size());
    result = RegQueryValueEx(key_, name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer.data()), &bufferSize);
    if (result != ERROR_SUCCESS) return result;
    buffer.resize(bufferSize);
    while (!buffer.empty() && buffer.back() == '\0') buffer.pop_back();
    value = buffer;
    return ERROR_SUCCESS;
}

LONG RegKey::WriteText(const std::string& name, const std::string& value) const {
    return RegSetValueEx(key_, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                         static_cast<DWORD>(value.size()));
}

LONG RegKey::WriteBinary(const std::string& name, const std::vector<BYTE>& data) const {
    return RegSetValueEx(key_, name.c_str(), 0, REG_BINARY, data.data(),
                         static_cast<DWORD>(data.size()));
}

std::vector<std::string> RegKey::SubKeyNames() const {
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyEx(key_, index, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        names.emplace_back(name, nameSize);
    }
    return names;
}

}  // namespace com
