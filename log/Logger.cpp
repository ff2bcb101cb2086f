#include "log/Logger.h"

#include <algorithm>
#include <cwchar>
#include <mutex>

#include "log/LineBuffer.h"
#include "log/LineFormat.h"
#include "log/LogFilePath.h"
#include "log/RecordText.h"
#include "sdk/PathCapacity.h"
#include "sdk/Utf8.h"

namespace devicescan::logdll {
namespace {

constexpr std::uint64_t kRetryOpenAfterMs = 1000;
constexpr std::uint64_t kMonitorIntervalMs = 1000;
constexpr std::size_t kBufferedBytesLimit = 64 * 1024;
constexpr std::uint64_t kBufferedAgeLimitMs = 1000;
constexpr std::size_t kMaximumNotes = 32;

void SendToDebugger(std::string_view line) {
    OutputDebugStringW(qv::FromUtf8(line).c_str());
}

}  // namespace

Logger::Logger(HMODULE library) {
    const std::wstring libraryPath = ModulePath(library);
    libraryDirectory = DirectoryOf(libraryPath);
    libraryName = libraryPath.empty() ? std::wstring(L"log.dll") : FileNameOf(libraryPath);
    defaultFileName = LogFileNameFor(ModulePath(nullptr));
    defaultSettingsPath = libraryDirectory + L"\\log.ini";
    settingsPath = defaultSettingsPath;
}

Logger::~Logger() {
    std::lock_guard<SrwLock> guard(lock);
    file.Close();
}

void Logger::Init() {
    std::lock_guard<SrwLock> guard(lock);
    ++initCount;
    LoadSettingsOnceLocked();
}

void Logger::Deinit() {
    std::lock_guard<SrwLock> guard(lock);
    if (initCount == 0) {
        return;
    }
    if (--initCount == 0) {
        file.Close();
    }
}

HRESULT Logger::Write(std::uint32_t depth, const std::uint32_t* severity, HMODULE module,
                      const wchar_t* function, const wchar_t* format, va_list args) {
    if (severity == nullptr || format == nullptr) {
        return E_POINTER;
    }
    // The level moves even for a record that is filtered out, so indentation stays right.
    const std::uint32_t indent = depths.Advance(depth);
    Prepare();
    if (!Accepts(*severity, indent)) {
        return S_FALSE;
    }
    const RecordText text(format, args);
    return Emit(module, function == nullptr ? L"" : function, *severity, indent, text.View());
}

HRESULT Logger::WriteEvent(HMODULE module, const wchar_t* name, const wchar_t* data) {
    if (name == nullptr) {
        return E_POINTER;
    }
    const std::uint32_t indent = depths.Advance(LOG_DEPTH_MESSAGE);
    Prepare();
    if (!Accepts(LOG_SEVERITY_INFO, indent)) {
        return S_FALSE;
    }
    std::wstring text(name);
    if (data != nullptr) {
        text.append(L": ").append(data);
    }
    return Emit(module, L"event", LOG_SEVERITY_INFO, indent, text);
}

void Logger::Flush() {
    std::lock_guard<SrwLock> guard(lock);
    file.Flush();
    oldestBufferedTick = 0;
}

void Logger::FlushAtProcessExit() noexcept {
    std::unique_lock<SrwLock> guard(lock, std::try_to_lock);
    if (guard.owns_lock()) {
        file.Flush();
    }
}

void Logger::Prepare() {
    if (!settingsLoaded.load(std::memory_order_acquire)) {
        std::lock_guard<SrwLock> guard(lock);
        LoadSettingsOnceLocked();
        return;
    }
    if (!monitor.load(std::memory_order_relaxed) ||
        GetTickCount64() < nextMonitorCheck.load(std::memory_order_relaxed)) {
        return;
    }
    std::lock_guard<SrwLock> guard(lock);
    const std::uint64_t now = GetTickCount64();
    if (now < nextMonitorCheck.load()) {
        return;
    }
    nextMonitorCheck.store(now + kMonitorIntervalMs);
    if (!(StampOf(settingsPath) == settingsStamp)) {
        LoadSettingsLocked();
    }
}

bool Logger::Accepts(std::uint32_t severity, std::uint32_t indent) const noexcept {
    if (!enabled.load(std::memory_order_relaxed) ||
        severity > level.load(std::memory_order_relaxed)) {
        return false;
    }
    const std::uint32_t limit = depthLimit.load(std::memory_order_relaxed);
    return limit == 0 || indent <= limit;
}

HRESULT Logger::Emit(HMODULE module, std::wstring_view function, std::uint32_t severity,
                     std::uint32_t indent, std::wstring_view text) {
    wchar_t moduleBuffer[MAX_PATH * 2];
    LineFields fields{};
    GetLocalTime(&fields.localTime);
    fields.threadId = GetCurrentThreadId();
    fields.severity = severity;
    fields.module = ModuleFileName(module, moduleBuffer, MAX_PATH * 2);
    fields.function = function;
    fields.indent = indent;
    fields.text = text;
    LineBuffer line;
    FormatLine(line, fields);

    const std::uint32_t outputs = types.load(std::memory_order_relaxed);
    if ((outputs & LOG_TYPE_DEBUGGER) != 0) {
        SendToDebugger(line.View());
    }
    if ((outputs & LOG_TYPE_FILE) == 0) {
        return S_OK;
    }
    std::lock_guard<SrwLock> guard(lock);
    return AppendLocked(line.View(), severity);
}

HRESULT Logger::AppendLocked(std::string_view line, std::uint32_t severity) {
    DWORD error = EnsureFileOpenLocked();
    if (error == ERROR_SUCCESS) {
        RotateIfFullLocked(line.size());
        error = EnsureFileOpenLocked();
    }
    if (error != ERROR_SUCCESS) {
        return HRESULT_FROM_WIN32(error);
    }
    file.Append(line);
    if (FlushDueLocked(severity)) {
        file.Flush();
        oldestBufferedTick = 0;
    }
    return S_OK;
}

DWORD Logger::EnsureFileOpenLocked() {
    if (file.IsOpen()) {
        return ERROR_SUCCESS;
    }
    const std::uint64_t now = GetTickCount64();
    if (now < nextOpenAttempt) {
        return lastOpenError;
    }
    const std::wstring wanted = ResolvedPathLocked();
    const std::wstring fallback = libraryDirectory + L"\\" + defaultFileName;
    DWORD error = file.Open(wanted);
    if (error != ERROR_SUCCESS && wanted != fallback) {
        NoteLocked(L"cannot open the log file \"" + wanted + L"\" [error = " +
                   std::to_wstring(error) + L"], writing to \"" + fallback + L"\" instead");
        error = file.Open(fallback);
    }
    if (error != ERROR_SUCCESS) {
        nextOpenAttempt = now + kRetryOpenAfterMs;
        lastOpenError = error;
        return error;
    }
    WriteNotesLocked();
    return ERROR_SUCCESS;
}

void Logger::RotateIfFullLocked(std::size_t incoming) {
    const std::uint64_t size = file.Size();
    if (settings.maxSize == 0 || size == 0 || size + incoming <= settings.maxSize ||
        size < rotationBlockedBelow) {
        return;
    }
    oldestBufferedTick = 0;
    const DWORD error = file.Rotate(settings.backups);
    if (error == ERROR_SUCCESS) {
        rotationBlockedBelow = 0;
        return;
    }
    // Another program holds the file or a backup: grow a little further before trying again.
    rotationBlockedBelow = size + std::max<std::uint64_t>(settings.maxSize / 4, 4096);
    if (file.IsOpen()) {
        NoteLocked(L"cannot rotate the log file [error = " + std::to_wstring(error) + L"]");
        WriteNotesLocked();
    }
}

bool Logger::FlushDueLocked(std::uint32_t severity) noexcept {
    if (settings.mode == LOG_MODE_FLUSH_EACH_LINE || severity <= LOG_SEVERITY_WARNING ||
        file.Buffered() >= kBufferedBytesLimit) {
        return true;
    }
    const std::uint64_t now = GetTickCount64();
    if (oldestBufferedTick == 0) {
        oldestBufferedTick = now;
    }
    return now - oldestBufferedTick >= kBufferedAgeLimitMs;
}

void Logger::NoteLocked(std::wstring text) {
    if (notes.size() < kMaximumNotes) {
        notes.push_back(std::move(text));
    }
}

// The library's own warnings, as lines of its own, in the open file.
void Logger::WriteNotesLocked() {
    for (const std::wstring& note : notes) {
        LineFields fields{};
        GetLocalTime(&fields.localTime);
        fields.threadId = GetCurrentThreadId();
        fields.severity = LOG_SEVERITY_WARNING;
        fields.module = libraryName;
        fields.function = L"settings";
        fields.text = note;
        LineBuffer line;
        FormatLine(line, fields);
        file.Append(line.View());
    }
    notes.clear();
    file.Flush();
}

std::wstring Logger::ResolvedPathLocked() const {
    return ResolveLogPath(settings.path, libraryDirectory, defaultFileName);
}

// Setters change the loaded settings, so the file is read before the first of them.
void Logger::LoadSettingsOnceLocked() {
    if (!settingsLoaded.load()) {
        LoadSettingsLocked();
    }
}

HRESULT Logger::LoadSettingsLocked() {
    std::vector<std::wstring> problems;
    bool found = false;
    settingsStamp = StampOf(settingsPath);
    settings = ReadSettingsFile(settingsPath, problems, found);
    const std::wstring source = FileNameOf(settingsPath);
    for (const std::wstring& problem : problems) {
        NoteLocked(source + L": " + problem);
    }
    // A new path takes effect with the next line; so do new limits on rotation.
    file.Close();
    nextOpenAttempt = 0;
    rotationBlockedBelow = 0;
    PublishLocked();
    settingsLoaded.store(true, std::memory_order_release);
    return found && problems.empty() ? S_OK : S_FALSE;
}

void Logger::PublishLocked() noexcept {
    enabled.store(settings.enabled);
    level.store(settings.level);
    depthLimit.store(settings.depth);
    types.store(settings.type);
    monitor.store(settings.monitor);
}

HRESULT Logger::ApplySettings() {
    std::lock_guard<SrwLock> guard(lock);
    return LoadSettingsLocked();
}

HRESULT Logger::SetSettingsFile(const wchar_t* path) {
    std::lock_guard<SrwLock> guard(lock);
    if (path != nullptr && std::wcslen(path) >= qv::kPathCapacity) {
        return E_INVALIDARG;
    }
    settingsPath = path == nullptr || *path == L'\0' ? defaultSettingsPath : std::wstring(path);
    return LoadSettingsLocked();
}

void Logger::Enable(bool enable) {
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.enabled = enable;
    PublishLocked();
}

void Logger::SetLevel(std::uint32_t newLevel) {
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.level = newLevel;
    PublishLocked();
}

HRESULT Logger::SetPath(const wchar_t* path) {
    if (path != nullptr && std::wcslen(path) >= qv::kPathCapacity) {
        return E_INVALIDARG;
    }
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.path = path == nullptr ? std::wstring() : std::wstring(path);
    file.Close();
    nextOpenAttempt = 0;
    return S_OK;
}

HRESULT Logger::SetType(std::uint32_t type) {
    if (type == 0 || (type & ~(LOG_TYPE_FILE | LOG_TYPE_DEBUGGER)) != 0) {
        return E_INVALIDARG;
    }
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.type = type;
    PublishLocked();
    return S_OK;
}

HRESULT Logger::SetMode(std::uint32_t mode) {
    if (mode != LOG_MODE_FLUSH_EACH_LINE && mode != LOG_MODE_BUFFERED) {
        return E_INVALIDARG;
    }
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.mode = mode;
    file.Flush();
    oldestBufferedTick = 0;
    return S_OK;
}

HRESULT Logger::SetMaxSize(std::uint64_t bytes) {
    if (bytes != 0 && bytes < kMinimumMaxSize) {
        return E_INVALIDARG;
    }
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.maxSize = bytes;
    rotationBlockedBelow = 0;
    return S_OK;
}

void Logger::SetDepth(std::uint32_t depth) {
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.depth = depth;
    PublishLocked();
}

bool Logger::IsEnabled() {
    Prepare();
    return enabled.load();
}

void Logger::MonitorSettings(bool enable) {
    std::lock_guard<SrwLock> guard(lock);
    LoadSettingsOnceLocked();
    settings.monitor = enable;
    nextMonitorCheck.store(0);
    PublishLocked();
}

std::uint32_t Logger::GetLevel() {
    Prepare();
    return level.load();
}

}  // namespace devicescan::logdll
