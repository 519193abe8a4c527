// Class identifiers of the built-in classes and their registration with the runtime.
// Naming any of these identifiers links this file, and with it the classes.
#include "platform/dshow/Internal.h"

extern const CLSID CLSID_FilterGraph =
    SKV_GUID(0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
extern const CLSID CLSID_CaptureGraphBuilder2 =
    SKV_GUID(0xBF87B6E1, 0x8C27, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
extern const CLSID CLSID_SampleGrabber =
    SKV_GUID(0xC1F400A0, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37);
extern const CLSID CLSID_NullRenderer =
    SKV_GUID(0xC1F400A4, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37);
extern const CLSID CLSID_VideoRenderer =
    SKV_GUID(0x70E102B0, 0x5556, 0x11CE, 0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
extern const CLSID CLSID_VideoRendererDefault =
    SKV_GUID(0x6BC1CFFA, 0x8FC1, 0x4261, 0xAC, 0x22, 0xCF, 0xB4, 0xCC, 0x38, 0xDB, 0x50);
extern const CLSID CLSID_SystemDeviceEnum =
    SKV_GUID(0x62BE5D10, 0x60EB, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
extern const CLSID CLSID_FilterMapper2 =
    SKV_GUID(0xCDA42200, 0xBD88, 0x11D0, 0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

namespace {

struct BuiltInRegistrar {
    BuiltInRegistrar() {
        com::RegisterBuiltInClass(CLSID_FilterGraph, dshow::CreateFilterGraph);
        com::RegisterBuiltInClass(CLSID_CaptureGraphBuilder2, dshow::CreateCaptureGraphBuilder);
        com::RegisterBuiltInClass(CLSID_SampleGrabber, dshow::CreateSampleGrabber);
        com::RegisterBuiltInClass(CLSID_NullRenderer, dshow::CreateNullRenderer);
        com::RegisterBuiltInClass(CLSID_VideoRenderer, dshow::CreateVideoRenderer);
        com::RegisterBuiltInClass(CLSID_VideoRendererDefault, dshow::CreateVideoRenderer);
        com::RegisterBuiltInClass(CLSID_SystemDeviceEnum, dshow::CreateSystemDeviceEnum);
        com::RegisterBuiltInClass(CLSID_FilterMapper2, dshow::CreateFilterMapper);
    }
};

const BuiltInRegistrar gRegistrar;

}  // namespace
