// A stand-in for the service module, loaded by devicescan-host in the host tests. It plays the
// service object "FileScan.OnDemand.DeviceScanSP" as the host sees it, driven by the lines of the
// environment variable FAKE_SERVICE_SCRIPT:
//
//   create|init|start CODE   that call answers CODE
//   reinit CODE              every Init after the first answers CODE
//   mount TYPE PATH          a mount (TYPE local, or remote: of kRemoteName), producer first
//   unmount PATH             a removal, in the same order
//   wait PATH                waits (bounded) until the test has made that file
//   lose-window              the service window goes, as when another program closes it
//
// The mount, unmount, wait and lose-window lines run in order on a thread of the fake's own,
// started by Start and ended by Stop or UnInit, standing in for the window thread: it owns a
// window of the service's class, which the host watches, and a restart carries on with the next
// line. Each call the host makes is written to stderr as "fake: CALL", so that a test can check
// what the host did and in which order; a call made the wrong way is written with what was wrong
// about it, an acquisition or release that failed not at all.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <sstream>
#include <string>
#include <utility>

#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"
#include "sdk/UniqueHandle.h"

namespace {

using namespace qv;
using namespace qv::rnsdk::FileScan;

constexpr const wchar_t* kProducerName = L"FileScan.OnDemand.DeviceScanAL";
constexpr DWORD kBoundMs = 20000;
// The remote name of every remote mount, one that JSON must escape.
constexpr const wchar_t* kRemoteName = L"\\\\srv\\it's \"quoted\"";

void Log(const std::string& call) {
    const std::string line = "fake: " + call + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.data(), static_cast<DWORD>(line.size()),
              &written, nullptr);
}

// The script, read when the host creates the object.
std::wstring script;

// The code the script gives verb ("init 5"), else 0.
std::uint32_t Code(const std::wstring& verb) {
    const std::size_t at = (L"\n" + script).find(L"\n" + verb + L" ");
    return at == std::wstring::npos ? 0 : std::wcstoul(&script[at + verb.size()], nullptr, 0);
}

class FakeService final : public IServPlugin, public IDeviceScanSP {
  public:
    void* QueryInterface(InterfaceId id) override {
        if (id == IQvBaseInterface::kId || id == IServPlugin::kId) {
            return static_cast<IServPlugin*>(this);
        }
        return id == IDeviceScanSP::kId ? static_cast<IDeviceScanSP*>(this) : nullptr;
    }

    // Like the service: the producer is acquired in Init and, when Init fails, given back.
    std::uint32_t Init(IServiceHost* host) override {
        Log("init");
        manager = host->GetComponentManager();
        void* plugin = nullptr;
        if (manager->AcquirePlugin(kProducerName, IDeviceScanEventProducer::kId, &plugin) == 0) {
            Log("acquired");
        }
        producer = static_cast<IDeviceScanEventProducer*>(plugin);
        const std::uint32_t code = Code(inits++ == 0 ? L"init" : L"reinit");
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
        Log("start");
        if (const std::uint32_t code = Code(L"start"); code != 0) {
            return code;
        }
        ResetEvent(stopEvent.Get());
        thread.Reset(CreateThread(nullptr, 0, &FakeService::EventRoutine, this, 0, nullptr));
        // The host looks for the window as soon as Start returns.
        const HANDLE both[2] = {windowMade.Get(), thread.Get()};
        return WaitForMultipleObjects(2, both, FALSE, kBoundMs) == WAIT_OBJECT_0 ? 0 : 1400;
    }

    void Stop() override {
        Log("stop");
        SetEvent(stopEvent.Get());
    }

    std::uint32_t Register(IEvents* events) override {
        Log("register");
        listener = events;
        return 0;
    }

    std::uint32_t Unregister(IEvents* events) override {
        Log(events == listener ? "unregister" : "unregister with an unknown listener");
        listener = nullptr;
        return 0;
    }

    void* DeletingDestructor(unsigned int flags) override {
        return RunDeletingDestructor(this, flags);
    }

  private:
    void ReleaseProducer() {
        if (std::exchange(producer, nullptr) != nullptr &&
            manager->ReleasePlugin(kProducerName) == 0) {
            Log("released");
        }
    }

    static DWORD WINAPI EventRoutine(void* parameter) {
        auto* self = static_cast<FakeService*>(parameter);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.lpszClassName = L"DeviceScanWndClassName";
        RegisterClassW(&windowClass);  // fails harmlessly when it already exists
        HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, nullptr,
                                      nullptr, nullptr, nullptr);
        SetEvent(self->windowMade.Get());
        for (std::wstring line; WaitForSingleObject(self->stopEvent.Get(), 0) == WAIT_TIMEOUT &&
                                std::getline(self->lines, line);) {
            const std::wstring verb = line.substr(0, line.find(L' '));
            const std::wstring rest = line.substr(std::min(verb.size() + 1, line.size()));
            const std::wstring type = rest.substr(0, rest.find(L' '));
            if (verb == L"mount") {
                const bool remote = type == L"remote";
                self->Announce(true, remote ? kDeviceTypeRemote : kDeviceTypeLocal,
                               rest.substr(type.size() + 1), remote ? kRemoteName : L"");
            } else if (verb == L"unmount") {
                self->Announce(false, kDeviceTypeLocal, rest, L"");
            } else if (verb == L"lose-window") {
                DestroyWindow(std::exchange(window, nullptr));
            } else if (verb == L"wait") {
                for (const ULONGLONG end = GetTickCount64() + kBoundMs;
                     GetFileAttributesW(rest.c_str()) == INVALID_FILE_ATTRIBUTES &&
                     GetTickCount64() < end &&
                     WaitForSingleObject(self->stopEvent.Get(), 10) == WAIT_TIMEOUT;) {
                }
            }
        }
        // As the service's window thread, it runs, and its window stays, until the service stops.
        WaitForSingleObject(self->stopEvent.Get(), INFINITE);
        DestroyWindow(window);
        return 0;
    }

    // The producer first, then the listener, each with a record that is gone when the call
    // returns, so that a host that keeps a reference to it reads freed memory. Both are there
    // while the thread runs: the host registers its listener before Start and hands out the
    // producer in Init.
    void Announce(bool mounted, std::int32_t type, const std::wstring& path,
                  const std::wstring& remote) const {
        const auto record = [&] {
            return Device{type, String(path.c_str()), String(remote.c_str()), 16777216, 4096, 1};
        };
        mounted
            ? producer->NotifyDeviceMounted(record(), GetCurrentProcessId())
            : producer->NotifyDeviceUnmounted(record(), IDeviceScanEventProducer::kUnmountMarker);
        mounted ? listener->OnDeviceMounted(record()) : listener->OnDeviceUnmounted(record());
    }

    IComponentManager* manager = nullptr;
    IDeviceScanEventProducer* producer = nullptr;
    IEvents* listener = nullptr;
    std::wistringstream lines{script};  // where the event thread is in the script
    int inits = 0;
    const UniqueHandle windowMade{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    const UniqueHandle stopEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueHandle thread;
};

FakeService* live = nullptr;

}  // namespace

extern "C" std::uint32_t QvCreateObject(const wchar_t* name, InterfaceId id, void** out) noexcept {
    *out = nullptr;
    const bool asked = std::wcscmp(name, L"FileScan.OnDemand.DeviceScanSP") == 0;
    Log(asked && id == IServPlugin::kId ? "create" : "create with another name or view");
    script.assign(32767, L'\0');
    script.resize(GetEnvironmentVariableW(L"FAKE_SERVICE_SCRIPT", script.data(), 32767));
    if (const std::uint32_t code = Code(L"create"); code != 0) {
        return code;
    }
    live = new FakeService();
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
