// A log.dll for the tests: keeps every record in memory, formatted with the Windows wide rule as
// a log library would, for the tests to read back: a message as "function|severity|text", a
// trace line (depth not 0) as its text alone. The fault tests build it without LogWrite, or with
// a slow one.
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex linesLock;
std::vector<std::wstring> lines;

}  // namespace

extern "C" {

__declspec(dllexport) HRESULT LogInit() {
    return S_OK;
}
__declspec(dllexport) HRESULT LogDeinit() {
    return S_OK;
}

#ifndef RECORDING_NO_WRITE
__declspec(dllexport) HRESULT
    LogWrite(std::uint32_t depth, const std::uint32_t* severity, HMODULE, const wchar_t* function,
             const wchar_t* format, va_list args) {
    wchar_t text[1024] = {};
    _vsnwprintf(text, std::size(text) - 1, format, args);
#ifdef RECORDING_WRITE_DELAY_MS
    Sleep(RECORDING_WRITE_DELAY_MS);
#endif
    std::lock_guard<std::mutex> guard(linesLock);
    lines.push_back(depth != 0 ? text
                               : function + (L"|" + std::to_wstring(*severity)) + L"|" + text);
    return S_OK;
}
#endif

// Copies line index into buffer; 0 past the last line.
__declspec(dllexport) int RecordingLogGet(std::uint32_t index, wchar_t* buffer,
                                          std::uint32_t capacity) {
    std::lock_guard<std::mutex> guard(linesLock);
    if (index >= lines.size()) {
        return 0;
    }
    wcsncpy_s(buffer, capacity, lines[index].c_str(), _TRUNCATE);
    return 1;
}

__declspec(dllexport) void RecordingLogClear() {
    std::lock_guard<std::mutex> guard(linesLock);
    lines.clear();
}
}
