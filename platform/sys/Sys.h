// Small services of the operating system that the product reaches through one door:
// owner-less message boxes, the debug trace, the user's folders and language, the
// install folder and the clocks that tests must be able to control.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace sys {

// Message-box styles and answers, with the Windows numbers.
enum : unsigned {
    MB_OK = 0x0,
    MB_OKCANCEL = 0x1,
    MB_ICONQUESTION = 0x20,
    MB_ICONWARNING = 0x30,
};
enum : int { IDOK = 1, IDCANCEL = 2 };

// Shows an owner-less message box. The installed presenter decides how; without one
// the text goes to standard error and the answer is IDOK.
class IMessageBoxPresenter {
public:
    virtual ~IMessageBoxPresenter() = default;
    virtual int Present(const std::string& text, const std::string& caption, unsigned style) = 0;
};

// Installs the presenter used from now on; returns the previous one.
std::shared_ptr<IMessageBoxPresenter> SetMessageBoxPresenter(
    std::shared_ptr<IMessageBoxPresenter> presenter);
int MessageBox(const std::string& text, const std::string& caption, unsigned style);

// The design's warning box: caption "Lumivor", warning icon, OK.
inline int WarningBox(const std::string& text) {
    return MessageBox(text, "Lumivor", MB_OK | MB_ICONWARNING);
}

// Debug trace: one line to syslog at debug level. Lines are only formatted when
// tracing is on (SKELVANE_TRACE set in the environment, or a receiver installed), so the
// hot path pays one test. Callers whose arguments cost something to build ask
// DebugTraceEnabled() first.
bool DebugTraceEnabled();
void DebugTrace(const std::string& line);
void DebugTraceF(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's text for an errno value ("No such device"); safe on any thread.
std::string ErrnoText(int error);

// Receives every trace line while installed, also without SKELVANE_TRACE (tests listen
// this way). Installs `receiver` (empty: none) and returns the previous one.
using TraceReceiver = std::function<void(const std::string& line)>;
TraceReceiver SetTraceReceiver(TraceReceiver receiver);

// The user's documents folder: XDG_DOCUMENTS_DIR from user-dirs.dirs, else ~/Documents.
// Empty when no home folder is known.
std::string DocumentsFolder();

// The 16-bit Windows language identifier of the user's locale
// (LC_ALL, then LC_MESSAGES, then LANG); 0x0409 when unknown.
uint16_t UserDefaultLangId();
uint16_t LangIdOfLocaleName(const std::string& locale);

// The folder of the running executable with a trailing "/"; empty when unknown.
std::string GetInstallFolder();

// Where `name` lies for a program in `programFolder`: that folder itself when `name` is
// there (a build folder), else `programFolder` + `installedFolder` + "/" when it is there
// (an installed tree), else `programFolder`, so a failure names the path beside the program.
std::string FolderHolding(const std::string& programFolder, const std::string& name,
                          const std::string& installedFolder);

// Clocks. Every reading of time in the product goes through these, so tests can
// replace them.
struct Date {
    int year = 1970;
    int month = 1;
    int day = 1;
    bool operator==(const Date&) const = default;
};
int64_t CurrentTimeMs();   // wall clock, ms since 1 January 1970
int64_t ProcessClockMs();  // monotonic, ms
Date Today();              // local date

struct ClockSource {
    std::function<int64_t()> currentTimeMs;
    std::function<int64_t()> processClockMs;
    std::function<Date()> today;
};
// Replaces the clocks; a member left empty keeps the system clock. Returns the previous source.
ClockSource SetClockSource(ClockSource source);

}  // namespace sys
