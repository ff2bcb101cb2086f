// A stand-in for the service module, loaded by devicescan-host in the host tests. It plays the
// service object "FileScan.OnDemand.DeviceScanSP" as the host sees it, driven by the lines of the
// environment variable FAKE_SERVICE_SCRIPT:
//
//   CALL CODE                that call (create, init, start, ...) answers CODE
//   remote UNC               the remote name of the mounts that follow
//   mount TYPE PATH          a mount (TYPE local, remote or cdrom): producer, then listener
//   unmount PATH             a removal, in the same order
//   wait NAME                waits (bounded) until the named event is set
//
// The mount, unmount and wait lines run in order on a thread of the fake's own, started by Start
// and ended by Stop or UnInit, standing in for the window thread. Each call the host makes is
// written to stderr as "fake: CALL", so that a test can check what the host did and in which order;
// a call made the wrong way is written with what was wrong about it.
#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <sstream>
#include <string>
#include <utility>

#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"
#include "sdk/UniqueHandle.h"
#include "sdk/Utf8.h"

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

// Logs done when code is 0, else what failed.
void LogOutcome(const std::string& done, std::uint32_t code) {
    Log(code == 0 ? done : done + " failed with " + std::to_string(code));
}

std::wstring Script() {
    std::wstring text(32767, L'\0');
    text.resize(GetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", text.data(), 32767));
    return text;
}

// Reads the script's lines as (verb, rest of the line) until body returns false.
template <typename Body>
void ForEachLine(const std::wstring& script, Body body) {
    std::wistringstream lines(script);
    for (std::wstring verb, rest; lines >> verb && std::getline(lines >> std::ws, rest);) {
        if (!body(verb, rest)) {
            return;
        }
    }
}

// Logs call and returns what the script makes it answer (0 unless told).
std::uint32_t Answer(const std::wstring& script, const char* call) {
    Log(call);
    std::uint32_t code = 0;
    ForEachLine(script, [&](const std::wstring& verb, const std::wstring& rest) {
        if (verb == qv::FromUtf8(call)) {
            code = static_cast<std::uint32_t>(std::wcstoul(rest.c_str(), nullptr, 0));
        }
        return code == 0;
    });
    return code;
}

class FakeService final : public IServPlugin, public IDeviceScanSP {
  public:
    explicit FakeService(std::wstring script) : script(std::move(script)) {}

    void* QueryInterface(InterfaceId id) override {
        if (id == IQvBaseInterface::kId || id == IServPlugin::kId) {
            return static_cast<IServPlugin*>(this);
        }
        return id == IDeviceScanSP::kId ? static_cast<IDeviceScanSP*>(this) : nullptr;
    }

    // Like the service: the producer is acquired in Init and, when Init fails, given back.
    std::uint32_t Init(qv::IServiceHost* host) override {
        const std::uint32_t code = Answer(script, "init");
        manager = host->GetComponentManager();
        void* plugin = nullptr;
        LogOutcome("acquired",
                   manager->AcquirePlugin(kProducerName, IDeviceScanEventProducer::kId, &plugin));
        producer = static_cast<IDeviceScanEventProducer*>(plugin);
        if (code != 0) {
            ReleaseProducer();
        }
        return code;
    }

    void UnInit() override {
        Log("uninit");
        SetEvent(stopEvent.Get());
        WaitForSingleObject(thread.Get(), kBoundMs);
        ReleaseProducer();
    }

    std::uint32_t Start() override {
        if (const std::uint32_t code = Answer(script, "start"); code != 0) {
            return code;
        }
        thread.Reset(CreateThread(nullptr, 0, &FakeService::EventRoutine, this, 0, nullptr));
        return thread.IsValid() ? 0 : GetLastError();
    }

    void Stop() override {
        Log("stop");
        SetEvent(stopEvent.Get());
    }

    std::uint32_t Register(IEvents* events) override {
        listener = events;
        return Answer(script, "register");
    }

    std::uint32_t Unregister(IEvents* events) override {
        Log(events == listener ? "unregister" : "unregister with an unknown listener");
        listener = nullptr;
        return 0;
    }

    void* DeletingDestructor(unsigned int flags) override {
        return qv::RunDeletingDestructor(this, flags);
    }

  private:
    void ReleaseProducer() {
        if (producer != nullptr) {
            LogOutcome("released", manager->ReleasePlugin(kProducerName));
            producer = nullptr;
        }
    }

    static DWORD WINAPI EventRoutine(void* parameter) {
        auto* self = static_cast<FakeService*>(parameter);
        std::wstring remote;
        ForEachLine(self->script, [&](const std::wstring& verb, const std::wstring& rest) {
            if (WaitForSingleObject(self->stopEvent.Get(), 0) != WAIT_TIMEOUT) {
                return false;
            }
            const std::wstring type = rest.substr(0, rest.find(L' '));
            if (verb == L"remote") {
                remote = rest;
            } else if (verb == L"mount") {
                self->Announce(true,
                               type == L"cdrom"    ? kDeviceTypeCdRom
                               : type == L"remote" ? kDeviceTypeRemote
                                                   : kDeviceTypeLocal,
                               rest.substr(type.size() + 1), remote);
            } else if (verb == L"unmount") {
                self->Announce(false, kDeviceTypeLocal, rest, L"");
            } else if (verb == L"wait") {
                const qv::UniqueHandle event(OpenEventW(SYNCHRONIZE, FALSE, rest.c_str()));
                const HANDLE both[2] = {event.Get(), self->stopEvent.Get()};
                WaitForMultipleObjects(2, both, FALSE, kBoundMs);
            }
            return true;
        });
        return 0;
    }

    // The producer first, then the listener, each with a record that is gone when the call
    // returns, so that a host that keeps a reference to it reads freed memory.
    void Announce(bool mounted, std::int32_t type, const std::wstring& path,
                  const std::wstring& remote) const {
        const auto record = [&] {
            return Device{
                type, qv::String(path.c_str()), qv::String(remote.c_str()), 16777216, 4096, 1};
        };
        if (producer != nullptr) {
            mounted ? producer->NotifyDeviceMounted(record(), GetCurrentProcessId())
                    : producer->NotifyDeviceUnmounted(record(),
                                                      IDeviceScanEventProducer::kUnmountMarker);
        }
        if (listener != nullptr) {
            mounted ? listener->OnDeviceMounted(record()) : listener->OnDeviceUnmounted(record());
        }
    }

    const std::wstring script;
    qv::IComponentManager* manager = nullptr;
    IDeviceScanEventProducer* producer = nullptr;
    IEvents* listener = nullptr;
    const qv::UniqueHandle stopEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    qv::UniqueHandle thread;
};

FakeService* live = nullptr;

}  // namespace

extern "C" std::uint32_t QvCreateObject(const wchar_t* name, InterfaceId id, void** out) noexcept {
    *out = nullptr;
    const std::wstring script = Script();
    const std::uint32_t code = Answer(script, "create");
    if (id != IServPlugin::kId) {
        Log("create asked for another view");
    }
    if (std::wcscmp(name, L"FileScan.OnDemand.DeviceScanSP") != 0) {
        return 1168;
    }
    if (code != 0) {
        return code;
    }
    live = new FakeService(script);
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
        delete std::exchange(live, nullptr);
    }
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
    // Only FreeLibrary, not the end of the process, unloads with reserved null.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        Log("unloaded");
    }
    return TRUE;
}
