#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <memory>
#include <string>
#include <vector>

#include "LogApi.h"

namespace testing_support {

// The shipped log.dll, loaded from a copy in a folder of the test's own; its exports resolved.
class LogLibrary {
  public:
    explicit LogLibrary(const std::wstring& path);
    ~LogLibrary();
    LogLibrary(const LogLibrary&) = delete;
    LogLibrary& operator=(const LogLibrary&) = delete;

    bool Loaded() const { return module != nullptr && write != nullptr; }
    HMODULE Module() const { return module; }

    // One record written as the test program, with its arguments packed as LogWrite takes them.
    HRESULT Write(std::uint32_t depth, std::uint32_t severity, const wchar_t* function,
                  const wchar_t* format, ...);

    LogInitFunction init = nullptr;
    LogDeinitFunction deinit = nullptr;
    LogWriteFunction write = nullptr;
    LogUninitTelemetryFunction uninitTelemetry = nullptr;
    LogRemoveModuleFunction removeModule = nullptr;
    LogApplySettingsFunction applySettings = nullptr;
    LogSetSettingsFileFunction setSettingsFile = nullptr;
    LogEnableFunction enable = nullptr;
    LogSetLevelFunction setLevel = nullptr;
    LogSetPathFunction setPath = nullptr;
    LogSetTypeFunction setType = nullptr;
    LogSetModeFunction setMode = nullptr;
    LogSetMaxSizeFunction setMaxSize = nullptr;
    LogSetDepthFunction setDepth = nullptr;
    LogIsEnabledFunction isEnabled = nullptr;
    LogMonitorSettingsFunction monitorSettings = nullptr;
    LogGetLevelFunction getLevel = nullptr;
    LogTrackEventFunction trackEvent = nullptr;
    LogTrackEventDataFunction trackEventData = nullptr;

  private:
    HMODULE module;
};

// One line of the log, split into its fields; text keeps its indentation.
struct LogLine {
    std::string date;
    std::string time;
    unsigned long threadId = 0;
    std::string severity;
    std::string module;
    std::string function;
    std::string text;
};

// The lines of a log file (without their CR LF); a final line without CR LF fails the test.
std::vector<std::string> ReadLines(const std::wstring& path);
// A line split into its fields; fails the test when it does not have the line layout.
LogLine Parse(const std::string& line);
std::string ReadBytes(const std::wstring& path);
bool Exists(const std::wstring& path);

// Each test gets its own folder, build/tests/logdll/<test>, emptied first, with a copy of the
// shipped log.dll; the default log file there is named after this program.
class LogLibraryTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    void WriteSettings(const std::string& bytes) const;
    void Load();
    void Unload() { library.reset(); }

    std::wstring InFolder(const std::wstring& name) const { return folder + L"\\" + name; }
    std::wstring DefaultLog() const { return InFolder(L"log_dll_tests.log"); }

    std::wstring folder;
    std::unique_ptr<LogLibrary> library;
};

}  // namespace testing_support
