#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "ProcAddress.h"

namespace support {

// Handles that Wine itself opens or closes in a process now and then, most when other programs
// share the wineserver. A leak of one handle per cycle shows as hundreds.
inline constexpr long kHandleNoise = 4;

// The number of handles this process holds, counted from the system's handle list
// (NtQuerySystemInformation, SystemExtendedHandleInformation). GetProcessHandleCount is no use
// here: under Wine it always answers 0. Returns -1 when the list cannot be read.
inline long ProcessHandleCount() {
    struct HandleEntry {
        void* object;
        ULONG_PTR processId;
        ULONG_PTR handle;
        ULONG grantedAccess;
        USHORT creatorBackTraceIndex;
        USHORT objectTypeIndex;
        ULONG attributes;
        ULONG reserved;
    };
    struct HandleList {
        ULONG_PTR count;
        ULONG_PTR reserved;
        HandleEntry entries[1];
    };
    using QueryFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kSystemExtendedHandleInformation = 64;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

    const auto query =
        qv::GetProcAddressAs<QueryFunction>(GetModuleHandleW(L"ntdll"), "NtQuerySystemInformation");
    if (query == nullptr) {
        return -1;
    }
    std::vector<std::uint8_t> buffer(1 << 20);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(kSystemExtendedHandleInformation, buffer.data(),
                                  static_cast<ULONG>(buffer.size()), &needed);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status < 0) {
            return -1;
        }
        break;
    }
    const auto* list = reinterpret_cast<const HandleList*>(buffer.data());
    const ULONG_PTR self = GetCurrentProcessId();
    long count = 0;
    for (ULONG_PTR i = 0; i < list->count; ++i) {
        count += list->entries[i].processId == self ? 1 : 0;
    }
    return count;
}

}  // namespace support
