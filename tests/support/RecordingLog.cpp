// A log.dll for the tests. It keeps every call it receives in memory, for the service tests to
// read back, and reports each at once to the test program's export RecordLogCall when the
// program has one (the binding tests, which also watch it being loaded and unloaded). A call
// reads "LogInit", "LogRemoveModule|<caller>", "LogWrite|<depth>|<severity>|<module>|<function>|
// <text>" (the text formatted with the Windows wide rule, as a log library would) and so on; a
// report starts with "<RECORDING_VARIANT>:". Built without LogWrite (RECORDING_NO_WRITE), without
// the teardown exports (RECORDING_NO_TEARDOWN) or with a slow LogWrite (RECORDING_WRITE_DELAY_MS).
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <string>
#include <vector>

#ifndef RECORDING_VARIANT
#define RECORDING_VARIANT log
#endif
#define RECORDING_WIDEN(text) L## #text
#define RECORDING_NAME(variant) RECORDING_WIDEN(variant)

namespace {

std::mutex linesLock;
std::vector<std::wstring> lines;

void Record(const std::wstring& call) {
    const auto report = reinterpret_cast<void (*)(const wchar_t*)>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "RecordLogCall")));
    if (report != nullptr) {
        report((RECORDING_NAME(RECORDING_VARIANT) L":" + call).c_str());
    }
    std::lock_guard<std::mutex> guard(linesLock);
    lines.push_back(call);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    // At process exit the program's record list may already be gone.
    if (reason == DLL_PROCESS_ATTACH) {
        Record(L"attach");
    } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        Record(L"detach");
    }
    return TRUE;
}

extern "C" {

__declspec(dllexport) void LogInit() {
    Record(L"LogInit");
}

#ifndef RECORDING_NO_WRITE
__declspec(dllexport) HRESULT
    LogWrite(std::uint32_t depth, const std::uint32_t* severity, HMODULE module,
             const wchar_t* function, const wchar_t* format, va_list args) {
    wchar_t text[1024];
    const int length = _vsnwprintf(text, 1023, format, args);
    text[length < 0 ? 1023 : length] = L'\0';
#ifdef RECORDING_WRITE_DELAY_MS
    Sleep(RECORDING_WRITE_DELAY_MS);
#endif
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    Record(L"LogWrite|" + std::to_wstring(depth) + L"|" + std::to_wstring(*severity) + L"|" +
           (std::wcsrchr(path, L'\\') + 1) + L"|" + function + L"|" + text);
    return S_OK;
}
#endif

#ifndef RECORDING_NO_TEARDOWN
__declspec(dllexport) void LogDeinit() {
    Record(L"LogDeinit");
}
__declspec(dllexport) void LogUninitTelemetry() {
    Record(L"LogUninitTelemetry");
}
__declspec(dllexport) void LogRemoveModule(const char* caller) {
    Record(L"LogRemoveModule|" +
           std::wstring(caller, caller + std::char_traits<char>::length(caller)));
}
#endif

// Copies record index into buffer; 0 past the last one.
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

}  // extern "C"
