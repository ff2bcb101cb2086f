#include "host/app/StdinWatcher.h"

#include <cctype>

#include "host/app/StopSignal.h"
#include "host/output/LineWriter.h"

namespace devicescan::host {

namespace {

// How long the destructor waits for a cancelled read to return.
constexpr DWORD kReaderEndWaitMs = 200;

std::string Trimmed(const std::string& line) {
    std::size_t begin = 0;
    std::size_t end = line.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(line[begin]))) {
        ++begin;
    }
    while (end > begin && std::isspace(static_cast<unsigned char>(line[end - 1]))) {
        --end;
    }
    return line.substr(begin, end - begin);
}

// True when the line stopped the host.
bool HandleLine(const std::string& line) {
    switch (StdinWatcher::Parse(line)) {
        case StdinWatcher::Command::kQuit:
            StopSignal::Process().Request(StopSignal::Reason::kQuit);
            return true;
        case StdinWatcher::Command::kUnknown:
            LineWriter(STD_ERROR_HANDLE)
                .Write("devicescan-host: ignored input \"" + Trimmed(line) +
                       "\" (type quit to stop)");
            return false;
        case StdinWatcher::Command::kNone:
            return false;
    }
    return false;
}

// Whether a failed read means the input has ended (as opposed to a read cancelled at exit, or a
// handle that was never readable).
bool IsEndOfInput(DWORD error) {
    return error != ERROR_OPERATION_ABORTED && error != ERROR_INVALID_HANDLE;
}

}  // namespace

StdinWatcher::Command StdinWatcher::Parse(const std::string& line) {
    const std::string command = Trimmed(line);
    if (command.empty()) {
        return Command::kNone;
    }
    if (command == "quit") {
        return Command::kQuit;
    }
    return Command::kUnknown;
}

bool StdinWatcher::Start() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE) {
        return true;
    }
    reader.Reset(CreateThread(nullptr, 0, &StdinWatcher::ReaderRoutine, input, 0, nullptr));
    return reader.IsValid();
}

DWORD WINAPI StdinWatcher::ReaderRoutine(void* parameter) {
    const HANDLE input = static_cast<HANDLE>(parameter);
    std::string line;
    char buffer[512];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr)) {
            if (IsEndOfInput(GetLastError())) {
                StopSignal::Process().Request(StopSignal::Reason::kEndOfInput);
            }
            return 0;
        }
        if (got == 0) {
            // A last line without a line break still counts.
            if (HandleLine(line)) {
                return 0;
            }
            StopSignal::Process().Request(StopSignal::Reason::kEndOfInput);
            return 0;
        }
        for (DWORD i = 0; i < got; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            if (HandleLine(line)) {
                return 0;
            }
            line.clear();
        }
    }
}

StdinWatcher::~StdinWatcher() {
    if (!reader.IsValid()) {
        return;
    }
    if (CancelSynchronousIo(reader.Get())) {
        WaitForSingleObject(reader.Get(), kReaderEndWaitMs);
    }
}

}  // namespace devicescan::host
