#include "devicescan/DeviceScanSP.h"

#include <utility>

#include "drives/Platform.h"
#include "logging/LogApi.h"
#include "logging/LogMessage.h"
#include "logging/TraceScope.h"
#include "sdk/ResultCodes.h"

namespace devicescan::service {

using logging::LOG_ERROR;
using logging::LOG_INFO;
using logging::LogMessage;

namespace {

constexpr wchar_t kInit[] = L"DeviceScanSP::Init";
constexpr wchar_t kUnInit[] = L"DeviceScanSP::UnInit";
constexpr wchar_t kStart[] = L"DeviceScanSP::Start";
constexpr wchar_t kStop[] = L"DeviceScanSP::Stop";

// Start refuses to run a window thread a second time: its init event has been consumed, so a
// second wait would never end. UnInit and Init give a fresh thread.
constexpr std::uint32_t kResultAlreadyStarted = ERROR_INVALID_STATE;
// Init refuses while an earlier Init still holds its event and thread: replacing them would
// leak both and leave a thread that nobody stops.
constexpr std::uint32_t kResultAlreadyInitialized = ERROR_ALREADY_INITIALIZED;

}  // namespace

DeviceScanSP::DeviceScanSP() {
    logRef.Acquire();
}

DeviceScanSP::~DeviceScanSP() {
    if (windowThread != nullptr || initEvent != nullptr) {
        UnInit();
    }
    logRef.Release();
}

// A destruction cannot wait for the window thread while that thread runs its loop and may be
// inside a notification. On the window thread itself the wait would be on itself, with the
// object's code still on the thread's stack (the fan-out, the handler, the window procedure).
// From another thread (the host destroying without UnInit) the wait is made under the registry's
// lock, which a listener calling the module's exports on the window thread at that moment waits
// for. So while the loop runs, the thread finishes the destruction itself: the loop is asked to
// end, the module is pinned, and once the loop has ended and the window is gone the thread closes
// what UnInit would have closed, frees the object and unloads the module as its last act. A
// thread that never ran its loop, or has left it, calls nobody any more: the destructor waits
// for it at once.
void DeviceScanSP::operator delete(DeviceScanSP* object, std::destroying_delete_t) {
    if (object->HandTeardownToWindowThread()) {
        return;
    }
    object->~DeviceScanSP();
    ::operator delete(object);
}

bool DeviceScanSP::OnWindowThread() const {
    return windowThread != nullptr && GetCurrentThreadId() == windowThreadId;
}

bool DeviceScanSP::HandTeardownToWindowThread() {
    const bool onWindowThread = OnWindowThread();
    // Start's fields are the host's: on the window thread the loop is running anyway.
    if (!onWindowThread && (windowThread == nullptr || !threadResumed || initResult != 0)) {
        return false;
    }
    if (pinnedModule == nullptr) {
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                           reinterpret_cast<const wchar_t*>(&WindowThreadRoutine), &pinnedModule);
    }
    Teardown expected = Teardown::kNone;
    if (!teardown.compare_exchange_strong(expected, Teardown::kHandedOver)) {
        // The thread has left its loop already: the destructor's wait is short.
        if (pinnedModule != nullptr) {
            FreeLibrary(std::exchange(pinnedModule, nullptr));
        }
        return false;
    }
    LogMessage(LOG_INFO, L"DeviceScanSP::operator delete",
               L"destroyed while the window thread runs: it ends and tears down [id = %d]",
               windowThreadId);
    if (onWindowThread) {
        PostQuitMessage(0);
    } else {
        PostThreadMessageW(windowThreadId, WM_QUIT, 0, 0);
    }
    return true;
}

void DeviceScanSP::FinishTeardownOnWindowThread() {
    const HMODULE module = pinnedModule;
    // Nobody waits for this thread any more: its own handle and the event are closed here, the
    // producer is given back by the destructor.
    CloseHandle(windowThread);
    windowThread = nullptr;
    if (initEvent != nullptr) {
        CloseHandle(initEvent);
        initEvent = nullptr;
    }
    this->~DeviceScanSP();
    ::operator delete(this);
    if (module != nullptr) {
        FreeLibraryAndExitThread(module, 0);
    }
    ExitThread(0);
}

void* DeviceScanSP::QueryInterface(qv::InterfaceId id) {
    if (id == IQvBaseInterface::kId || id == IServPlugin::kId) {
        return static_cast<IServPlugin*>(this);
    }
    if (id == IDeviceScanSP::kId) {
        return static_cast<IDeviceScanSP*>(this);
    }
    return nullptr;
}

std::uint32_t DeviceScanSP::Init(qv::IServiceHost* host) {
    logging::TraceScope scope(kInit);
    if (windowThread != nullptr || initEvent != nullptr) {
        LogMessage(LOG_ERROR, kInit, L"already initialized, UnInit first [error = %d]",
                   kResultAlreadyInitialized);
        return kResultAlreadyInitialized;
    }

    sessionId = platform::WTSGetActiveConsoleSessionId();
    if (sessionId == 0xFFFFFFFF) {
        LogMessage(LOG_ERROR, kInit, L"cannot get current sessionId");
    }
    LogMessage(LOG_INFO, kInit, L"current session id = %d", sessionId);

    // The window class belongs to the host's executable, not to this module.
    moduleInstance = GetModuleHandleW(nullptr);
    if (moduleInstance == nullptr) {
        const DWORD error = GetLastError();
        LogMessage(LOG_ERROR, kInit, L"cannot get module instance [error = %d]", error);
        UnInit();
        return error;
    }

    qv::IComponentManager* manager = host != nullptr ? host->GetComponentManager() : nullptr;
    if (producer.GetPlugin(manager) == nullptr) {
        LogMessage(LOG_ERROR, kInit, L"cannot get producer plugin");
        UnInit();
        return qv::kResultDependencyMissing;
    }

    initEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (initEvent == nullptr) {
        const DWORD error = GetLastError();
        LogMessage(LOG_ERROR, kInit, L"cannot create event [error = %d]", error);
        UnInit();
        return error;
    }

    devicesThread.Detach();  // the new window thread takes the device table over
    windowThread =
        CreateThread(nullptr, 0, &WindowThreadRoutine, this, CREATE_SUSPENDED, &windowThreadId);
    if (windowThread == nullptr) {
        const DWORD error = GetLastError();
        LogMessage(LOG_ERROR, kInit, L"cannot create window thread [error = %d]", error);
        UnInit();
        return error;
    }
    threadResumed = false;
    endBeforeStart = false;
    teardown = Teardown::kNone;
    return qv::kResultSuccess;
}

std::uint32_t DeviceScanSP::Start() {
    logging::TraceScope scope(kStart);
    if (initEvent == nullptr || windowThread == nullptr) {
        LogMessage(LOG_ERROR, kStart, L"not initialized");
        Stop();
        return qv::kResultNotInitialized;
    }
    if (threadResumed) {
        LogMessage(LOG_ERROR, kStart,
                   L"window thread already started, UnInit and Init first [error = %d]",
                   kResultAlreadyStarted);
        return kResultAlreadyStarted;
    }

    if (ResumeThread(windowThread) == static_cast<DWORD>(-1)) {
        const DWORD error = GetLastError();
        LogMessage(LOG_ERROR, kStart, L"cannot resume window thread [error = %d]", error);
        if (error != 0) {
            Stop();
        }
        return error;
    }
    threadResumed = true;

    LogMessage(LOG_INFO, kStart, L"async initialization launched => waiting ...");
    WaitForSingleObject(initEvent, INFINITE);
    LogMessage(LOG_INFO, kStart, L"async initialization finished [error = %d]", initResult);
    if (initResult != 0) {
        Stop();
    }
    return initResult;
}

void DeviceScanSP::Stop() {
    logging::TraceScope scope(kStop);
    if (windowThread == nullptr || windowThreadId == 0) {
        return;
    }
    LogMessage(LOG_INFO, kStop, L"request stop window thread [id = %d]", windowThreadId);
    PostThreadMessageW(windowThreadId, WM_QUIT, 0, 0);
}

void DeviceScanSP::UnInit() {
    logging::TraceScope scope(kUnInit);
    if (OnWindowThread()) {
        // Called from a notification: the thread cannot wait for itself. Its loop ends; the
        // thread, the event and the producer stay for the next UnInit from another thread, or
        // for the destruction, which wait for the thread first.
        LogMessage(LOG_INFO, kUnInit, L"called on the window thread: its loop ends, no wait");
        PostQuitMessage(0);
        return;
    }
    if (windowThread != nullptr) {
        if (windowThreadId != 0) {
            if (!threadResumed) {
                // A suspended thread has no message queue, so a quit request cannot reach it:
                // let it run and end before it creates anything.
                endBeforeStart = true;
                ResumeThread(windowThread);
            }
            PostThreadMessageW(windowThreadId, WM_QUIT, 0, 0);
            LogMessage(LOG_INFO, kUnInit, L"waiting for window thread [id = %d]", windowThreadId);
            WaitForSingleObject(windowThread, INFINITE);
            LogMessage(LOG_INFO, kUnInit, L"window thread is terminated!");
        }
        CloseHandle(windowThread);
        windowThread = nullptr;
    }
    if (initEvent != nullptr) {
        CloseHandle(initEvent);
        initEvent = nullptr;
    }
    threadResumed = false;
    producer.Release();
}

std::uint32_t DeviceScanSP::Register(IEvents* listener) {
    logging::TraceScope scope(L"DeviceScanSP::Register");
    if (listener == nullptr) {
        return qv::kResultInvalidParameter;
    }
    return listeners.Add(listener) ? qv::kResultSuccess : qv::kResultFunctionFailed;
}

std::uint32_t DeviceScanSP::Unregister(IEvents* listener) {
    logging::TraceScope scope(L"DeviceScanSP::Unregister");
    if (listener == nullptr) {
        return qv::kResultInvalidParameter;
    }
    return listeners.Remove(listener) ? qv::kResultSuccess : qv::kResultFunctionFailed;
}

}  // namespace devicescan::service
