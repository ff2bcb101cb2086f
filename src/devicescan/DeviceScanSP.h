#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "devicescan/ServPlugin.h"
#include "logging/LogRef.h"
#include "sdk/CriticalSection.h"
#include "sdk/Event.h"
#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"
#include "sdk/Map.h"
#include "sdk/MemberFunction_1_args.h"
#include "sdk/StringT.h"
#include "sdk/SynchronyzedObjectContainer.h"
#include "sdk/ThreadChecker.h"

namespace devicescan::service {

// The device-scan service: watches the machine for storage volumes that arrive or leave and tells
// the producer plugin and every registered listener about each mount and removal.
//
// Threads:
// - The host's threads call QueryInterface, Init, Start, Stop, UnInit, Register and Unregister.
//   The life-cycle operations take no lock of their own: the host runs one at a time.
// - One window thread per Init (WindowThreadRoutine) runs every window message, every device
//   handler, every producer call and every listener notification, one message at a time.
// - devices is touched only by the device handlers, on the window thread of the current Init
//   (devicesThread checks it), and only under devicesLock; listeners has its own reader/writer
//   lock, held
//   shared for a whole fan-out, so Register and Unregister may run while the window thread
//   notifies (they wait for the fan-out to end). Listeners must not register or unregister.
// - Start hands over from the window thread through initEvent: the thread writes window and
//   initResult before it signals. Stop and UnInit reach the thread only through its queue; after
//   UnInit from another thread no code of the object runs on the window thread.
// - A listener or the producer may call UnInit, or have the object destroyed, from inside a
//   notification, on the window thread. The thread never waits for itself: UnInit there only
//   ends the loop. A destruction while the loop runs, there or from the host without UnInit, is
//   finished by the thread itself as its last act (see operator delete).
class DeviceScanSP final : public qv::IServPlugin, public qv::rnsdk::FileScan::IDeviceScanSP {
  public:
    static constexpr wchar_t kWindowClassName[] = L"DeviceScanWndClassName";
    static constexpr wchar_t kWindowName[] = L"DeviceScanInvisibleDialog";
    static constexpr wchar_t kProducerName[] = L"FileScan.OnDemand.DeviceScanAL";

    DeviceScanSP();
    // Runs UnInit when the host has not: the window thread never outlives the object.
    ~DeviceScanSP();
    // Every delete of the object comes here. While the window thread runs its loop it only
    // marks the object for the thread to destroy once it has left its loop and returned from
    // everything on its stack.
    static void operator delete(DeviceScanSP* object, std::destroying_delete_t);
    DeviceScanSP(const DeviceScanSP&) = delete;
    DeviceScanSP& operator=(const DeviceScanSP&) = delete;

    // IQvBaseInterface, IServPlugin
    void* QueryInterface(qv::InterfaceId id) override;
    std::uint32_t Init(qv::IServiceHost* host) override;
    void UnInit() override;
    std::uint32_t Start() override;
    void Stop() override;

    // IDeviceScanSP
    std::uint32_t Register(IEvents* listener) override;
    std::uint32_t Unregister(IEvents* listener) override;
    void* DeletingDestructor(unsigned int flags) override {
        return qv::RunDeletingDestructor(this, flags);
    }

  private:
    // The unit tests call the device handlers directly, as the window procedure does.
    friend class DeviceHandlerTestAccess;

    using DeviceEvent = qv::MemberFunction_1_args<IEvents, int, const Device&>;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static DWORD WINAPI WindowThreadRoutine(void* parameter);
    std::uint32_t InitWindowInstance();
    std::uint32_t UninitWindowInstance();
    void PumpMessages();
    void HandleVolumeChange(WPARAM change, const qv::String& path);
    bool OnWindowThread() const;
    bool HandTeardownToWindowThread();
    [[noreturn]] void FinishTeardownOnWindowThread();

    // Device handling, on the window thread. path is a drive root such as E:\.
    void OnDeviceArrival(const qv::String& path);
    void OnDeviceRemoveComplete(const qv::String& path);

    ServPlugin<qv::rnsdk::FileScan::IDeviceScanEventProducer> producer{kProducerName};
    qv::SynchronyzedObjectContainer<IEvents*> listeners;
    qv::Event<DeviceEvent, &IEvents::OnDeviceMounted> mountedEvent{&listeners};
    qv::Event<DeviceEvent, &IEvents::OnDeviceUnmounted> unmountedEvent{&listeners};
    std::uint32_t sessionId = 0xFFFFFFFF;
    HINSTANCE moduleInstance = nullptr;
    HWND window = nullptr;
    HANDLE windowThread = nullptr;
    DWORD windowThreadId = 0;
    HANDLE initEvent = nullptr;
    std::uint32_t initResult = 0;
    // One thread touches devices, as devicesThread shows, so the lock guards against nothing
    // today; it stays because the service's contract names it around the map's find-and-insert
    // and find-copy-and-erase.
    qv::CriticalSection devicesLock;
    qv::Map<qv::String, Device> devices;
    qv::ThreadChecker devicesThread;  // the window thread of the current Init
    logging::LogRef logRef;

    // Whether Start has resumed the current window thread; a thread is started once per Init.
    bool threadResumed = false;
    // Set before UnInit resumes a thread that Start never ran: it then ends at once.
    std::atomic<bool> endBeforeStart{false};
    // Who finishes a destruction made while the window thread runs its loop (operator delete):
    // the destroyer moves kNone to kHandedOver, the thread moves it to kThreadDone once it has
    // taken its window down. When the destroyer came first the thread frees the object; when the
    // thread did, the destroyer waits for it. pinnedModule keeps this module loaded until then.
    enum class Teardown { kNone, kHandedOver, kThreadDone };
    std::atomic<Teardown> teardown{Teardown::kNone};
    HMODULE pinnedModule = nullptr;
};

}  // namespace devicescan::service
