#include "Skelvane/shell/LumivorApp.h"

#include <QFileInfo>
#include <cerrno>
#include <cstdio>

#include "Skelvane/settings/LocalizableString.h"
#include "Skelvane/shell/MainViewerDlg.h"
#include "Skelvane/shell/SingleInstance.h"
#include "common/CRegistry.h"
#include "platform/sys/Sys.h"

CLumivorApp::CLumivorApp(const QString& executablePath)
    : baseName_(QFileInfo(executablePath).completeBaseName()) {}

bool CLumivorApp::PrepareCodec() {
    CRegistry key;
    errno = 0;
    if (key.Create(HKEY_CURRENT_USER, "Software\\GNU\\XviD", true) &&
        key.WriteDword("display_status", 0))
        return true;
    const int error = errno != 0 ? errno : key.LastError();
    key.Close();
    char text[128];
    std::snprintf(text, sizeof(text),
                  "Fail to run application,because register xvid is error error code = %d", error);
    sys::WarningBox(text);
    return false;
}

int CLumivorApp::InitInstance() {
    // The lock lives as long as the process: it is held by this object until exit.
    static CSingleInstance instance(baseName_);
    if (!instance.Acquire()) {
        if (!instance.ActivateRunningInstance())
            sys::WarningBox(
                GetLocalizedString("ui_alert_have_running_application",
                                   "Failure to lanuch applicaiton,Because it has been run"));
        return 0;
    }
    if (!PrepareCodec()) return 0;
    CMainViewerDlg window(baseName_);
    window.RunModal();
    return 0;
}
