// A filter module for the tests: the test source as an in-process server that registers
// itself as the video-input device "test camera".
#include "platform/dshow/tests/TestSourceFilter.h"

namespace {

const AMOVIESETUP_MEDIATYPE kPinTypes = {&MEDIATYPE_Video, &GUID_NULL};
const AMOVIESETUP_PIN kPin = {L"Output",  FALSE,   TRUE, FALSE,     FALSE,
                              &GUID_NULL, nullptr, 1,    &kPinTypes};
const AMOVIESETUP_FILTER kFilter = {&CLSID_TestSource, L"test camera", MERIT_DO_NOT_USE, 1, &kPin};
const REGFILTER2 kDevice = {1, MERIT_NORMAL, 1, &kPin};

// Load and unload hooks stand in for DllMain.
struct ModuleHooks {
    ModuleHooks() { DllEntryPoint(this, DLL_PROCESS_ATTACH, nullptr); }
    ~ModuleHooks() { DllEntryPoint(this, DLL_PROCESS_DETACH, nullptr); }
} gHooks;

}  // namespace

CFactoryTemplate g_Templates[] = {
    {L"test camera", &CLSID_TestSource, CTestSource::CreateInstance, nullptr, &kFilter}};
int g_cTemplates = 1;

STDAPI DllRegisterServer() {
    return AMovieDllRegisterVideoInputDevice(TRUE, CLSID_TestSource, L"test camera", &kDevice);
}

STDAPI DllUnregisterServer() {
    return AMovieDllRegisterVideoInputDevice(FALSE, CLSID_TestSource, L"test camera", &kDevice);
}
