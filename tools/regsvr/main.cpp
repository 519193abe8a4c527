// skelvane-regsvr [-u] MODULE: registers an in-process server module by calling its
// DllRegisterServer export, or with -u unregisters it through DllUnregisterServer.
#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/com/Com.h"

namespace {

using ServerFunction = HRESULT (*)();

int Usage() {
    std::fprintf(stderr, "usage: skelvane-regsvr [-u] MODULE\n");
    return 2;
}

// Owns the loaded module.
class LoadedModule {
public:
    explicit LoadedModule(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {}
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

int main(int argc, char** argv) {
    bool unregister = false;
    const char* path = nullptr;
    if (argc == 2) {
        path = argv[1];
    } else if (argc == 3 && std::strcmp(argv[1], "-u") == 0) {
        unregister = true;
        path = argv[2];
    } else {
        return Usage();
    }
    const char* exportName = unregister ? "DllUnregisterServer" : "DllRegisterServer";

    LoadedModule module(path);
    if (!module.Loaded()) {
        std::fprintf(stderr, "skelvane-regsvr: cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    const ServerFunction entry = module.Find(exportName);
    if (entry == nullptr) {
        std::fprintf(stderr,
                     "skelvane-regsvr: %s was loaded, but the entry point %s was not found\n", path,
                     exportName);
        return 1;
    }
    const HRESULT hr = entry();
    if (FAILED(hr)) {
        const std::string text = SystemMessageText(hr);
        std::fprintf(stderr, "skelvane-regsvr: %s in %s failed with error code 0x%08X%s%s\n",
                     exportName, path, static_cast<unsigned>(hr), text.empty() ? "" : ": ",
                     text.c_str());
        return 1;
    }
    std::printf("%s in %s succeeded.\n", exportName, path);
    return 0;
}
