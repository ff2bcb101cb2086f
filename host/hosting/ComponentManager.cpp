#include "host/hosting/ComponentManager.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <utility>

namespace devicescan::host {

namespace {

// The identity in its usual text form, {328B2BC6-3AFD-9ED2-5B42-083A9508491E}.
std::wstring IdText(qv::InterfaceId id) {
    unsigned char bytes[16];
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<unsigned char>(id.low >> (8 * i));
        bytes[8 + i] = static_cast<unsigned char>(id.high >> (8 * i));
    }
    wchar_t text[40];
    std::swprintf(
        text, 40, L"{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
        bytes[3], bytes[2], bytes[1], bytes[0], bytes[5], bytes[4], bytes[7], bytes[6], bytes[8],
        bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return text;
}

std::wstring NameText(const wchar_t* name) {
    return name == nullptr ? L"null" : L"\"" + std::wstring(name) + L"\"";
}

bool IsProducerName(const wchar_t* name) {
    return std::wcscmp(name, ComponentManager::kProducerName) == 0;
}

}  // namespace

ComponentManager::ComponentManager(qv::rnsdk::FileScan::IDeviceScanEventProducer* producer,
                                   EventPrinter printer)
    : producer(producer), printer(std::move(printer)) {}

std::uint32_t ComponentManager::AcquirePlugin(const wchar_t* name, qv::InterfaceId id,
                                              void** plugin) {
    const std::uint32_t result = Acquire(name, id, plugin);
    printer.Trace(L"AcquirePlugin(" + NameText(name) + L", " + IdText(id) + L") -> " +
                  std::to_wstring(result));
    return result;
}

std::uint32_t ComponentManager::ReleasePlugin(const wchar_t* name) {
    const std::uint32_t result = Release(name);
    printer.Trace(L"ReleasePlugin(" + NameText(name) + L") -> " + std::to_wstring(result));
    return result;
}

std::uint32_t ComponentManager::Acquire(const wchar_t* name, qv::InterfaceId id, void** plugin) {
    if (plugin == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    *plugin = nullptr;
    if (name == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!IsProducerName(name)) {
        return ERROR_NOT_FOUND;
    }
    if (!(id == qv::rnsdk::FileScan::IDeviceScanEventProducer::kId)) {
        return ERROR_NOT_SUPPORTED;
    }
    *plugin = producer;
    ++held;
    return ERROR_SUCCESS;
}

std::uint32_t ComponentManager::Release(const wchar_t* name) {
    if (name == nullptr) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!IsProducerName(name)) {
        return ERROR_NOT_FOUND;
    }
    int count = held.load();
    while (count > 0 && !held.compare_exchange_weak(count, count - 1)) {
    }
    return count > 0 ? ERROR_SUCCESS : ERROR_NOT_FOUND;
}

}  // namespace devicescan::host
