// A stand-in for log.dll that reports every call it receives to the test program, through the
// program's export RecordLogCall, as "<variant>:<call>|<arguments>". Built in variants that
// lack LogWrite or the teardown exports (see CMakeLists.txt); loading and unloading show as
// "attach" and "detach".
#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#define RECORDING_WIDEN(text) L## #text
#define RECORDING_NAME(variant) RECORDING_WIDEN(variant)

namespace {

using RecordFunction = void (*)(const wchar_t*);

void Record(const std::wstring& call) {
    const auto record = reinterpret_cast<RecordFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "RecordLogCall")));
    if (record != nullptr) {
        record((std::wstring(RECORDING_NAME(RECORDING_VARIANT)) + L":" + call).c_str());
    }
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

#ifdef RECORDING_HAS_WRITE
__declspec(dllexport) std::int32_t
    LogWrite(std::uint32_t depth, const std::uint32_t* severity, HMODULE module,
             const wchar_t* function, const wchar_t* format, va_list args) {
    wchar_t text[1024];
    const int length = _vsnwprintf(text, 1023, format, args);
    text[length < 0 ? 1023 : length] = L'\0';
    wchar_t path[MAX_PATH] = L"";
    GetModuleFileNameW(module, path, MAX_PATH);
    Record(L"LogWrite|" + std::to_wstring(depth) + L"|" + std::to_wstring(*severity) + L"|" +
           (std::wcsrchr(path, L'\\') + 1) + L"|" + function + L"|" + text);
    return 0;
}
#endif

#ifdef RECORDING_HAS_TEARDOWN
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

}  // extern "C"
