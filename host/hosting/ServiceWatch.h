#pragma once

#include <windows.h>

#include <string>

#include "host/output/EventPrinter.h"
#include "sdk/IServiceHost.h"

namespace devicescan::host {

class ServiceSession;

// Keeps watch over a running service: any process in the session can find the service's
// window by its class and close it (a posted WM_CLOSE ends the window and its message loop), and
// from then on no volume would be announced. Checked at least once a second; when the window is
// gone the host says so (a "warning" event, reason service-window-lost), restarts the service
// and says so again ("restarted"), or reports the failure ("error", reason restart-failed).
//
// Every started service is watched, from the first check on: whether a window is there at one
// moment cannot tell a service that has none from one whose window was closed at once, as a
// program that closes every such window the moment it appears does. So a window missing at a
// check, the first included, is a window lost, each time.
//
// Threads: the main thread only, between the session's other life-cycle calls.
class ServiceWatch {
  public:
    static constexpr DWORD kPeriodMs = 500;

    enum class Outcome { kRunning, kRestarted, kRestartFailed };

    ServiceWatch(ServiceSession& session, qv::IServiceHost* serviceHost, EventPrinter printer);

    // Milliseconds until the next check is due; 0 when it is due now.
    DWORD MsUntilDue() const;
    // Checks the window when a check is due, restarting the service when it has gone. On
    // kRestartFailed, failure says which call failed and why.
    Outcome CheckIfDue(std::wstring& failure);

    // Whether a window of the service's class belongs to this process (other processes on the
    // same desktop may run services of their own).
    static bool ServiceWindowPresent();

  private:
    Outcome Restart(std::wstring& failure);

    ServiceSession& session;
    qv::IServiceHost* serviceHost;
    EventPrinter printer;
    ULONGLONG nextCheck;
};

}  // namespace devicescan::host
