#pragma once

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/LogFile.h"
#include "log/Settings.h"
#include "log/SettingsFile.h"
#include "log/SrwLock.h"
#include "log/ThreadDepth.h"

namespace devicescan::logdll {

// The library: its settings, every thread's trace level and the log file. One per load of the
// library, created when it is loaded and destroyed (with the file written out and closed) when
// it is unloaded.
//
// Threads: every export may be called from any thread. A writer moves its own thread's level,
// checks the filters (atomic copies of the settings, so a filtered record takes no lock), and
// formats its line on its own stack; only then does it take `lock`, the one lock, which guards
// the settings, the file, its buffer, rotation and flushing. A line is appended whole under the
// lock, so lines never mix.
class Logger {
  public:
    explicit Logger(HMODULE library);
    ~Logger();
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    void Init();
    void Deinit();
    HRESULT Write(std::uint32_t depth, const std::uint32_t* severity, HMODULE module,
                  const wchar_t* function, const wchar_t* format, va_list args);
    HRESULT WriteEvent(HMODULE module, const wchar_t* name, const wchar_t* data);
    void Flush();
    // At process exit other threads are gone, possibly inside the lock: writes out what is
    // buffered only when the lock is free.
    void FlushAtProcessExit() noexcept;

    HRESULT ApplySettings();
    HRESULT SetSettingsFile(const wchar_t* path);
    void Enable(bool enable);
    void SetLevel(std::uint32_t level);
    HRESULT SetPath(const wchar_t* path);
    HRESULT SetType(std::uint32_t type);
    HRESULT SetMode(std::uint32_t mode);
    HRESULT SetMaxSize(std::uint64_t bytes);
    void SetDepth(std::uint32_t depth);
    bool IsEnabled();
    void MonitorSettings(bool enable);
    std::uint32_t GetLevel();

  private:
    // Loads the settings on first use and, while monitored, again when their file changes.
    void Prepare();
    bool Accepts(std::uint32_t severity, std::uint32_t indent) const noexcept;
    HRESULT Emit(HMODULE module, std::wstring_view function, std::uint32_t severity,
                 std::uint32_t indent, std::wstring_view text);

    // The rest runs under lock.
    void LoadSettingsOnceLocked();
    HRESULT LoadSettingsLocked();
    void PublishLocked() noexcept;
    HRESULT AppendLocked(std::string_view line, std::uint32_t severity);
    DWORD EnsureFileOpenLocked();
    void RotateIfFullLocked(std::size_t incoming);
    bool FlushDueLocked(std::uint32_t severity) noexcept;
    void WriteNotesLocked();
    void NoteLocked(std::wstring text);
    std::wstring ResolvedPathLocked() const;

    // Fixed for the life of the library.
    std::wstring libraryDirectory;
    std::wstring libraryName;
    std::wstring defaultFileName;  // the host program's name, with ".log"
    std::wstring defaultSettingsPath;
    ThreadDepth depths;

    // Copies of the settings for the filters before the lock.
    std::atomic<bool> settingsLoaded{false};
    std::atomic<bool> enabled{true};
    std::atomic<std::uint32_t> level{LOG_SEVERITY_INFO};
    std::atomic<std::uint32_t> depthLimit{0};
    std::atomic<std::uint32_t> types{LOG_TYPE_FILE};
    std::atomic<bool> monitor{false};
    std::atomic<std::uint64_t> nextMonitorCheck{0};

    SrwLock lock;
    // Guarded by lock.
    Settings settings;
    std::wstring settingsPath;
    SettingsFileStamp settingsStamp;
    std::vector<std::wstring>
        notes;  // warnings of the library itself, written before the next line
    LogFile file;
    int initCount = 0;
    std::uint64_t nextOpenAttempt = 0;
    DWORD lastOpenError = ERROR_SUCCESS;
    std::uint64_t rotationBlockedBelow = 0;  // after a failed rotation, the size to retry at
    std::uint64_t oldestBufferedTick = 0;    // when the oldest buffered line was added; 0: none
};

}  // namespace devicescan::logdll
