#include "host/app/StopSignal.h"

namespace devicescan::host {

namespace {

// The system gives a closing console's processes about five seconds.
constexpr DWORD kCloseWaitMs = 4000;

}  // namespace

StopSignal::StopSignal() noexcept
    : event(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      finished(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

StopSignal& StopSignal::Process() {
    // Deliberately never destroyed: see the class comment.
    static StopSignal* const instance = new StopSignal();
    return *instance;
}

bool StopSignal::InstallConsoleHandler() noexcept {
    return SetConsoleCtrlHandler(&StopSignal::ConsoleHandler, TRUE) != FALSE;
}

BOOL WINAPI StopSignal::ConsoleHandler(DWORD controlType) {
    switch (controlType) {
        case CTRL_C_EVENT:
            Process().Request(Reason::kCtrlC);
            return TRUE;
        case CTRL_BREAK_EVENT:
            Process().Request(Reason::kCtrlBreak);
            return TRUE;
        case CTRL_CLOSE_EVENT:
            Process().Request(Reason::kClose);
            WaitForSingleObject(Process().finished, kCloseWaitMs);
            return TRUE;
        default:
            return FALSE;
    }
}

void StopSignal::Request(Reason why) noexcept {
    Reason expected = Reason::kNone;
    reason.compare_exchange_strong(expected, why);
    SetEvent(event);
}

const wchar_t* StopSignal::Name(Reason why) noexcept {
    switch (why) {
        case Reason::kQuit:
            return L"quit";
        case Reason::kEndOfInput:
            return L"end-of-input";
        case Reason::kCtrlC:
            return L"ctrl-c";
        case Reason::kCtrlBreak:
            return L"ctrl-break";
        case Reason::kClose:
            return L"close";
        case Reason::kTimeout:
            return L"timeout";
        case Reason::kNone:
            break;
    }
    return L"none";
}

}  // namespace devicescan::host
