// The service on a real drive: what one arrival (with its removal) through the service window
// costs next to the least any handler must spend on it (a window on another thread that answers
// a round trip for the arrival, making the probe calls Windows must answer for that drive, and
// one for the removal); the cost of each listener; creating the service through the module's
// exports next to a plain new/delete; and what a started service costs while nothing happens.
// The service is the in-process core with the Win32 platform layer; it loads log.dll from beside
// this program, as devicescan.dll does from beside itself.
#include <windows.h>
#include <dbt.h>
#include <winioctl.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchRegistry.h"
#include "bench/CommittedMemory.h"
#include "bench/ScratchFolder.h"
#include "devicescan/DeviceScanSP.h"
#include "logging/LogApi.h"
#include "sdk/IComponentManager.h"
#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IServPlugin.h"
#include "sdk/IServiceHost.h"
#include "sdk/ProcAddress.h"
#include "sdk/ProcessCounters.h"
#include "sdk/ProgramDirectory.h"
#include "sdk/ServiceWindow.h"

namespace devicescan::bench {

namespace {

using qv::rnsdk::FileScan::IDeviceScanSP;
using Device = IDeviceScanSP::Device;
using service::DeviceScanSP;

// Runs the volume tool beside this program and waits for it; its exit code, or -1.
int RunVolumeTool(const std::wstring& arguments) {
    std::wstring command = L"\"" + qv::ProgramDirectory() + L"devicescan-volume.exe\" " + arguments;
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

class CountingListener final : public IDeviceScanSP::IEvents {
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

void SendVolume(HWND window, WPARAM change, wchar_t letter) {
    QvSendVolumeChange(window, change, 1u << (letter - L'A'));
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

// The drive letter of a volume message's first unit.
wchar_t LetterOf(LPARAM message) {
    DWORD mask = reinterpret_cast<const DEV_BROADCAST_VOLUME*>(message)->dbcv_unitmask;
    wchar_t letter = L'A';
    for (; mask != 0 && (mask & 1) == 0; mask >>= 1) {
        ++letter;
    }
    return letter;
}

// A window on a thread of its own that answers a device change: the other half of the least an
// arrival costs, the round trip of the message from the sender to the window's thread. As a
// kProbingWindow it first makes the probe calls for an arriving drive itself, on its own thread
// while the sender waits, which is where a service window must make them. Created and destroyed
// on one thread; the window lives on its own.
class EchoWindow {
  public:
    enum Kind { kEmptyRoundTrip, kProbingWindow };

    explicit EchoWindow(Kind kind) : kind(kind) {
        ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread = CreateThread(nullptr, 0, &EchoWindow::Run, this, 0, nullptr);
        if (thread != nullptr) {
            WaitForSingleObject(ready, 10000);
        }
    }
    ~EchoWindow() {
        if (window != nullptr) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        if (thread != nullptr) {
            WaitForSingleObject(thread, 10000);
            CloseHandle(thread);
        }
        CloseHandle(ready);
    }
    EchoWindow(const EchoWindow&) = delete;
    EchoWindow& operator=(const EchoWindow&) = delete;

    HWND window = nullptr;

  private:
    static LRESULT CALLBACK Answer(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_DEVICECHANGE) {
            return TRUE;
        }
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static LRESULT CALLBACK ProbeAndAnswer(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
        if (message == WM_DEVICECHANGE && wParam == DBT_DEVICEARRIVAL) {
            ProbeDrive(LetterOf(lParam));
        }
        return Answer(window, message, wParam, lParam);
    }

    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<EchoWindow*>(parameter);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc =
            self->kind == kProbingWindow ? &EchoWindow::ProbeAndAnswer : &EchoWindow::Answer;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName =
            self->kind == kProbingWindow ? L"DeviceScanBenchProbe" : L"DeviceScanBenchEcho";
        RegisterClassW(&windowClass);
        self->window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0,
                                       nullptr, nullptr, windowClass.hInstance, nullptr);
        SetEvent(self->ready);
        MSG message;
        while (self->window != nullptr && GetMessageW(&message, nullptr, 0, 0) > 0) {
            DispatchMessageW(&message);
        }
        UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);
        return 0;
    }

    const Kind kind;
    HANDLE ready = nullptr;
    HANDLE thread = nullptr;
};

// n arrivals with their removals sent to a window, as a benchmark body.
std::function<void(std::size_t)> Pairs(HWND window, wchar_t letter) {
    return [=](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            SendVolume(window, DBT_DEVICEARRIVAL, letter);
            SendVolume(window, DBT_DEVICEREMOVECOMPLETE, letter);
        }
    };
}

// n arrivals with their removals where the sender makes the probe calls itself and each message
// goes to the window on an empty round trip, as a benchmark body.
std::function<void(std::size_t)> SenderProbePairs(HWND echo, wchar_t letter) {
    return [=](std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            SendVolume(echo, DBT_DEVICEARRIVAL, letter);
            ProbeDrive(letter);
            SendVolume(echo, DBT_DEVICEREMOVECOMPLETE, letter);
        }
    };
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
        window = QvFindOwnServiceWindow();
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
        return context.NsPerOp(Pairs(window, letter));
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
    const EchoWindow limit(EchoWindow::kProbingWindow);
    const RunningService service(1);
    if (service.window == nullptr || limit.window == nullptr) {
        std::printf("  the service window did not come up\n");
        return;
    }
    const bool logLoaded = GetModuleHandleW(L"log.dll") != nullptr;
    for (const bool logging : {true, false}) {
        EnableLog(logging);
        const SideBySide times = context.RepeatEach(Pairs(service.window, drive.letter),
                                                    Pairs(limit.window, drive.letter));
        const std::string what =
            std::string("arrival+removal, log.dll ") + (!logLoaded ? "absent"
                                                        : logging  ? "writing"
                                                                   : "disabled");
        context.Compare(what, "service window", times.ours.minimum, "probing window",
                        times.peer.minimum);
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
    const HMODULE module = LoadLibraryW((qv::ProgramDirectory() + L"devicescan.dll").c_str());
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
// GCC 12 takes any destroying delete of a class's own for a mismatch with the global new, which is
// what that delete gives the memory back to.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
        const double plain = context.NsPerOp([&](std::size_t n) {
            for (std::size_t i = 0; i < n; ++i) {
                delete new DeviceScanSP();
            }
        });
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
        context.Compare("create+destroy", "QvCreate/DestroyObject", exported, "new/delete", plain);
    }
    FreeLibrary(module);
}

namespace {

// devicescan.dll copied into a scratch folder, with or without log.dll beside it, so that the
// module finds exactly what the case needs. log.dll runs at its default settings: it writes
// devicescan-bench.log beside itself, flushing every line.
class ScratchModule {
  public:
    explicit ScratchModule(bool withLog)
        : scratch(
              withLog ? L"devicescan-bench-module-log" : L"devicescan-bench-module-nolog",
              {L"devicescan.dll", L"log.dll", L"devicescan-bench.log", L"devicescan-bench.log.1",
               L"devicescan-bench.log.2", L"devicescan-bench.log.3"}) {
        scratch.CopyShipped(L"devicescan.dll");
        if (withLog) {
            scratch.CopyShipped(L"log.dll");
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

    // Lines in the module's log so far (with no rotation in between).
    std::size_t LogLines() const {
        std::size_t lines = 0;
        if (FILE* log = _wfopen(scratch.Path(L"devicescan-bench.log").c_str(), L"rb")) {
            for (int c; (c = std::fgetc(log)) != EOF;) {
                lines += c == '\n';
            }
            std::fclose(log);
        }
        return lines;
    }

    HMODULE module = nullptr;

  private:
    bench::ScratchFolder scratch;
};

// The service that the module's export creates, started with one counting listener, for as long
// as the object lives. Created and destroyed on one thread.
class ModuleService {
  public:
    explicit ModuleService(HMODULE module) {
        using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
        const auto create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
        destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
        if (create == nullptr || destroy == nullptr ||
            create(kServiceName, qv::IServPlugin::kId, &plugin) != 0) {
            plugin = nullptr;
            return;
        }
        service = static_cast<qv::IServPlugin*>(plugin);
        scan = static_cast<IDeviceScanSP*>(service->QueryInterface(IDeviceScanSP::kId));
        service->Init(&host);
        service->Start();
        scan->Register(&listener);
        window = QvFindOwnServiceWindow();
    }
    ~ModuleService() {
        if (plugin == nullptr) {
            return;
        }
        scan->Unregister(&listener);
        service->Stop();
        service->UnInit();
        destroy(kServiceName, plugin);
    }
    ModuleService(const ModuleService&) = delete;
    ModuleService& operator=(const ModuleService&) = delete;

    void Pair(wchar_t letter) const {
        SendVolume(window, DBT_DEVICEARRIVAL, letter);
        SendVolume(window, DBT_DEVICEREMOVECOMPLETE, letter);
    }
    bool Heard() const { return listener.heard > 0; }

    HWND window = nullptr;

  private:
    using DestroyFn = void (*)(const wchar_t*, void*);
    static constexpr wchar_t kServiceName[] = L"FileScan.OnDemand.DeviceScanSP";

    DestroyFn destroy = nullptr;
    void* plugin = nullptr;
    qv::IServPlugin* service = nullptr;
    IDeviceScanSP* scan = nullptr;
    BenchHost host;
    CountingListener listener;
};

// CPU time (user and kernel) of this process so far, in 100 ns units.
std::uint64_t ProcessCpuTime() {
    FILETIME creation, exit, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernel, &user);
    const auto units = [](const FILETIME& time) {
        return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
    };
    return units(kernel) + units(user);
}

std::string Kilobytes(std::int64_t bytes) {
    return std::to_string(bytes / 1024) + " KB";
}

void SendPairs(const ModuleService& service, wchar_t letter, int count) {
    for (int i = 0; i < count; ++i) {
        service.Pair(letter);
    }
}

}  // namespace

BENCHMARK_GROUP(ServiceModuleArrival) {
    const PluggedDrive drive;
    if (!drive.Plugged()) {
        return;
    }
    const EchoWindow limit(EchoWindow::kProbingWindow);
    const EchoWindow echo(EchoWindow::kEmptyRoundTrip);
    if (limit.window == nullptr || echo.window == nullptr) {
        std::printf("  the probing or the echo window did not come up\n");
        return;
    }
    // The limit makes the probe calls on the window's thread, as the service must. The same calls
    // made by the sender between two empty round trips cost a little less under Wine; this row
    // shows by how much.
    const SideBySide where = context.RepeatEach(Pairs(limit.window, drive.letter),
                                                SenderProbePairs(echo.window, drive.letter));
    context.Compare("arrival+removal, where the probe is made", "window thread", where.ours.minimum,
                    "sender", where.peer.minimum);
    for (const bool withLog : {true, false}) {
        const ScratchModule copy(withLog);
        const ModuleService service(copy.module);
        if (service.window == nullptr) {
            std::printf("  the module's service did not come up\n");
            return;
        }
        const SideBySide times = context.RepeatEach(Pairs(service.window, drive.letter),
                                                    Pairs(limit.window, drive.letter));
        if (!service.Heard()) {
            std::printf("  the module's service announced nothing\n");
            continue;
        }
        context.Goal(
            std::string("arrival+removal, log.dll ") + (withLog ? "beside it, defaults" : "absent"),
            "devicescan.dll", "probing window", times, withLog ? 1.10 : 1.03);
        if (withLog) {
            // Each of these lines is in the file before the module goes on.
            const std::size_t linesBefore = copy.LogLines();
            SendPairs(service, drive.letter, 10);
            const std::size_t lines = copy.LogLines() - linesBefore;
            context.Note("log lines per arrival+removal",
                         std::to_string(lines / 10) + "." + std::to_string(lines % 10));
        }
    }
}

// A started service with nothing plugged takes no CPU and no memory; a thousand arrivals and
// removals leave its memory where ten left it. --quick waits a second and sends a hundred.
BENCHMARK_GROUP(ServiceIdle) {
    const bool quick = context.GetMode() == Mode::kQuick;
    const ScratchModule copy(true);
    const ModuleService service(copy.module);
    if (service.window == nullptr) {
        std::printf("  the module's service did not come up\n");
        return;
    }
    const DWORD idleMs = quick ? 1000 : 60000;
    Sleep(100);  // the window thread settles in its message loop
    const std::uint64_t cpuBefore = ProcessCpuTime();
    const std::int64_t bytesBefore = CommittedPrivateBytes();
    Sleep(idleMs);
    const std::uint64_t cpu = ProcessCpuTime() - cpuBefore;
    const std::int64_t idleGrowth = CommittedPrivateBytes() - bytesBefore;
    const std::string idle = " over " + std::to_string(idleMs / 1000) + " s idle";
    // The process's times advance in clock ticks (10 ms under Wine, 15.6 ms on Windows): one
    // tick may fall on the idle wait itself.
    context.Goal("CPU time" + idle, std::to_string(cpu / 10000) + " ms", "at most one tick",
                 cpu <= 156250);
    context.Goal("private bytes growth" + idle, Kilobytes(idleGrowth), "0 KB", idleGrowth == 0);

    const PluggedDrive drive;
    if (!drive.Plugged()) {
        return;
    }
    const int pairs = quick ? 100 : 1000;
    SendPairs(service, drive.letter, 10);
    const std::int64_t afterTen = CommittedPrivateBytes();
    const std::int64_t heapAfterTen = static_cast<std::int64_t>(QvHeapBytesInUse());
    SendPairs(service, drive.letter, pairs - 10);
    const std::int64_t growth = CommittedPrivateBytes() - afterTen;
    const std::int64_t heapGrowth = static_cast<std::int64_t>(QvHeapBytesInUse()) - heapAfterTen;
    context.Goal("private bytes, " + std::to_string(pairs) + " arrivals against 10",
                 Kilobytes(growth), "within 64 KB", growth <= 64 * 1024 && growth >= -64 * 1024);
    context.Note("heap bytes in use, the same", std::to_string(heapGrowth) + " bytes");
    if (!service.Heard()) {
        std::printf("  the module's service announced nothing\n");
    }
}

}  // namespace devicescan::bench
