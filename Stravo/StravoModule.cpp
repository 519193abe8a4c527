// The filter module's entry points: the class-factory table through which the component
// runtime creates CStravoFilter, and the registration that lists the filter among the
// video-input devices as "wifi device".
#include <dlfcn.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include "Stravo/CFrameManager.h"
#include "Stravo/StravoFilter.h"

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes = {&MEDIATYPE_Video, &GUID_NULL};

const AMOVIESETUP_PIN kOutputPin = {L"Output",  FALSE,   TRUE, FALSE,     FALSE,
                                    &GUID_NULL, nullptr, 1,    &kPinTypes};

const AMOVIESETUP_FILTER kFilterSetup = {&CLSID_StravoFilter, L"wifi device", MERIT_DO_NOT_USE, 1,
                                         &kOutputPin};

// The device registration asks for a higher merit than the setup record.
const REGFILTER2 kDeviceRegistration = {1, MERIT_NORMAL, 1, &kOutputPin};

constexpr const WCHAR* kDeviceName = L"wifi device";

HINSTANCE gModule = nullptr;

// Some libraries below the media libraries allocate when they are loaded and never free;
// keeping the media libraries loaded once they are stops every module load from leaking.
void KeepMediaLibrariesLoaded() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&avformat_version), &info) == 0 ||
        info.dli_fname == nullptr) {
        return;
    }
    // The reference is never given back: that is the point.
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}

BOOL DllMain(HINSTANCE module, ULONG reason, LPVOID reserved) {
    gModule = module;
    if (reason == DLL_PROCESS_ATTACH) KeepMediaLibrariesLoaded();
    const BOOL entered = DllEntryPoint(module, reason, reserved);
    // The frame queue outlives filter objects but not the module.
    if (reason == DLL_PROCESS_DETACH) CFrameManager::Destroy();
    return entered ? TRUE : FALSE;
}

// The module's base address plays the part of its instance handle.
HINSTANCE ModuleBase() {
    Dl_info info{};
    return dladdr(reinterpret_cast<void*>(&ModuleBase), &info) != 0 ? info.dli_fbase : nullptr;
}

}  // namespace

CFactoryTemplate g_Templates[] = {
    {kDeviceName, &CLSID_StravoFilter, CStravoFilter::CreateInstance, nullptr, &kFilterSetup}};
int g_cTemplates = 1;

namespace {

// The load and unload hooks of the library run DllMain's attach and detach work.
struct ModuleHooks {
    ModuleHooks() { DllMain(ModuleBase(), DLL_PROCESS_ATTACH, nullptr); }
    ~ModuleHooks() { DllMain(gModule, DLL_PROCESS_DETACH, nullptr); }
    ModuleHooks(const ModuleHooks&) = delete;
    ModuleHooks& operator=(const ModuleHooks&) = delete;
} gHooks;

}  // namespace

STDAPI DllRegisterServer() {
    return AMovieDllRegisterVideoInputDevice(TRUE, CLSID_StravoFilter, kDeviceName,
                                             &kDeviceRegistration);
}

STDAPI DllUnregisterServer() {
    return AMovieDllRegisterVideoInputDevice(FALSE, CLSID_StravoFilter, kDeviceName,
                                             &kDeviceRegistration);
}
