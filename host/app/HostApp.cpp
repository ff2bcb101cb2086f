#include "host/app/HostApp.h"

#include <windows.h>

#include <algorithm>
#include <utility>

#include "host/app/QuarantineRun.h"
#include "host/app/StdinWatcher.h"
#include "host/hosting/ComponentManager.h"
#include "host/hosting/HostListener.h"
#include "host/hosting/ModuleLoader.h"
#include "host/hosting/ProducerPlugin.h"
#include "host/hosting/ServiceHost.h"
#include "host/hosting/ServiceSession.h"
#include "host/hosting/ServiceWatch.h"
#include "host/orchestration/PathScan.h"
#include "host/orchestration/PresentVolumes.h"
#include "host/orchestration/VolumeScanner.h"
#include "host/scan/DatabaseLoader.h"
#include "sdk/SystemMessage.h"
#include "sdk/Utf8.h"

namespace devicescan::host {

using qv::DescribeError;

namespace {

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

EventPrinter::Level PrintLevel(const HostOptions& options) {
    return options.quiet      ? EventPrinter::Level::kQuiet
           : options.infected ? EventPrinter::Level::kInfected
                              : EventPrinter::Level::kAll;
}

}  // namespace

HostApp::HostApp(HostOptions options)
    : options(std::move(options)),
      out(STD_OUTPUT_HANDLE),
      error(STD_ERROR_HANDLE),
      queue(std::make_shared<OutputQueue>()),
      printer(queue, this->options.json ? EventPrinter::Format::kJson : EventPrinter::Format::kText,
              this->options.verbose, PrintLevel(this->options)) {}

int HostApp::Run() {
    if (!queue->IsValid() || StopSignal::Process().Event() == nullptr) {
        error.Write(qv::ToUtf8(L"devicescan-host: cannot create an event: " +
                               DescribeError(GetLastError())));
        return static_cast<int>(ExitCode::kHostFailure);
    }
    // Without a console (output to pipes, a service) there is nothing to catch; that is fine.
    StopSignal::Process().InstallConsoleHandler();
    if (!options.restoreId.empty()) {
        return QuarantineRun::Restore(options, out, error);
    }
    if (!options.listQuarantine.empty()) {
        return QuarantineRun::List(options, out, error);
    }
    if (!PrepareQuarantine()) {
        return static_cast<int>(ExitCode::kUsage);
    }
    auto database = std::make_shared<scan::SignatureDatabase>();
    if (const auto problem = scan::DatabaseLoader(*database).LoadAll(options.databases)) {
        error.Write(
            qv::ToUtf8(L"devicescan-host: cannot load the signatures: " + problem->Message()));
        return static_cast<int>(ExitCode::kDatabase);
    }
    signatures = std::move(database);
    if (!options.scanPaths.empty()) {
        const ScanExitCode code =
            PathScan(PathScanSettings(), printer, *queue, out, error).Run(signatures);
        StopSignal::Process().MarkFinished();
        return static_cast<int>(code);
    }
    const Failure failure = RunModule();
    Drain();
    if (failure.code != ExitCode::kSuccess) {
        error.Write(qv::ToUtf8(L"devicescan-host: " + failure.message));
    }
    StopSignal::Process().MarkFinished();
    return static_cast<int>(failure.code);
}

bool HostApp::PrepareQuarantine() {
    const std::wstring& folder = options.moveTo.empty() ? options.copyTo : options.moveTo;
    if (folder.empty()) {
        return true;
    }
    auto prepared = std::make_shared<quarantine::Quarantine>(
        quarantineFiles, folder,
        options.moveTo.empty() ? quarantine::Quarantine::Mode::kCopy
                               : quarantine::Quarantine::Mode::kMove);
    if (const DWORD code = prepared->Prepare()) {
        error.Write(qv::ToUtf8(L"devicescan-host: cannot use the quarantine folder " + folder +
                               L": " + DescribeError(code)));
        return false;
    }
    quarantine = std::move(prepared);
    return true;
}

PathScan::Settings HostApp::PathScanSettings() const {
    return {options.scanPaths,
            {options.EachScan(), VolumeScanner::ThreadsFor(options.scanThreads), false, quarantine},
            options.seconds,
            StopSignal::Process().Event(),
            [] { StopSignal::Process().Request(StopSignal::Reason::kTimeout); }};
}

HostApp::Failure HostApp::RunModule() {
    ModuleLoader module;
    const std::uint32_t loaded =
        module.Load(options.modulePath.empty() ? ModuleLoader::DefaultPath() : options.modulePath);
    printer.Trace(L"LoadLibrary(" + Quoted(module.FullPath()) + L") -> " + std::to_wstring(loaded));
    if (loaded != 0) {
        return {ExitCode::kModuleNotLoaded, L"cannot load module " + Quoted(module.FullPath()) +
                                                L": " + DescribeError(loaded, module.FullPath())};
    }
    if (const char* missing = module.ResolveExports()) {
        return {ExitCode::kExportMissing, L"module " + Quoted(module.FullPath()) +
                                              L" does not export " + qv::FromUtf8(missing)};
    }

    VolumeScanner scanner(
        printer, signatures,
        {options.EachScan(), VolumeScanner::ThreadsFor(options.scanThreads), true, quarantine});
    if (options.scan && !scanner.Start()) {
        return {ExitCode::kHostFailure,
                L"cannot start the scan workers: " + DescribeError(GetLastError())};
    }
    ProducerPlugin producer(printer, options.scan ? &scanner : nullptr);
    ComponentManager manager(&producer, printer);
    ServiceHost serviceHost(&manager);
    HostListener listener(printer);
    const PresentVolumes present(printer, options.scan ? &scanner : nullptr);
    Failure failure;
    {
        ServiceSession session(module, printer);
        failure = RunService(session, serviceHost, listener, present, module.FullPath());
    }
    // The service is gone: nothing calls the producer or the listener any more.
    scanner.Shutdown();
    if (manager.HeldCount() != 0) {
        printer.Warning(L"the service did not give the producer plugin back (no ReleasePlugin)");
    }
    module.Unload();
    printer.Trace(L"FreeLibrary");
    if (failure.code == ExitCode::kSuccess) {
        printer.Stopped(StopSignal::Name(stopReason));
    }
    return failure;
}

HostApp::Failure HostApp::RunService(ServiceSession& session, ServiceHost& serviceHost,
                                     HostListener& listener, const PresentVolumes& present,
                                     const std::wstring& modulePath) {
    std::wstring why;
    if (!session.Create(why)) {
        return {ExitCode::kCreateFailed, why};
    }
    std::uint32_t code = session.Register(&listener);
    if (code != 0) {
        return {ExitCode::kRegisterFailed, L"Register failed: " + DescribeError(code)};
    }
    code = session.Init(&serviceHost);
    if (code != 0) {
        return {ExitCode::kInitFailed, L"Init failed: " + DescribeError(code)};
    }
    code = session.Start();
    if (code != 0) {
        return {ExitCode::kStartFailed, L"Start failed: " + DescribeError(code)};
    }
    StdinWatcher stdinWatcher;
    if (options.readStdin && !stdinWatcher.Start()) {
        return {ExitCode::kHostFailure,
                L"cannot start the stdin reader: " + DescribeError(GetLastError())};
    }
    printer.Started(ServiceSession::kObjectName, modulePath,
                    {signatures->Count(), signatures->DatabaseCount(), signatures->AllowedCount(),
                     signatures->IgnoredCount(), signatures->SkippedKinds()});
    if (options.scanPresent) {
        present.ScanAll();
    }
    ServiceWatch watch(session, &serviceHost, printer);
    return WaitForStop(watch, present);
}

HostApp::Failure HostApp::WaitForStop(ServiceWatch& watch, const PresentVolumes& present) {
    StopSignal& stop = StopSignal::Process();
    const ULONGLONG deadline =
        options.seconds == 0 ? 0 : GetTickCount64() + ULONGLONG{options.seconds} * 1000;
    const HANDLE handles[2] = {stop.Event(), queue->ReadyEvent()};
    for (;;) {
        DWORD timeout = watch.MsUntilDue();
        if (deadline != 0) {
            const ULONGLONG now = GetTickCount64();
            timeout =
                std::min<DWORD>(timeout, now >= deadline ? 0 : static_cast<DWORD>(deadline - now));
        }
        const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, timeout);
        Drain();
        if (woken == WAIT_OBJECT_0 || woken == WAIT_FAILED) {
            stopReason = stop.Why();
            return {};
        }
        if (deadline != 0 && GetTickCount64() >= deadline) {
            stop.Request(StopSignal::Reason::kTimeout);
            continue;
        }
        std::wstring failure;
        switch (watch.CheckIfDue(failure)) {
            case ServiceWatch::Outcome::kRunning:
                break;
            case ServiceWatch::Outcome::kRestarted:
                if (options.scanPresent) {
                    present.ScanAll();
                }
                break;
            case ServiceWatch::Outcome::kRestartFailed:
                return {ExitCode::kRestartFailed, failure};
        }
    }
}

}  // namespace devicescan::host
