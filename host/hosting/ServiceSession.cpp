#include "host/hosting/ServiceSession.h"

#include <utility>

#include "sdk/SystemMessage.h"

namespace devicescan::host {

using qv::DescribeError;

namespace {

std::wstring Result(std::uint32_t code) {
    return L" -> " + std::to_wstring(code);
}

}  // namespace

ServiceSession::ServiceSession(const ModuleLoader& module, EventPrinter printer)
    : module(module), printer(std::move(printer)) {}

bool ServiceSession::Create(std::wstring& failure) {
    void* object = nullptr;
    const std::uint32_t code = module.Create()(kObjectName, qv::IServPlugin::kId, &object);
    printer.Trace(L"QvCreateObject(\"" + std::wstring(kObjectName) + L"\", IServPlugin)" +
                  Result(code));
    if (code != 0) {
        failure = L"QvCreateObject(\"" + std::wstring(kObjectName) + L"\", IServPlugin) failed: " +
                  DescribeError(code);
        return false;
    }
    if (object == nullptr) {
        failure = L"QvCreateObject returned 0 but no object";
        return false;
    }
    plugin = static_cast<qv::IServPlugin*>(object);
    root = static_cast<qv::IQvBaseInterface*>(plugin->QueryInterface(qv::IQvBaseInterface::kId));
    deviceScan = static_cast<qv::rnsdk::FileScan::IDeviceScanSP*>(
        plugin->QueryInterface(qv::rnsdk::FileScan::IDeviceScanSP::kId));
    printer.Trace(L"QueryInterface(IQvBaseInterface) -> " + std::wstring(root ? L"view" : L"null"));
    printer.Trace(L"QueryInterface(IDeviceScanSP) -> " +
                  std::wstring(deviceScan ? L"view" : L"null"));
    if (root == nullptr) {
        // Without its root view the object cannot be given back as the module expects; the
        // IServPlugin view is the best the host can offer instead.
        root = plugin;
        failure = L"the object does not answer QueryInterface for IQvBaseInterface";
        Destroy();
        return false;
    }
    if (deviceScan == nullptr) {
        failure = L"the object does not answer QueryInterface for IDeviceScanSP";
        Destroy();
        return false;
    }
    return true;
}

std::uint32_t ServiceSession::Register(qv::rnsdk::FileScan::IDeviceScanSP::IEvents* listener) {
    const std::uint32_t code = deviceScan->Register(listener);
    printer.Trace(L"Register" + Result(code));
    if (code == 0) {
        registered = listener;
    }
    return code;
}

std::uint32_t ServiceSession::Init(qv::IServiceHost* serviceHost) {
    const std::uint32_t code = plugin->Init(serviceHost);
    printer.Trace(L"Init" + Result(code));
    initialised = code == 0;
    return code;
}

std::uint32_t ServiceSession::Start() {
    const std::uint32_t code = plugin->Start();
    printer.Trace(L"Start" + Result(code));
    started = code == 0;
    return code;
}

std::uint32_t ServiceSession::Restart(qv::IServiceHost* serviceHost, std::wstring& step) {
    StopAndUnInit();
    qv::rnsdk::FileScan::IDeviceScanSP::IEvents* const listener = registered;
    if (listener != nullptr) {
        // The service keeps its listeners over UnInit; registering anew makes sure of it.
        const std::uint32_t code = deviceScan->Unregister(listener);
        printer.Trace(L"Unregister" + Result(code));
        registered = nullptr;
        step = L"Register";
        if (const std::uint32_t again = Register(listener); again != 0) {
            return again;
        }
    }
    step = L"Init";
    if (const std::uint32_t code = Init(serviceHost); code != 0) {
        return code;
    }
    step = L"Start";
    return Start();
}

void ServiceSession::StopAndUnInit() {
    if (started) {
        plugin->Stop();
        printer.Trace(L"Stop");
        started = false;
    }
    if (initialised) {
        plugin->UnInit();
        printer.Trace(L"UnInit");
        initialised = false;
    }
}

void ServiceSession::Shutdown() {
    StopAndUnInit();
    if (registered != nullptr) {
        const std::uint32_t code = deviceScan->Unregister(registered);
        printer.Trace(L"Unregister" + Result(code));
        if (code != 0) {
            printer.Warning(L"Unregister failed: " + DescribeError(code));
        }
        registered = nullptr;
    }
    Destroy();
}

void ServiceSession::Destroy() {
    if (root == nullptr) {
        return;
    }
    module.Destroy()(kObjectName, root);
    printer.Trace(L"QvDestroyObject(\"" + std::wstring(kObjectName) + L"\", root view)");
    root = nullptr;
    plugin = nullptr;
    deviceScan = nullptr;
}

}  // namespace devicescan::host
