#include "platform/sys/Sys.h"

#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <mutex>
#include <unordered_map>

namespace sys {

namespace {

std::mutex& PresenterLock() {
    static std::mutex lock;
    return lock;
}

std::shared_ptr<IMessageBoxPresenter>& Presenter() {
    static std::shared_ptr<IMessageBoxPresenter> presenter;
    return presenter;
}

std::mutex& ClockLock() {
    static std::mutex lock;
    return lock;
}

ClockSource& Clocks() {
    static ClockSource clocks;
    return clocks;
}

bool TraceToSyslog() {
    static const bool enabled = std::getenv("SKELVANE_TRACE") != nullptr;
    return enabled;
}

// Read on every trace call; the receiver itself only under its lock.
std::atomic<bool> receiverInstalled{false};

std::mutex& ReceiverLock() {
    static std::mutex lock;
    return lock;
}

TraceReceiver& Receiver() {
    static TraceReceiver receiver;
    return receiver;
}

// The receiver runs outside the lock, so it may trace or swap receivers itself.
void Receive(const std::string& line) {
    TraceReceiver receiver;
    {
        std::lock_guard<std::mutex> lock(ReceiverLock());
        receiver = Receiver();
    }
    if (receiver) receiver(line);
}

std::string EnvOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string HomeFolder() {
    return EnvOrEmpty("HOME");
}

// Expands "$HOME" at the start of a user-dirs.dirs value; other forms are taken literally.
std::string ExpandUserDir(std::string value) {
    const std::string home = "$HOME";
    if (value.compare(0, home.size(), home) == 0) value = HomeFolder() + value.substr(home.size());
    return value;
}

}  // namespace

std::shared_ptr<IMessageBoxPresenter> SetMessageBoxPresenter(
    std::shared_ptr<IMessageBoxPresenter> presenter) {
    std::lock_guard<std::mutex> lock(PresenterLock());
    std::swap(Presenter(), presenter);
    return presenter;
}

int MessageBox(const std::string& text, const std::string& caption, unsigned style) {
    std::shared_ptr<IMessageBoxPresenter> presenter;
    {
        std::lock_guard<std::mutex> lock(PresenterLock());
        presenter = Presenter();
    }
    if (presenter) return presenter->Present(text, caption, style);
    std::cerr << caption << ": " << text << std::endl;
    return IDOK;
}

bool DebugTraceEnabled() {
    return TraceToSyslog() || receiverInstalled.load(std::memory_order_relaxed);
}

void DebugTrace(const std::string& line) {
    if (!DebugTraceEnabled()) return;
    if (TraceToSyslog()) syslog(LOG_USER | LOG_DEBUG, "%s", line.c_str());
    if (receiverInstalled.load(std::memory_order_relaxed)) Receive(line);
}

void DebugTraceF(const char* format, ...) {
    if (!DebugTraceEnabled()) return;
    va_list args;
    va_start(args, format);
    char line[1024];
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    DebugTrace(line);
}

std::string ErrnoText(int error) {
    char buffer[128];
    return strerror_r(error, buffer, sizeof(buffer));  // the GNU form returns the text
}

TraceReceiver SetTraceReceiver(TraceReceiver receiver) {
    std::lock_guard<std::mutex> lock(ReceiverLock());
    std::swap(Receiver(), receiver);
    receiverInstalled.store(static_cast<bool>(Receiver()), std::memory_order_relaxed);
    return receiver;
}

std::string DocumentsFolder() {
    const std::string home = HomeFolder();
    std::string configHome = EnvOrEmpty("XDG_CONFIG_HOME");
    if (configHome.empty() && !home.empty()) configHome = home + "/.config";
    std::ifstream dirs(configHome + "/user-dirs.dirs");
    std::string line;
    const std::string key = "XDG_DOCUMENTS_DIR=";
    while (std::getline(dirs, line)) {
        if (line.compare(0, key.size(), key) != 0) continue;
        std::string value = line.substr(key.size());
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        value = ExpandUserDir(value);
        while (value.size() > 1 && value.back() == '/') value.pop_back();
        if (!value.empty()) return value;
    }
    return home.empty() ? std::string() : home + "/Documents";
}

uint16_t LangIdOfLocaleName(const std::string& locale) {
    // "ll_CC.codeset@modifier": only language and country matter.
    std::string name = locale.substr(0, locale.find_first_of(".@"));
    static const std::unordered_map<std::string, uint16_t> byLocale = {
        {"zh_CN", 0x0804}, {"zh_SG", 0x1004}, {"zh_TW", 0x0404}, {"zh_HK", 0x0C04},
        {"zh_MO", 0x1404}, {"de_DE", 0x0407}, {"de_AT", 0x0C07}, {"de_CH", 0x0807},
        {"fr_FR", 0x040C}, {"fr_CA", 0x0C0C}, {"fr_BE", 0x080C}, {"fr_CH", 0x100C},
        {"ja_JP", 0x0411}, {"ko_KR", 0x0412}, {"it_IT", 0x0410}, {"es_ES", 0x0C0A},
        {"es_MX", 0x080A}, {"pt_BR", 0x0416}, {"pt_PT", 0x0816}, {"ru_RU", 0x0419},
        {"nl_NL", 0x0413}, {"pl_PL", 0x0415}, {"sv_SE", 0x041D}, {"tr_TR", 0x041F},
        {"en_US", 0x0409}, {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009},
        {"en_NZ", 0x1409}, {"en_IE", 0x1809}, {"en_IN", 0x4009},
    };
    if (auto found = byLocale.find(name); found != byLocale.end()) return found->second;
    // A language without a listed country takes its primary form.
    static const std::unordered_map<std::string, uint16_t> byLanguage = {
        {"en", 0x0409}, {"zh", 0x0804}, {"de", 0x0407}, {"fr", 0x040C}, {"ja", 0x0411},
        {"ko", 0x0412}, {"it", 0x0410}, {"es", 0x0C0A}, {"pt", 0x0416}, {"ru", 0x0419},
    };
    if (auto found = byLanguage.find(name.substr(0, name.find('_'))); found != byLanguage.end())
        return found->second;
    return 0x0409;
}

uint16_t UserDefaultLangId() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const std::string value = EnvOrEmpty(variable);
        if (!value.empty()) return LangIdOfLocaleName(value);
    }
    return 0x0409;
}

std::string GetInstallFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (length <= 0) return {};
    std::string folder(path, static_cast<size_t>(length));
    return folder.substr(0, folder.rfind('/') + 1);
}

std::string FolderHolding(const std::string& programFolder, const std::string& name,
                          const std::string& installedFolder) {
    if (access((programFolder + name).c_str(), F_OK) == 0) return programFolder;
    const std::string installed = programFolder + installedFolder + "/";
    if (access((installed + name).c_str(), F_OK) == 0) return installed;
    return programFolder;
}

// Copies the injected reading out of the lock, so an injected clock may read other clocks.
template <class Result>
std::function<Result()> Injected(std::function<Result()> ClockSource::*member) {
    std::lock_guard<std::mutex> lock(ClockLock());
    return Clocks().*member;
}

int64_t CurrentTimeMs() {
    if (auto injected = Injected(&ClockSource::currentTimeMs)) return injected();
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int64_t ProcessClockMs() {
    if (auto injected = Injected(&ClockSource::processClockMs)) return injected();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

Date Today() {
    if (auto injected = Injected(&ClockSource::today)) return injected();
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

ClockSource SetClockSource(ClockSource source) {
    std::lock_guard<std::mutex> lock(ClockLock());
    std::swap(Clocks(), source);
    return source;
}

}  // namespace sys
