#pragma once

#include <windows.h>

#include <vector>

#include "sdk/ProcAddress.h"

namespace support {

// Handles that Wine itself opens or closes in a process now and then, most when other programs
// share the wineserver. A leak of one handle per cycle shows as hundreds.
inline constexpr long kHandleNoise = 4;

// The number of handles this process holds, counted from the system's handle list
// (NtQuerySystemInformation, SystemExtendedHandleInformation). GetProcessHandleCount is no use
// here: under Wine it always answers 0. Returns -1 when the list cannot be read.
inline long ProcessHandleCount() {
    using QueryFunction = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    constexpr ULONG kSystemExtendedHandleInformation = 64;
    constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
    const auto query =
        qv::GetProcAddressAs<QueryFunction>(GetModuleHandleW(L"ntdll"), "NtQuerySystemInformation");
    std::vector<ULONG_PTR> buffer(1 << 17);
    LONG status = kInfoLengthMismatch;
    while (query != nullptr && status == kInfoLengthMismatch) {
        buffer.resize(buffer.size() * 2);
        status = query(kSystemExtendedHandleInformation, buffer.data(),
                       static_cast<ULONG>(buffer.size() * sizeof(ULONG_PTR)), nullptr);
    }
    if (query == nullptr || status < 0) {
        return -1;
    }
    // The list: a count and a reserved word, then entries of five words, the second of which is
    // the owning process's id.
    long count = 0;
    for (ULONG_PTR i = 0; i < buffer[0]; ++i) {
        count += buffer[2 + i * 5 + 1] == GetCurrentProcessId() ? 1 : 0;
    }
    return count;
}

}  // namespace support
