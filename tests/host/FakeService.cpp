// A stand-in for the service module, loaded by devicescan-host in the host tests. It plays the
// service object "FileScan.OnDemand.DeviceScanSP" as the host sees it, driven by a script file
// (environment variable FAKE_SERVICE_SCRIPT, one command per line):
//
//   create CODE        QvCreateObject fails with CODE
//   hide VIEW          QueryInterface answers null for VIEW (IDeviceScanSP or IQvBaseInterface)
//   register CODE      Register answers CODE
//   init CODE          Init answers CODE (after acquiring the producer and giving it back)
//   start CODE         Start answers CODE
//   keep-plugin        UnInit does not give the producer back
//   marker N           removals reach the producer with N instead of 0xDEAD
//   remote UNC         the remote name of the mounts that follow
//   mount TYPE PATH    a mount (TYPE local, remote, cdrom or a number): producer, then listener
//   unmount PATH       a removal, in the same order
//   wait NAME          waits (bounded) until the named event is set
//
// Init, Start, Stop and UnInit answer like the real service; the mount, unmount and wait commands
// run in order on a thread of the fake's own, started by Start and ended by Stop or UnInit,
// standing in for the window thread. Each call the host makes is appended as one line to the
// file named by FAKE_SERVICE_LOG, so that a test can check what the host did and in which order.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "IDeviceScanEventProducer.h"
#include "IDeviceScanSP.h"
#include "IServPlugin.h"

namespace {

using qv::InterfaceId;
using qv::IQvBaseInterface;
using qv::IServPlugin;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using qv::rnsdk::FileScan::IDeviceScanSP;

constexpr const wchar_t* kObjectName = L"FileScan.OnDemand.DeviceScanSP";
constexpr const wchar_t* kProducerName = L"FileScan.OnDemand.DeviceScanAL";
constexpr DWORD kBoundMs = 20000;

std::wstring Environment(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    return length == 0 || length >= 1024 ? std::wstring() : std::wstring(value, length);
}

void Log(const std::string& line) {
    const std::wstring path = Environment(L"FAKE_SERVICE_LOG");
    if (path.empty()) {
        return;
    }
    const HANDLE file =
        CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::string Narrow(const std::wstring& text) {
    std::string result;
    for (const wchar_t c : text) {
        result += c < 0x80 ? static_cast<char>(c) : '?';
    }
    return result;
}

struct Command {
    std::wstring verb;
    std::wstring argument;  // the rest of the line after the verb
};

struct Script {
    std::uint32_t create = 0;
    std::uint32_t registerCode = 0;
    std::uint32_t init = 0;
    std::uint32_t start = 0;
    bool hideDeviceScan = false;
    bool hideRoot = false;
    bool keepPlugin = false;
    std::uint32_t marker = IDeviceScanEventProducer::kUnmountMarker;
    std::vector<Command> events;

    static Script Load() {
        Script script;
        const std::wstring path = Environment(L"FAKE_SERVICE_SCRIPT");
        const HANDLE file = path.empty() ? INVALID_HANDLE_VALUE
                                         : CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                       nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return script;
        }
        std::string bytes(1 << 16, '\0');
        DWORD got = 0;
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
        CloseHandle(file);
        bytes.resize(got);
        std::wstring text(bytes.size(), L'\0');
        text.resize(static_cast<std::size_t>(
            MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                text.data(), static_cast<int>(text.size()))));
        std::size_t begin = 0;
        while (begin < text.size()) {
            std::size_t end = text.find(L'\n', begin);
            if (end == std::wstring::npos) {
                end = text.size();
            }
            std::wstring line = text.substr(begin, end - begin);
            begin = end + 1;
            while (!line.empty() && (line.back() == L'\r' || line.back() == L' ')) {
                line.pop_back();
            }
            const std::size_t space = line.find(L' ');
            script.Apply(Command{line.substr(0, space),
                                 space == std::wstring::npos ? L"" : line.substr(space + 1)});
        }
        return script;
    }

  private:
    void Apply(const Command& command) {
        const auto number =
            static_cast<std::uint32_t>(std::wcstoul(command.argument.c_str(), nullptr, 0));
        if (command.verb == L"create") {
            create = number;
        } else if (command.verb == L"register") {
            registerCode = number;
        } else if (command.verb == L"init") {
            init = number;
        } else if (command.verb == L"start") {
            start = number;
        } else if (command.verb == L"hide") {
            hideDeviceScan = hideDeviceScan || command.argument == L"IDeviceScanSP";
            hideRoot = hideRoot || command.argument == L"IQvBaseInterface";
        } else if (command.verb == L"keep-plugin") {
            keepPlugin = true;
        } else if (command.verb == L"marker") {
            marker = number;
        } else if (!command.verb.empty()) {
            events.push_back(command);
        }
    }
};

std::int32_t TypeOf(const std::wstring& name) {
    if (name == L"local") {
        return IDeviceScanSP::kDeviceTypeLocal;
    }
    if (name == L"remote") {
        return IDeviceScanSP::kDeviceTypeRemote;
    }
    if (name == L"cdrom") {
        return IDeviceScanSP::kDeviceTypeCdRom;
    }
    return static_cast<std::int32_t>(std::wcstol(name.c_str(), nullptr, 0));
}

class FakeService final : public IServPlugin, public IDeviceScanSP {
  public:
    explicit FakeService(Script script) : script(std::move(script)) {
        stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    ~FakeService() override { CloseHandle(stopEvent); }

    void* QueryInterface(InterfaceId id) override {
        if (id == IQvBaseInterface::kId) {
            Log("query IQvBaseInterface");
            return script.hideRoot ? nullptr : static_cast<IServPlugin*>(this);
        }
        if (id == IServPlugin::kId) {
            return static_cast<IServPlugin*>(this);
        }
        if (id == IDeviceScanSP::kId) {
            Log("query IDeviceScanSP");
            return script.hideDeviceScan ? nullptr : static_cast<IDeviceScanSP*>(this);
        }
        return nullptr;
    }

    std::uint32_t Init(qv::IServiceHost* host) override {
        Log("init");
        qv::IComponentManager* manager = host != nullptr ? host->GetComponentManager() : nullptr;
        if (manager == nullptr) {
            return 5002;
        }
        void* plugin = nullptr;
        const std::uint32_t acquired =
            manager->AcquirePlugin(kProducerName, IDeviceScanEventProducer::kId, &plugin);
        Log("acquire " + std::to_string(acquired));
        if (acquired != 0 || plugin == nullptr) {
            return 5002;
        }
        this->manager = manager;
        producer = static_cast<IDeviceScanEventProducer*>(plugin);
        if (script.init != 0) {
            ReleaseProducer();
        }
        return script.init;
    }

    void UnInit() override {
        Log("uninit");
        SetEvent(stopEvent);
        if (thread != nullptr) {
            WaitForSingleObject(thread, kBoundMs);
            CloseHandle(thread);
            thread = nullptr;
        }
        if (!script.keepPlugin) {
            ReleaseProducer();
        }
    }

    std::uint32_t Start() override {
        Log("start");
        if (script.start != 0) {
            return script.start;
        }
        ResetEvent(stopEvent);
        thread = CreateThread(nullptr, 0, &FakeService::EventRoutine, this, 0, nullptr);
        return thread != nullptr ? 0 : GetLastError();
    }

    void Stop() override {
        Log("stop");
        SetEvent(stopEvent);
    }

    std::uint32_t Register(IEvents* listener) override {
        Log("register");
        if (script.registerCode == 0) {
            this->listener = listener;
        }
        return script.registerCode;
    }

    std::uint32_t Unregister(IEvents* listener) override {
        Log(listener == this->listener ? "unregister" : "unregister unknown listener");
        this->listener = nullptr;
        return 0;
    }

  private:
    void ReleaseProducer() {
        if (producer == nullptr) {
            return;
        }
        Log("release " + std::to_string(manager->ReleasePlugin(kProducerName)));
        producer = nullptr;
        manager = nullptr;
    }

    static DWORD WINAPI EventRoutine(void* parameter) {
        static_cast<FakeService*>(parameter)->PlayEvents();
        return 0;
    }

    void PlayEvents() {
        std::wstring remote;
        for (const Command& command : script.events) {
            if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
                return;
            }
            const std::size_t space = command.argument.find(L' ');
            if (command.verb == L"remote") {
                remote = command.argument;
            } else if (command.verb == L"mount" && space != std::wstring::npos) {
                Announce(true, Record(TypeOf(command.argument.substr(0, space)),
                                      command.argument.substr(space + 1), remote));
            } else if (command.verb == L"unmount") {
                Announce(false, Record(IDeviceScanSP::kDeviceTypeLocal, command.argument, L""));
            } else if (command.verb == L"wait") {
                WaitFor(command.argument);
            }
        }
    }

    static Device Record(std::int32_t type, const std::wstring& path, const std::wstring& remote) {
        Device device;
        device.type = type;
        device.path = path.c_str();
        device.remote = remote.c_str();
        device.fullSize = 16777216;
        device.storedSize = 4096;
        device.sessionId = 1;
        return device;
    }

    // Like the service: the producer first, then the listener, each with a record that is gone
    // when the call returns.
    void Announce(bool mounted, const Device& device) {
        if (producer != nullptr) {
            const Device copy = device;
            mounted ? producer->NotifyDeviceMounted(copy, GetCurrentProcessId())
                    : producer->NotifyDeviceUnmounted(copy, script.marker);
        }
        if (listener != nullptr) {
            const Device copy = device;
            mounted ? listener->OnDeviceMounted(copy) : listener->OnDeviceUnmounted(copy);
        }
    }

    void WaitFor(const std::wstring& name) {
        const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
        if (event == nullptr) {
            Log("wait: no event " + Narrow(name));
            return;
        }
        const HANDLE both[2] = {event, stopEvent};
        WaitForMultipleObjects(2, both, FALSE, kBoundMs);
        CloseHandle(event);
    }

    Script script;
    qv::IComponentManager* manager = nullptr;
    IDeviceScanEventProducer* producer = nullptr;
    IEvents* listener = nullptr;
    HANDLE stopEvent = nullptr;
    HANDLE thread = nullptr;
};

std::string IdName(InterfaceId id) {
    if (id == IServPlugin::kId) {
        return "IServPlugin";
    }
    if (id == IQvBaseInterface::kId) {
        return "IQvBaseInterface";
    }
    if (id == IDeviceScanSP::kId) {
        return "IDeviceScanSP";
    }
    return "other";
}

}  // namespace

extern "C" std::uint32_t QvCreateObject(const wchar_t* name, InterfaceId id, void** out) noexcept {
    *out = nullptr;
    Log("create " + Narrow(name) + " " + IdName(id));
    Script script = Script::Load();
    if (std::wcscmp(name, kObjectName) != 0) {
        return 1168;
    }
    if (script.create != 0) {
        return script.create;
    }
    auto* service = new FakeService(std::move(script));
    *out = service->QueryInterface(id);
    if (*out == nullptr) {
        delete service;
        return 1168;
    }
    return 0;
}

extern "C" void QvDestroyObject(const wchar_t* name, void* object) noexcept {
    auto* root = static_cast<IQvBaseInterface*>(object);
    auto* service = dynamic_cast<FakeService*>(root);
    const bool isRoot = service != nullptr && object == static_cast<IQvBaseInterface*>(service);
    Log(std::string("destroy ") + Narrow(name) + (isRoot ? " root" : " not-a-root-view"));
    if (isRoot) {
        delete static_cast<IDeviceScanSP*>(service);
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    // Only FreeLibrary, not the end of the process, unloads with reserved null.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        Log("unloaded");
    }
    return TRUE;
}
