// skelvane-vcam: the wireless camera as a V4L2 camera of every program, through a
// v4l2loopback device fed with its pictures while programs read it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QGuiApplication>

#include <cstdio>
#include <cstring>
#include <string>

#include "common/WifiCameraAddress.h"
#include "platform/sys/CommandLine.h"
#include "platform/v4l2/LoopbackCamera.h"
#include "tools/vcam/LoopbackOutput.h"
#include "tools/vcam/ReaderWatch.h"
#include "tools/vcam/VcamService.h"

namespace {

// Exit statuses, one for each reason to give up.
enum ExitStatus : int {
    kExitOk = 0,
    kExitFailure = 1,
    kExitUsage = 2,
    kExitNoDevice = 3,     // the module is not loaded, or no device carries the label
    kExitNotLoopback = 4,  // --device names another driver's device
    kExitBusy = 5,         // another program feeds the device
    kExitSettings = 6,     // no camera address in the settings
    kExitNoModule = 7,     // the wireless camera module is not registered
};

constexpr const char* kHelp =
    "Usage: skelvane-vcam [--device /dev/videoN]\n"
    "Feeds the V4L2 loopback device labelled \"Skelvane wireless camera\" with the wireless\n"
    "camera's pictures (YUYV, at the camera's size), so every camera program can use the\n"
    "camera. The camera is read only while a program streams from the device; meanwhile,\n"
    "and while the camera cannot be reached, the device shows a picture that says so.\n"
    "The camera's address and port are those of Skelvane's settings.\n\n"
    "  --device /dev/videoN   feed this loopback device instead of the labelled one\n"
    "  --help, --version      this text, the version\n\n"
    "Exit status: 0 stopped by a signal, 2 wrong usage, 3 no loopback device (module not\n"
    "loaded or no device with the label), 4 not a loopback device, 5 another program feeds\n"
    "the device, 6 no camera address in the settings, 7 the wireless camera module is not\n"
    "registered, 1 anything else.\n";

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    const ssize_t ignored = write(signalPipe[1], &byte, 1);
    (void)ignored;
}

int Fail(int status, const std::string& text) {
    std::fprintf(stderr, "skelvane-vcam: %s\n", text.c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const int answered = sys::AnswerStandardOptions(argc, argv, "skelvane-vcam", kHelp);
    if (answered >= 0) return answered;
    std::string node;
    if (argc == 3 && std::strcmp(argv[1], "--device") == 0) {
        node = argv[2];
    } else if (argc != 1) {
        std::fputs(kHelp, stderr);
        return kExitUsage;
    }

    if (node.empty()) {
        if (!vcam::LoopbackModuleLoaded())
            return Fail(kExitNoDevice,
                        "the v4l2loopback kernel module is not loaded; load it with:\n"
                        "  sudo modprobe v4l2loopback\n"
                        "(Debian package v4l2loopback-dkms; Skelvane's package sets its options)");
        node = vcam::FindWirelessCameraLoopback();
        if (node.empty())
            return Fail(kExitNoDevice,
                        std::string("no V4L2 loopback device is labelled \"") +
                            v4l2::kWirelessCameraLabel +
                            "\"; load the module with that label:\n"
                            "  sudo modprobe -r v4l2loopback && sudo modprobe v4l2loopback "
                            "exclusive_caps=1 card_label=\"" +
                            v4l2::kWirelessCameraLabel +
                            "\"\nor name a loopback device with --device /dev/videoN");
    }

    uint32_t address = 0;
    int32_t port = 0;
    if (!ReadWifiCameraAddress(address, port))
        return Fail(kExitSettings,
                    "the settings hold no wireless camera address (software\\Skelvane\\using\\"
                    "system or default\\system); start Skelvane once, or set the address in its "
                    "settings");

    // Fonts for the notice picture; the program shows no window.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    vcam::CLoopbackOutput output;
    std::string detail;
    switch (output.Open(node, detail)) {
        case vcam::OpenResult::kOpened:
            break;
        case vcam::OpenResult::kCannotOpen:
            return Fail(kExitNoDevice, "cannot open " + node + ": " + detail);
        case vcam::OpenResult::kNotLoopback:
            return Fail(kExitNotLoopback, node + " is not a V4L2 loopback device (" + detail + ")");
        case vcam::OpenResult::kAlreadyFed:
            return Fail(kExitBusy, node + " is already fed by another program (" + detail +
                                       "); stop that program first");
    }
    if (!output.LabelledForWirelessCamera())
        std::fprintf(stderr,
                     "skelvane-vcam: %s is not labelled \"%s\": Skelvane will list it as a camera "
                     "of its own\n",
                     node.c_str(), v4l2::kWirelessCameraLabel);
    int width = 0, height = 0;
    vcam::ReadRememberedSize(width, height);
    if (!output.SetFormat(width, height, vcam::kFramesPerSecond))
        return Fail(kExitFailure, node + " refused the YUYV format " + std::to_string(width) + "x" +
                                      std::to_string(height));

    vcam::CReaderWatch watch;
    if (!watch.Open(node, detail)) return Fail(kExitFailure, detail);

    if (pipe2(signalPipe, O_CLOEXEC) != 0) return Fail(kExitFailure, "cannot make a pipe");
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);

    const std::string endpoint = WifiCameraEndpointText(address, port);
    vcam::CVcamService service(output, watch, endpoint);
    if (!service.WifiDeviceRegistered())
        return Fail(kExitNoModule,
                    "the wireless camera module is not registered; start Skelvane once (it "
                    "registers the module), or run skelvane-regsvr with the module's path");
    if (!service.Run(signalPipe[0])) return Fail(kExitFailure, "cannot write to " + node);
    return kExitOk;
}
