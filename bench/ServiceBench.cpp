// The service on a real drive: what one arrival (with its removal) through the service window
// costs next to the probe calls Windows must answer for that drive anyway; the cost of each
// listener; and creating the service through the module's exports next to a plain new/delete.
// The service is the in-process core with the Win32 platform layer; it loads log.dll from beside
// this program, as devicescan.dll does from beside itself.
#include <windows.h>
#include <dbt.h>
#include <winioctl.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchRegistry.h"
#include "bench/ScratchFolder.h"
#include "devicescan/DeviceScanSP.h"
#include "logging/LogApi.h"
#include "sdk/IComponentManager.h"
#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IServPlugin.h"
#include "sdk/IServiceHost.h"
#include "sdk/ProcAddress.h"

namespace devicescan::bench {

namespace {

using qv::rnsdk::FileScan::IDeviceScanSP;
using Device = IDeviceScanSP::Device;
using service::DeviceScanSP;

// Runs the volume tool beside this program and waits for it; its exit code, or -1.
int RunVolumeTool(const std::wstring& arguments) {
    std::wstring command =
        L"\"" + bench::ProgramDirectory() + L"\\devicescan-volume.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = static_cast<DWORD>(-1);
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

// A removable drive on a free letter, for as long as the object lives, over an empty directory
// of its own: no other program's path may lead through the letter (a letter over /tmp would take
// over the paths of every program under /tmp while it exists). Plugged without a broadcast: the
// benchmark sends its own messages to its own window.
class PluggedDrive {
  public:
    PluggedDrive() {
        const std::wstring unixDirectory =
            L"/var/tmp/devicescan-bench-" + std::to_wstring(GetCurrentProcessId());
        windowsDirectory = L"Z:" + unixDirectory;
        for (wchar_t& c : windowsDirectory) {
            c = c == L'/' ? L'\\' : c;
        }
        if (!CreateDirectoryW(windowsDirectory.c_str(), nullptr)) {
            return;
        }
        const DWORD used = GetLogicalDrives();
        for (wchar_t candidate = L'W'; candidate >= L'H'; --candidate) {
            if ((used & (1u << (candidate - L'A'))) != 0) {
                continue;
            }
            const std::wstring name(1, candidate);
            if (RunVolumeTool(L"plug " + name + L" removable " + unixDirectory +
                              L" --no-broadcast") == 0) {
                letter = candidate;
                return;
            }
        }
    }
    ~PluggedDrive() {
        if (letter != 0) {
            RunVolumeTool(L"unplug " + std::wstring(1, letter) + L" --no-broadcast");
        }
        RemoveDirectoryW(windowsDirectory.c_str());
    }
    PluggedDrive(const PluggedDrive&) = delete;
    PluggedDrive& operator=(const PluggedDrive&) = delete;

    // Says so on the report when no letter could be had.
    bool Plugged() const {
        if (letter == 0) {
            std::printf("  no drive letter could be plugged with devicescan-volume.exe\n");
        }
        return letter != 0;
    }

    wchar_t letter = 0;

  private:
    std::wstring windowsDirectory;
};

class CountingListener : public IDeviceScanSP::IEvents {
  public:
    int Reserved() override { return 0; }
    int OnDeviceMounted(const Device&) override { return ++heard, 0; }
    int OnDeviceUnmounted(const Device&) override { return ++heard, 0; }
    long heard = 0;
};

class NullProducer : public qv::rnsdk::FileScan::IDeviceScanEventProducer {
  public:
    std::uint32_t NotifyDeviceMounted(const Device&, std::uint32_t) override { return 0; }
    std::uint32_t NotifyDeviceUnmounted(const Device&, std::uint32_t) override { return 0; }
};

class BenchHost : public qv::IServiceHost, public qv::IComponentManager {
  public:
    std::uint32_t Reserved() override { return 0; }
    qv::IComponentManager* GetComponentManager() override { return this; }
    std::uint32_t AcquirePlugin(const wchar_t*, qv::InterfaceId, void** plugin) override {
        *plugin = static_cast<qv::rnsdk::FileScan::IDeviceScanEventProducer*>(&producer);
        return 0;
    }
    std::uint32_t ReleasePlugin(const wchar_t*) override { return 0; }

  private:
    NullProducer producer;
};

HWND FindOwnServiceWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, DeviceScanSP::kWindowClassName,
                                   DeviceScanSP::kWindowName)) != nullptr) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        if (processId == GetCurrentProcessId()) {
            return window;
        }
    }
    return nullptr;
}

void SendVolume(HWND window, WPARAM change, wchar_t letter) {
    DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0, 1u << (letter - L'A'), 0};
    SendMessageW(window, WM_DEVICECHANGE, change, reinterpret_cast<LPARAM>(&volume));
}

// Nanoseconds of one arrival and its removal sent to a service window.
double ArrivalRemovalNs(const bench::Context& context, HWND window, wchar_t letter) {
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            SendVolume(window, DBT_DEVICEARRIVAL, letter);
            SendVolume(window, DBT_DEVICEREMOVECOMPLETE, letter);
        }
    });
}

// What Windows must answer for one arriving drive, whoever asks.
void ProbeDrive(wchar_t letter) {
    const wchar_t root[] = {letter, L':', L'\\', L'\0'};
    const wchar_t device[] = {L'\\', L'\\', L'.', L'\\', letter, L':', L'\0'};
    GetDriveTypeW(root);
    const HANDLE handle =
        CreateFileW(device, 0, 0, nullptr, OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, nullptr);
    if (handle != INVALID_HANDLE_VALUE) {
        STORAGE_HOTPLUG_INFO info{};
        DWORD bytes = 0;
        DeviceIoControl(handle, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0, &info, sizeof(info),
                        &bytes, nullptr);
        CloseHandle(handle);
    }
    ULARGE_INTEGER free{}, total{}, totalFree{};
    GetDiskFreeSpaceExW(root, &free, &total, &totalFree);
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
}

double ProbeNs(const bench::Context& context, wchar_t letter) {
    return context.NsPerOp([&](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            ProbeDrive(letter);
        }
    });
}

// A started service with listeners, on the plugged drive.
class RunningService {
  public:
    explicit RunningService(std::size_t listenerCount) : listeners(listenerCount) {
        service->Init(&host);
        service->Start();
        for (auto& listener : listeners) {
            service->Register(&listener);
        }
        window = FindOwnServiceWindow();
    }
    ~RunningService() {
        for (auto& listener : listeners) {
            service->Unregister(&listener);
        }
        service->Stop();
        service->UnInit();
    }
    RunningService(const RunningService&) = delete;
    RunningService& operator=(const RunningService&) = delete;

    double PairNs(const bench::Context& context, wchar_t letter) const {
        return ArrivalRemovalNs(context, window, letter);
    }

    bool Heard() const { return listeners.empty() || listeners.front().heard > 0; }

    HWND window = nullptr;

  private:
    BenchHost host;
    std::unique_ptr<DeviceScanSP> service = std::make_unique<DeviceScanSP>();
    std::vector<CountingListener> listeners;
};

void EnableLog(bool enable) {
    const auto logEnable =
        qv::GetProcAddressAs<LogEnableFunction>(GetModuleHandleW(L"log.dll"), "LogEnable");
    if (logEnable != nullptr) {
        logEnable(enable ? TRUE : FALSE);
    }
}

}  // namespace

BENCHMARK_GROUP(ServiceArrival) {
    const PluggedDrive drive;
    if (!drive.Plugged()) {
        return;
    }
    const double probe = ProbeNs(context, drive.letter);
    const RunningService service(1);
    if (service.window == nullptr) {
        std::printf("  the service window did not come up\n");
        return;
    }
    const bool logLoaded = GetModuleHandleW(L"log.dll") != nullptr;
    for (const bool logging : {true, false}) {
        EnableLog(logging);
        const double pair = service.PairNs(context, drive.letter);
        const std::string what =
            std::string("arrival+removal, log.dll ") + (!logLoaded ? "absent"
                                                        : logging  ? "writing"
                                                                   : "disabled");
        context.Compare(what, "service window", pair, "raw probe calls", probe);
    }
    EnableLog(true);
    if (!service.Heard()) {
        std::printf("  the listener heard nothing: the drive was not announced\n");
    }
}

BENCHMARK_GROUP(ServiceListenerFanOut) {
    const PluggedDrive drive;
    if (!drive.Plugged()) {
        return;
    }
    EnableLog(false);
    double alone = 0;
    {
        const RunningService service(0);
        alone = service.PairNs(context, drive.letter);
    }
    // A listener costs a virtual call and a copy-free pass over the list, far below the
    // drive probe: the rows show the whole announcement with and without them, and what the
    // hundred listeners add per listener and event.
    double hundred = 0;
    for (const std::size_t count : {1, 10, 100}) {
        const RunningService service(count);
        const double pair = service.PairNs(context, drive.letter);
        context.Compare("arrival+removal, " + std::to_string(count) + " listeners",
                        "service window", pair, "no listeners", alone);
        hundred = pair;
    }
    context.Report("per listener and event (from 100 listeners)", (hundred - alone) / 200.0);
    EnableLog(true);
}

BENCHMARK_GROUP(ServiceCreateDestroy) {
    using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
    using DestroyFn = void (*)(const wchar_t*, void*);
    constexpr wchar_t kServiceName[] = L"FileScan.OnDemand.DeviceScanSP";
    const HMODULE module = LoadLibraryW((bench::ProgramDirectory() + L"\\devicescan.dll").c_str());
    if (module == nullptr) {
        std::printf("  devicescan.dll not found beside the benchmark program\n");
        return;
    }
    const auto create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
    const auto destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
    if (create != nullptr && destroy != nullptr) {
        const double exported = context.NsPerOp([&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                void* plugin = nullptr;
                create(kServiceName, qv::IServPlugin::kId, &plugin);
                destroy(kServiceName, plugin);
            }
        });
        const double plain = context.NsPerOp([&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                delete new DeviceScanSP();
            }
        });
        context.Compare("create+destroy", "QvCreate/DestroyObject", exported, "new/delete", plain);
    }
    FreeLibrary(module);
}

namespace {

// devicescan.dll copied into a scratch folder, with or without log.dll (and settings that keep
// its log in that folder) beside it, so that the module finds exactly what the case needs.
class ScratchModule {
  public:
    explicit ScratchModule(bool withLog)
        : scratch(withLog ? L"devicescan-bench-module-log" : L"devicescan-bench-module-nolog",
                  {L"devicescan.dll", L"log.dll", L"log.ini", L"bench.log", L"bench.log.1"}) {
        scratch.CopyShipped(L"devicescan.dll");
        if (withLog) {
            scratch.CopyShipped(L"log.dll");
            scratch.Write(L"log.ini", "path = bench.log\nmax_size = 16 MB\nbackups = 1\n");
        }
        module = LoadLibraryW(scratch.Path(L"devicescan.dll").c_str());
    }
    ~ScratchModule() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    ScratchModule(const ScratchModule&) = delete;
    ScratchModule& operator=(const ScratchModule&) = delete;

    HMODULE module = nullptr;

  private:
    bench::ScratchFolder scratch;
};

// One arrival and removal through the window of the service that the module's export creates.
double ModulePairNs(bench::Context& context, HMODULE module, wchar_t letter) {
    using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
    using DestroyFn = void (*)(const wchar_t*, void*);
    constexpr wchar_t kServiceName[] = L"FileScan.OnDemand.DeviceScanSP";
    const auto create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
    const auto destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
    void* plugin = nullptr;
    if (create == nullptr || destroy == nullptr ||
        create(kServiceName, qv::IServPlugin::kId, &plugin) != 0) {
        return 0;
    }
    auto* service = static_cast<qv::IServPlugin*>(plugin);
    auto* scan = static_cast<IDeviceScanSP*>(service->QueryInterface(IDeviceScanSP::kId));
    BenchHost host;
    CountingListener listener;
    service->Init(&host);
    service->Start();
    scan->Register(&listener);
    const HWND window = FindOwnServiceWindow();
    const double pair = window != nullptr ? ArrivalRemovalNs(context, window, letter) : 0;
    scan->Unregister(&listener);
    service->Stop();
    service->UnInit();
    destroy(kServiceName, plugin);
    return listener.heard > 0 ? pair : 0;
}

}  // namespace

BENCHMARK_GROUP(ServiceModuleArrival) {
    const PluggedDrive drive;
    if (!drive.Plugged()) {
        return;
    }
    const double probe = ProbeNs(context, drive.letter);
    for (const bool withLog : {true, false}) {
        const ScratchModule copy(withLog);
        const double pair =
            copy.module != nullptr ? ModulePairNs(context, copy.module, drive.letter) : 0;
        if (pair == 0) {
            std::printf("  the module's service announced nothing\n");
            continue;
        }
        context.Compare(std::string("arrival+removal, devicescan.dll, log.dll ") +
                            (withLog ? "beside it" : "absent"),
                        "service window", pair, "raw probe calls", probe);
    }
}

}  // namespace devicescan::bench
