// A stand-in for the service module, loaded by devicescan-host in the host tests. It plays the
// service object "FileScan.OnDemand.DeviceScanSP" as the host sees it, driven by the lines of the
// environment variable FAKE_SERVICE_SCRIPT:
//
//   create|init|start CODE   that call answers CODE
//   remote UNC               the remote name of the mounts that follow
//   mount TYPE PATH          a mount (TYPE local, remote or cdrom): producer, then listener
//   unmount PATH             a removal, in the same order
//   wait NAME                waits (bounded) until the named event is set
//
// The mount, unmount and wait lines run in order on a thread of the fake's own, started by Start
// and ended by Stop or UnInit, standing in for the window thread. Each call the host makes is
// written to stderr as "fake: CALL", so that a test can check what the host did and in which order.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <string>
#include <vector>

#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"

namespace {

using qv::InterfaceId;
using qv::IQvBaseInterface;
using qv::IServPlugin;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using qv::rnsdk::FileScan::IDeviceScanSP;

constexpr const wchar_t* kProducerName = L"FileScan.OnDemand.DeviceScanAL";
constexpr DWORD kBoundMs = 20000;

void Log(const std::string& call) {
    const std::string line = "fake: " + call + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

struct Command {
    std::wstring verb;
    std::wstring argument;  // the rest of the line after the verb
};

std::vector<Command> LoadScript() {
    std::vector<Command> script;
    std::wstring text(32767, L'\0');
    text.resize(GetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", text.data(), 32767));
    for (std::size_t begin = 0, end; begin < text.size(); begin = end + 1) {
        end = std::min(text.find(L'\n', begin), text.size());
        const std::wstring line = text.substr(begin, end - begin);
        const std::size_t space = std::min(line.find(L' '), line.size());
        script.push_back({line.substr(0, space), line.substr(std::min(space + 1, line.size()))});
    }
    return script;
}

std::uint32_t CodeFor(const std::vector<Command>& script, const wchar_t* verb) {
    for (const Command& command : script) {
        if (command.verb == verb) {
            return static_cast<std::uint32_t>(std::wcstoul(command.argument.c_str(), nullptr, 0));
        }
    }
    return 0;
}

class FakeService final : public IServPlugin, public IDeviceScanSP {
  public:
    explicit FakeService(std::vector<Command> script)
        : script(std::move(script)), stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~FakeService() { CloseHandle(stopEvent); }

    void* QueryInterface(InterfaceId id) override {
        if (id == IQvBaseInterface::kId || id == IServPlugin::kId) {
            return static_cast<IServPlugin*>(this);
        }
        return id == IDeviceScanSP::kId ? static_cast<IDeviceScanSP*>(this) : nullptr;
    }

    // Like the service: the producer is acquired in Init and, when Init fails, given back.
    std::uint32_t Init(qv::IServiceHost* host) override {
        Log("init");
        manager = host->GetComponentManager();
        void* plugin = nullptr;
        const std::uint32_t acquired =
            manager->AcquirePlugin(kProducerName, IDeviceScanEventProducer::kId, &plugin);
        Log(acquired == 0 ? "acquired" : "acquire failed " + std::to_string(acquired));
        producer = static_cast<IDeviceScanEventProducer*>(plugin);
        const std::uint32_t code = CodeFor(script, L"init");
        if (code != 0) {
            ReleaseProducer();
        }
        return code;
    }

    void UnInit() override {
        Log("uninit");
        SetEvent(stopEvent);
        if (thread != nullptr) {
            WaitForSingleObject(thread, kBoundMs);
            CloseHandle(thread);
            thread = nullptr;
        }
        ReleaseProducer();
    }

    std::uint32_t Start() override {
        Log("start");
        if (const std::uint32_t code = CodeFor(script, L"start"); code != 0) {
            return code;
        }
        thread = CreateThread(nullptr, 0, &FakeService::EventRoutine, this, 0, nullptr);
        return thread != nullptr ? 0 : GetLastError();
    }

    void Stop() override {
        Log("stop");
        SetEvent(stopEvent);
    }

    std::uint32_t Register(IEvents* events) override {
        Log("register");
        listener = events;
        return 0;
    }

    std::uint32_t Unregister(IEvents* events) override {
        Log(events == listener ? "unregister" : "unregister unknown listener");
        listener = nullptr;
        return 0;
    }

    void* DeletingDestructor(unsigned int flags) override {
        return qv::RunDeletingDestructor(this, flags);
    }

  private:
    void ReleaseProducer() {
        if (producer != nullptr) {
            const std::uint32_t released = manager->ReleasePlugin(kProducerName);
            Log(released == 0 ? "released" : "release failed " + std::to_string(released));
            producer = nullptr;
        }
    }

    static DWORD WINAPI EventRoutine(void* parameter) {
        static_cast<FakeService*>(parameter)->PlayEvents();
        return 0;
    }

    void PlayEvents() {
        std::wstring remote;
        for (const Command& command : script) {
            if (WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) {
                return;
            }
            const std::size_t space = command.argument.find(L' ');
            if (command.verb == L"remote") {
                remote = command.argument;
            } else if (command.verb == L"mount") {
                const std::wstring type = command.argument.substr(0, space);
                Announce(true, Record(type == L"cdrom"    ? kDeviceTypeCdRom
                                      : type == L"remote" ? kDeviceTypeRemote
                                                          : kDeviceTypeLocal,
                                      command.argument.substr(space + 1), remote));
            } else if (command.verb == L"unmount") {
                Announce(false, Record(kDeviceTypeLocal, command.argument, L""));
            } else if (command.verb == L"wait") {
                const HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, command.argument.c_str());
                const HANDLE both[2] = {event, stopEvent};
                WaitForMultipleObjects(2, both, FALSE, kBoundMs);
                CloseHandle(event);
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

    // The producer first, then the listener, each with a copy that is gone when the call returns.
    void Announce(bool mounted, const Device& device) {
        if (producer != nullptr) {
            const Device copy = device;
            mounted
                ? producer->NotifyDeviceMounted(copy, GetCurrentProcessId())
                : producer->NotifyDeviceUnmounted(copy, IDeviceScanEventProducer::kUnmountMarker);
        }
        if (listener != nullptr) {
            const Device copy = device;
            mounted ? listener->OnDeviceMounted(copy) : listener->OnDeviceUnmounted(copy);
        }
    }

    std::vector<Command> script;
    qv::IComponentManager* manager = nullptr;
    IDeviceScanEventProducer* producer = nullptr;
    IEvents* listener = nullptr;
    HANDLE stopEvent;
    HANDLE thread = nullptr;
};

FakeService* live = nullptr;

}  // namespace

extern "C" std::uint32_t QvCreateObject(const wchar_t* name, InterfaceId id, void** out) noexcept {
    *out = nullptr;
    Log(id == IServPlugin::kId ? "create" : "create with another view");
    std::vector<Command> script = LoadScript();
    if (std::wcscmp(name, L"FileScan.OnDemand.DeviceScanSP") != 0) {
        return 1168;
    }
    if (const std::uint32_t code = CodeFor(script, L"create"); code != 0) {
        return code;
    }
    live = new FakeService(std::move(script));
    *out = live->QueryInterface(id);
    return 0;
}

// The module expects its object back through the root view, the one QueryInterface gives for
// IQvBaseInterface.
extern "C" void QvDestroyObject(const wchar_t*, void* object) noexcept {
    const bool isRoot = live != nullptr &&
                        object == static_cast<IQvBaseInterface*>(static_cast<IServPlugin*>(live));
    Log(isRoot ? "destroy" : "destroy with another view");
    if (isRoot) {
        delete live;
        live = nullptr;
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    // Only FreeLibrary, not the end of the process, unloads with reserved null.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        Log("unloaded");
    }
    return TRUE;
}
