// A log.dll for the unit tests: keeps every record it is given in memory, formatted with the
// Windows wide rule, for the tests to read back through the extra exports.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <vector>

#include "RecordingLog.h"

namespace {

std::mutex linesLock;
std::vector<RecordedLogLine> lines;

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT LogInit() {
    return S_OK;
}
__declspec(dllexport) HRESULT LogDeinit() {
    return S_OK;
}

// The fault tests build this library without LogWrite, or with a LogWrite that is slow.
#ifndef RECORDING_NO_WRITE
__declspec(dllexport) HRESULT
    LogWrite(std::uint32_t depth, const std::uint32_t* severity, HMODULE, const wchar_t* function,
             const wchar_t* format, va_list args) {
    RecordedLogLine line{};
    line.depth = depth;
    line.severity = severity != nullptr ? *severity : 0;
    wcsncpy_s(line.function, function != nullptr ? function : L"", _TRUNCATE);
    _vsnwprintf(line.text, std::size(line.text) - 1, format, args);
#ifdef RECORDING_WRITE_DELAY_MS
    Sleep(RECORDING_WRITE_DELAY_MS);
#endif
    std::lock_guard<std::mutex> guard(linesLock);
    lines.push_back(line);
    return S_OK;
}
#endif

__declspec(dllexport) std::uint32_t RecordingLogCount() {
    std::lock_guard<std::mutex> guard(linesLock);
    return static_cast<std::uint32_t>(lines.size());
}

__declspec(dllexport) int RecordingLogGet(std::uint32_t index, RecordedLogLine* line) {
    std::lock_guard<std::mutex> guard(linesLock);
    if (index >= lines.size()) {
        return 0;
    }
    *line = lines[index];
    return 1;
}

__declspec(dllexport) void RecordingLogClear() {
    std::lock_guard<std::mutex> guard(linesLock);
    lines.clear();
}
}
