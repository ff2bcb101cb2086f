#include "HostProcess.h"

#include <chrono>

namespace {

std::wstring Quoted(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
        return arg;
    }
    std::wstring quoted = L"\"";
    for (const wchar_t c : arg) {
        if (c == L'"') {
            quoted += L'\\';
        }
        quoted += c;
    }
    return quoted + L"\"";
}

bool MakePipe(HANDLE& read, HANDLE& write, bool childReads) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) {
        return false;
    }
    // Only the child's end is inherited.
    SetHandleInformation(childReads ? write : read, HANDLE_FLAG_INHERIT, 0);
    return true;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t begin = 0;
    for (std::size_t end; (end = text.find('\n', begin)) != std::string::npos; begin = end + 1) {
        lines.push_back(text.substr(begin, end - begin));
    }
    return lines;
}

bool HasLineWith(const std::string& text, const std::vector<std::string>& parts) {
    for (const std::string& line : SplitLines(text)) {
        bool all = true;
        for (const std::string& part : parts) {
            all = all && line.find(part) != std::string::npos;
        }
        if (all) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::wstring HostProcess::TestDirectory() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    return path.substr(0, path.find_last_of(L'\\'));
}

std::wstring HostProcess::HostPath() {
    const std::wstring tests = TestDirectory();
    return tests.substr(0, tests.find_last_of(L'\\')) + L"\\bin\\devicescan-host.exe";
}

bool HostProcess::Launch(const std::vector<std::wstring>& args, Input inputKind, bool ownGroup) {
    HANDLE childIn = nullptr;
    HANDLE outRead = nullptr;
    HANDLE childOut = nullptr;
    HANDLE errRead = nullptr;
    HANDLE childErr = nullptr;
    if (inputKind == Input::kPipe) {
        if (!MakePipe(childIn, input, true)) {
            return false;
        }
    } else {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        childIn = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    }
    if (!MakePipe(outRead, childOut, false) || !MakePipe(errRead, childErr, false)) {
        return false;
    }
    std::wstring commandLine = Quoted(HostPath());
    for (const std::wstring& arg : args) {
        commandLine += L" " + Quoted(arg);
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childErr;
    const BOOL started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                                        ownGroup ? CREATE_NEW_PROCESS_GROUP : 0, nullptr, nullptr,
                                        &startup, &process);
    CloseHandle(childIn);
    CloseHandle(childOut);
    CloseHandle(childErr);
    outReader = std::thread(&HostProcess::Pump, outRead, std::ref(out));
    errReader = std::thread(&HostProcess::Pump, errRead, std::ref(err));
    return started != FALSE;
}

void HostProcess::Pump(HANDLE pipe, Capture& capture) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got != 0) {
        std::lock_guard lock(capture.lock);
        capture.text.append(buffer, got);
        capture.changed.notify_all();
    }
    CloseHandle(pipe);
}

bool HostProcess::WaitForLine(const std::vector<std::string>& parts, DWORD timeoutMs) {
    std::unique_lock lock(out.lock);
    return out.changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return HasLineWith(out.text, parts); });
}

void HostProcess::Send(const std::string& text) {
    DWORD written = 0;
    WriteFile(input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void HostProcess::CloseInput() {
    if (input != nullptr) {
        CloseHandle(input);
        input = nullptr;
    }
}

std::optional<DWORD> HostProcess::WaitForExit(DWORD timeoutMs) {
    if (process.hProcess == nullptr ||
        WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    // The pipes end with the process: let the readers take the last of the output.
    JoinReaders();
    return code;
}

std::vector<std::string> HostProcess::OutLines() const {
    std::lock_guard lock(out.lock);
    return SplitLines(out.text);
}

std::string HostProcess::Err() const {
    std::lock_guard lock(err.lock);
    return err.text;
}

void HostProcess::JoinReaders() {
    if (outReader.joinable()) {
        outReader.join();
    }
    if (errReader.joinable()) {
        errReader.join();
    }
}

HostProcess::~HostProcess() {
    CloseInput();
    if (process.hProcess != nullptr) {
        if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(process.hProcess, 99);
            WaitForSingleObject(process.hProcess, 5000);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    JoinReaders();
}
