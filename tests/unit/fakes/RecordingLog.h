#pragma once

#include <cstdint>

// What the recording log.dll of the unit tests keeps of each record it is given, formatted the
// way a log library would.
struct RecordedLogLine {
    std::uint32_t depth;
    std::uint32_t severity;
    wchar_t function[260];
    wchar_t text[1024];
};

// Its exports beside the logging ones, for the tests to read the records back.
using RecordingLogCountFunction = std::uint32_t (*)();
using RecordingLogGetFunction = int (*)(std::uint32_t index, RecordedLogLine* line);
using RecordingLogClearFunction = void (*)();
