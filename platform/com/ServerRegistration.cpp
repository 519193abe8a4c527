#include "platform/com/ServerRegistration.h"

#include <dlfcn.h>

#include <cstdio>

namespace com {

namespace {

using ServerFunction = HRESULT (*)();

// Owns the loaded module.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path)
        : handle_(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~LoadedModule() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool Loaded() const { return handle_ != nullptr; }
    ServerFunction Find(const char* name) const {
        return reinterpret_cast<ServerFunction>(dlsym(handle_, name));
    }

private:
    void* handle_;
};

}  // namespace

HRESULT CallServerRegistration(const std::string& path, bool unregister, std::string& failure) {
    failure.clear();
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    LoadedModule module(path);
    if (!module.Loaded()) {
        failure = "cannot load " + path + ": " + dlerror();
        return CO_E_DLLNOTFOUND;
    }
    const ServerFunction entry = module.Find(exportName);
    if (entry == nullptr) {
        failure = path + " was loaded, but the entry point " + exportName + " was not found";
        return CO_E_ERRORINDLL;
    }
    const HRESULT hr = entry();
    if (FAILED(hr)) {
        char code[16];
        std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(hr));
        const std::string text = SystemMessageText(hr);
        failure = std::string(exportName) + " in " + path + " failed with error code " + code +
                  (text.empty() ? "" : ": " + text);
    }
    return hr;
}

}  // namespace com
