#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "LogRef.h"
#include "ProcAddress.h"
#include "fakes/RecordingLog.h"

namespace support {

struct LogLine {
    std::uint32_t depth;
    std::uint32_t severity;
    std::wstring function;
    std::wstring text;
};

// Reads back what the module under test wrote to the recording log.dll beside the test program.
// Holds a log reference for its whole life, so the library (and its records) stay loaded.
class LogRecorder {
  public:
    LogRecorder() {
        reference.Acquire();
        const HMODULE library = GetModuleHandleW(L"log.dll");
        count = qv::GetProcAddressAs<RecordingLogCountFunction>(library, "RecordingLogCount");
        get = qv::GetProcAddressAs<RecordingLogGetFunction>(library, "RecordingLogGet");
        clear = qv::GetProcAddressAs<RecordingLogClearFunction>(library, "RecordingLogClear");
        Clear();
    }

    bool Loaded() const { return count != nullptr && get != nullptr && clear != nullptr; }

    void Clear() {
        if (clear != nullptr) {
            clear();
        }
    }

    std::vector<LogLine> Lines() const {
        std::vector<LogLine> result;
        if (!Loaded()) {
            return result;
        }
        const std::uint32_t total = count();
        for (std::uint32_t i = 0; i < total; ++i) {
            RecordedLogLine line;
            if (get(i, &line)) {
                result.push_back({line.depth, line.severity, line.function, line.text});
            }
        }
        return result;
    }

    // Messages only (no trace lines), as "function|severity|text".
    std::vector<std::wstring> Messages() const {
        std::vector<std::wstring> result;
        for (const LogLine& line : Lines()) {
            if (line.depth == 0) {
                result.push_back(line.function + L"|" + std::to_wstring(line.severity) + L"|" +
                                 line.text);
            }
        }
        return result;
    }

    // Every line's text in order, trace lines included.
    std::vector<std::wstring> Texts() const {
        std::vector<std::wstring> result;
        for (const LogLine& line : Lines()) {
            result.push_back(line.text);
        }
        return result;
    }

  private:
    logging::LogRef reference;
    RecordingLogCountFunction count = nullptr;
    RecordingLogGetFunction get = nullptr;
    RecordingLogClearFunction clear = nullptr;
};

}  // namespace support
