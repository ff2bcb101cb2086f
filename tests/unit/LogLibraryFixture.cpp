#include "LogLibraryFixture.h"

#include <sstream>
#include <type_traits>

#include "ProcAddress.h"

namespace testing_support {
namespace {

std::wstring TestDirectory() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L'\\'));
}

// build/bin/log.dll, beside this program's build/tests folder.
std::wstring ShippedLibrary() {
    const std::wstring tests = TestDirectory();
    return tests.substr(0, tests.find_last_of(L'\\')) + L"\\bin\\log.dll";
}

void RemoveTree(const std::wstring& directory) {
    WIN32_FIND_DATAW entry;
    const HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = directory + L"\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path);
            RemoveDirectoryW(path.c_str());
        } else {
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

std::string Narrow(const std::wstring& text) {
    return std::string(text.begin(), text.end());
}

}  // namespace

LogLibrary::LogLibrary(const std::wstring& path) : module(LoadLibraryW(path.c_str())) {
    if (module == nullptr) {
        return;
    }
    const auto resolve = [this](auto& function, const char* name) {
        function = qv::GetProcAddressAs<std::remove_reference_t<decltype(function)>>(module, name);
    };
    resolve(init, "LogInit");
    resolve(deinit, "LogDeinit");
    resolve(write, "LogWrite");
    resolve(uninitTelemetry, "LogUninitTelemetry");
    resolve(removeModule, "LogRemoveModule");
    resolve(applySettings, "LogApplySettings");
    resolve(setSettingsFile, "LogSetSettingsFile");
    resolve(enable, "LogEnable");
    resolve(setLevel, "LogSetLevel");
    resolve(setPath, "LogSetPath");
    resolve(setType, "LogSetType");
    resolve(setMode, "LogSetMode");
    resolve(setMaxSize, "LogSetMaxSize");
    resolve(setDepth, "LogSetDepth");
    resolve(isEnabled, "LogIsEnabled");
    resolve(monitorSettings, "LogMonitorSettings");
    resolve(getLevel, "LogGetLevel");
    resolve(trackEvent, "LogTrackEvent");
    resolve(trackEventData, "LogTrackEventData");
}

LogLibrary::~LogLibrary() {
    if (module != nullptr) {
        FreeLibrary(module);
    }
}

HRESULT LogLibrary::Write(std::uint32_t depth, std::uint32_t severity, const wchar_t* function,
                          const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    const HRESULT result =
        write(depth, &severity, GetModuleHandleW(nullptr), function, format, args);
    va_end(args);
    return result;
}

void LogLibraryTest::SetUp() {
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : name) {
        c = c == '/' ? '_' : c;
    }
    const std::wstring root = TestDirectory() + L"\\logdll";
    CreateDirectoryW(root.c_str(), nullptr);
    folder = root + L"\\" + std::wstring(name.begin(), name.end());
    RemoveTree(folder);
    CreateDirectoryW(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(ShippedLibrary().c_str(), InFolder(L"log.dll").c_str(), FALSE))
        << "cannot copy " << Narrow(ShippedLibrary()) << ", error " << GetLastError();
}

void LogLibraryTest::TearDown() {
    library.reset();
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "log.dll is still loaded";
}

void LogLibraryTest::WriteSettings(const std::string& bytes) const {
    const HANDLE file = CreateFileW(InFolder(L"log.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void LogLibraryTest::Load() {
    library = std::make_unique<LogLibrary>(InFolder(L"log.dll"));
    ASSERT_TRUE(library->Loaded()) << "cannot load log.dll, error " << GetLastError();
}

std::string ReadBytes(const std::wstring& path) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    return bytes;
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ReadLines(const std::wstring& path) {
    const std::string bytes = ReadBytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "unterminated line in " << Narrow(path) << ": " << bytes.substr(start);
            break;
        }
        lines.push_back(bytes.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// Split by hand: std::regex recurses per character and overflows the stack on long lines.
LogLine Parse(const std::string& line) {
    LogLine parsed;
    std::istringstream fields(line);
    std::string rest;
    fields >> parsed.date >> parsed.time >> parsed.threadId >> parsed.severity >> parsed.module >>
        parsed.function;
    const bool layout = fields && parsed.date.size() == 10 && parsed.time.size() == 12 &&
                        parsed.time[8] == '.' && parsed.function.back() == ':' &&
                        fields.get() == ' ';
    if (!layout) {
        ADD_FAILURE() << "not a log line: " << line;
        return {};
    }
    parsed.function.pop_back();
    std::getline(fields, parsed.text, '\0');
    return parsed;
}

}  // namespace testing_support
