#include "host/hosting/ServiceWatch.h"

#include <utility>

#include "host/hosting/ServiceSession.h"
#include "sdk/ServiceWindow.h"
#include "sdk/SystemMessage.h"

namespace devicescan::host {

namespace {

constexpr wchar_t kWindowLost[] = L"service-window-lost";

}  // namespace

ServiceWatch::ServiceWatch(ServiceSession& session, qv::IServiceHost* serviceHost,
                           EventPrinter printer)
    : session(session),
      serviceHost(serviceHost),
      printer(std::move(printer)),
      nextCheck(GetTickCount64() + kPeriodMs) {}

DWORD ServiceWatch::MsUntilDue() const {
    const ULONGLONG now = GetTickCount64();
    return now >= nextCheck ? 0 : static_cast<DWORD>(nextCheck - now);
}

ServiceWatch::Outcome ServiceWatch::CheckIfDue(std::wstring& failure) {
    if (MsUntilDue() != 0) {
        return Outcome::kRunning;
    }
    nextCheck = GetTickCount64() + kPeriodMs;
    if (ServiceWindowPresent()) {
        return Outcome::kRunning;
    }
    return Restart(failure);
}

ServiceWatch::Outcome ServiceWatch::Restart(std::wstring& failure) {
    printer.Notice(L"warning", kWindowLost,
                   L"the service window is gone, device changes are not seen; restarting");
    std::wstring step;
    const std::uint32_t code = session.Restart(serviceHost, step);
    if (code != 0) {
        failure = L"restart after the service window was lost: " + step + L" failed: " +
                  qv::DescribeError(code);
        printer.Notice(L"error", L"restart-failed", failure);
        return Outcome::kRestartFailed;
    }
    printer.Notice(L"restarted", kWindowLost, L"");
    nextCheck = GetTickCount64() + kPeriodMs;
    return Outcome::kRestarted;
}

bool ServiceWatch::ServiceWindowPresent() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, QV_SERVICE_WINDOW_CLASS, nullptr)) != nullptr) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId == GetCurrentProcessId()) {
            return true;
        }
    }
    return false;
}

}  // namespace devicescan::host
