#pragma once

/* What a leak check counts in its own process: the bytes in use in its heaps and the handles it
 * holds. Plain C, so that the C host among the tests counts as the C++ tests and the benchmark
 * do. Neither uses the system's own counters: under Wine the private-bytes figure always reads 0
 * and GetProcessHandleCount always answers 0. */

#include <windows.h>

/* The bytes in the busy blocks of every heap of the process, whichever runtime allocated them:
 * finer than the committed figure, which moves only when a heap has to grow. */
static inline SIZE_T QvHeapBytesInUse(void) {
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T total = 0;
    DWORD i;
    for (i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry;
        ZeroMemory(&entry, sizeof(entry));
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry)) {
            total += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 ? entry.cbData : 0;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

/* The handles this process holds, counted in the system's handle list (NtQuerySystemInformation,
 * class 64, SystemExtendedHandleInformation: a count, a reserved word, then entries of five
 * words whose second is the owning process's id). The list lives outside the heaps, which may
 * be measured at the same time. -1 when the list cannot be read. */
static inline long QvProcessHandleCount(void) {
    typedef LONG(WINAPI * QueryFunction)(ULONG, void*, ULONG, ULONG*);
    const LONG infoLengthMismatch = (LONG)0xC0000004;
    QueryFunction query = (QueryFunction)(void (*)(void))GetProcAddress(GetModuleHandleW(L"ntdll"),
                                                                        "NtQuerySystemInformation");
    SIZE_T size = (SIZE_T)1 << 20;
    ULONG_PTR* list = NULL;
    LONG status = infoLengthMismatch;
    long count = 0;
    ULONG_PTR i;
    while (query != NULL && status == infoLengthMismatch && size <= ((SIZE_T)1 << 30)) {
        if (list != NULL) {
            VirtualFree(list, 0, MEM_RELEASE);
        }
        size *= 2;
        list = (ULONG_PTR*)VirtualAlloc(NULL, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        status = list == NULL ? -1 : query(64, list, (ULONG)size, NULL);
    }
    if (list == NULL || status < 0) {
        if (list != NULL) {
            VirtualFree(list, 0, MEM_RELEASE);
        }
        return -1;
    }
    for (i = 0; i < list[0] && 2 + i * 5 + 1 < size / sizeof(ULONG_PTR); ++i) {
        count += list[2 + i * 5 + 1] == GetCurrentProcessId() ? 1 : 0;
    }
    VirtualFree(list, 0, MEM_RELEASE);
    return count;
}
