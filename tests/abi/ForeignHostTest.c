/* The module as a host built by another compiler sees it: plain C, every interface a table of
 * function pointers called by slot number, every table of the host's side a C table that records
 * its calls. A thousand create / Init / Register / Start / arrival / removal / Stop / UnInit /
 * destroy cycles must call each slot as its interface has it and leave memory and handles flat.
 *
 * Loads the shipped module from bin/ beside its own tests/ folder. Exit code 0 when every check
 * held. */
#include <windows.h>
#include <dbt.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

typedef struct InterfaceId {
    uint64_t low;
    uint64_t high;
} InterfaceId;

static const InterfaceId kBaseId = {0xbc90fca366551ab3ull, 0x514be292f7c5425full};
static const InterfaceId kServPluginId = {0x983304d0414e2323ull, 0xe952825d7c884176ull};
static const InterfaceId kDeviceScanId = {0xb4c1b4dc700debc8ull, 0x17b6daa73e6246e5ull};
static const InterfaceId kProducerId = {0x9ed23afd328b2bc6ull, 0x1e4908953a08425bull};

static const wchar_t kObjectName[] = L"FileScan.OnDemand.DeviceScanSP";
static const wchar_t kProducerName[] = L"FileScan.OnDemand.DeviceScanAL";

/* The mounted-volume record: each string is one pointer to its characters (null when empty). */
typedef struct Device {
    int32_t type;
    const wchar_t* path;
    const wchar_t* remote;
    uint64_t fullSize;
    uint64_t storedSize;
    uint32_t sessionId;
} Device;

/* ---- The module's views ---------------------------------------------------------------- */

typedef struct ServPlugin ServPlugin;
typedef struct DeviceScan DeviceScan;
typedef struct ServiceHost ServiceHost;
typedef struct Listener Listener;

typedef struct ServPluginSlots {
    void* (*QueryInterface)(ServPlugin* self, InterfaceId id);
    uint32_t (*Init)(ServPlugin* self, ServiceHost* host);
    void (*UnInit)(ServPlugin* self);
    uint32_t (*Start)(ServPlugin* self);
    void (*Stop)(ServPlugin* self);
} ServPluginSlots;

struct ServPlugin {
    const ServPluginSlots* slots;
};

typedef struct DeviceScanSlots {
    uint32_t (*Register)(DeviceScan* self, Listener* listener);
    uint32_t (*Unregister)(DeviceScan* self, Listener* listener);
    void* (*DeletingDestructor)(DeviceScan* self, unsigned int flags);
} DeviceScanSlots;

struct DeviceScan {
    const DeviceScanSlots* slots;
};

typedef uint32_t (*CreateFunction)(const wchar_t* name, InterfaceId id, void** out);
typedef void (*DestroyFunction)(const wchar_t* name, void* object);

/* ---- The host's tables, recording ------------------------------------------------------ */

/* One letter per call the module makes, in order: G GetComponentManager, A AcquirePlugin,
 * R ReleasePlugin, m NotifyDeviceMounted, u NotifyDeviceUnmounted, M OnDeviceMounted,
 * U OnDeviceUnmounted, ? a slot the module must never call. */
static char calls[64];
static size_t callCount;
static int failures;

static void Fail(const char* what, int cycle) {
    if (failures++ < 20) {
        fprintf(stderr, "cycle %d: %s (calls: \"%s\")\n", cycle, what, calls);
    }
}

static void Heard(char call) {
    if (callCount + 1 < sizeof(calls)) {
        calls[callCount++] = call;
        calls[callCount] = '\0';
    }
}

/* The calls since the last check must be exactly `expected`; the record starts afresh. */
static void ExpectCalls(const char* expected, const char* step, int cycle) {
    if (strcmp(calls, expected) != 0) {
        char what[128];
        snprintf(what, sizeof(what), "%s: expected calls \"%s\"", step, expected);
        Fail(what, cycle);
    }
    callCount = 0;
    calls[0] = '\0';
}

static int recordFaults;

/* Every announcement here is of Z:, a local drive under Wine, in the console's session; the last
 * field checked tells that the record's layout is the one read here. */
static void CheckRecord(const Device* device) {
    const int good = device->type == 1 && device->path != NULL &&
                     wcscmp(device->path, L"Z:\\") == 0 &&
                     (device->remote == NULL || device->remote[0] == L'\0') &&
                     device->fullSize >= device->storedSize && device->fullSize > 0 &&
                     device->sessionId == WTSGetActiveConsoleSessionId();
    recordFaults += good ? 0 : 1;
}

typedef struct ComponentManager ComponentManager;
typedef struct Producer Producer;

typedef struct ComponentManagerSlots {
    uint32_t (*AcquirePlugin)(ComponentManager* self, const wchar_t* name, InterfaceId id,
                              void** plugin);
    uint32_t (*ReleasePlugin)(ComponentManager* self, const wchar_t* name);
} ComponentManagerSlots;

struct ComponentManager {
    const ComponentManagerSlots* slots;
};

typedef struct ProducerSlots {
    uint32_t (*NotifyDeviceMounted)(Producer* self, const Device* device, uint32_t processId);
    uint32_t (*NotifyDeviceUnmounted)(Producer* self, const Device* device, uint32_t marker);
} ProducerSlots;

struct Producer {
    const ProducerSlots* slots;
};

typedef struct ServiceHostSlots {
    uint32_t (*Reserved)(ServiceHost* self);
    ComponentManager* (*GetComponentManager)(ServiceHost* self);
} ServiceHostSlots;

struct ServiceHost {
    const ServiceHostSlots* slots;
};

typedef struct ListenerSlots {
    int (*Reserved)(Listener* self);
    int (*OnDeviceMounted)(Listener* self, const Device* device);
    int (*OnDeviceUnmounted)(Listener* self, const Device* device);
} ListenerSlots;

struct Listener {
    const ListenerSlots* slots;
};

static uint32_t NotifyDeviceMounted(Producer* self, const Device* device, uint32_t processId) {
    (void)self;
    Heard('m');
    CheckRecord(device);
    recordFaults += processId == GetCurrentProcessId() ? 0 : 1;
    return 0;
}

static uint32_t NotifyDeviceUnmounted(Producer* self, const Device* device, uint32_t marker) {
    (void)self;
    Heard('u');
    CheckRecord(device);
    recordFaults += marker == 0xDEAD ? 0 : 1;
    return 0;
}

static const ProducerSlots kProducerSlots = {NotifyDeviceMounted, NotifyDeviceUnmounted};
static Producer producer = {&kProducerSlots};

static int SameId(InterfaceId a, InterfaceId b) {
    return a.low == b.low && a.high == b.high;
}

static uint32_t AcquirePlugin(ComponentManager* self, const wchar_t* name, InterfaceId id,
                              void** plugin) {
    (void)self;
    Heard('A');
    recordFaults += wcscmp(name, kProducerName) == 0 && SameId(id, kProducerId) ? 0 : 1;
    *plugin = &producer;
    return 0;
}

static uint32_t ReleasePlugin(ComponentManager* self, const wchar_t* name) {
    (void)self;
    Heard('R');
    recordFaults += wcscmp(name, kProducerName) == 0 ? 0 : 1;
    return 0;
}

static const ComponentManagerSlots kManagerSlots = {AcquirePlugin, ReleasePlugin};
static ComponentManager manager = {&kManagerSlots};

static uint32_t HostReserved(ServiceHost* self) {
    (void)self;
    Heard('?');
    return 0;
}

static ComponentManager* GetComponentManager(ServiceHost* self) {
    (void)self;
    Heard('G');
    return &manager;
}

static const ServiceHostSlots kHostSlots = {HostReserved, GetComponentManager};
static ServiceHost host = {&kHostSlots};

static int ListenerReserved(Listener* self) {
    (void)self;
    Heard('?');
    return 0;
}

static int OnDeviceMounted(Listener* self, const Device* device) {
    (void)self;
    Heard('M');
    CheckRecord(device);
    return 0;
}

static int OnDeviceUnmounted(Listener* self, const Device* device) {
    (void)self;
    Heard('U');
    CheckRecord(device);
    return 0;
}

static const ListenerSlots kListenerSlots = {ListenerReserved, OnDeviceMounted, OnDeviceUnmounted};
static Listener listener = {&kListenerSlots};

/* ---- What the process holds ------------------------------------------------------------- */

/* The bytes allocated in every heap of the process, whichever runtime allocated them. The
 * process's private-bytes counter cannot serve: under Wine it always reads 0. */
static SIZE_T HeapBytesInUse(void) {
    HANDLE heaps[64];
    const DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T total = 0;
    for (DWORD i = 0; i < count && i < 64; ++i) {
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        HeapLock(heaps[i]);
        while (HeapWalk(heaps[i], &entry)) {
            total += (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) != 0 ? entry.cbData : 0;
        }
        HeapUnlock(heaps[i]);
    }
    return total;
}

/* This process's handles, counted in the system's handle list (class 64, extended handle
 * information: a count, a reserved word, then entries of five words whose second is the owning
 * process). GetProcessHandleCount always answers 0 under Wine. -1 when the list is unreadable. */
static long ProcessHandleCount(void) {
    typedef LONG(WINAPI * QueryFunction)(ULONG, void*, ULONG, ULONG*);
    const LONG kInfoLengthMismatch = (LONG)0xC0000004;
    QueryFunction query = (QueryFunction)(void (*)(void))GetProcAddress(GetModuleHandleW(L"ntdll"),
                                                                        "NtQuerySystemInformation");
    if (query == NULL) {
        return -1;
    }
    SIZE_T words = 1 << 17;
    ULONG_PTR* list = NULL;
    LONG status = kInfoLengthMismatch;
    while (status == kInfoLengthMismatch) {
        HeapFree(GetProcessHeap(), 0, list);
        words *= 2;
        list = HeapAlloc(GetProcessHeap(), 0, words * sizeof(ULONG_PTR));
        if (list == NULL) {
            return -1;
        }
        status = query(64, list, (ULONG)(words * sizeof(ULONG_PTR)), NULL);
    }
    long count = -1;
    if (status >= 0) {
        count = 0;
        for (ULONG_PTR i = 0; i < list[0]; ++i) {
            count += list[2 + i * 5 + 1] == GetCurrentProcessId() ? 1 : 0;
        }
    }
    HeapFree(GetProcessHeap(), 0, list);
    return count;
}

/* ---- One cycle -------------------------------------------------------------------------- */

static HWND OwnServiceWindow(void) {
    HWND window = NULL;
    DWORD owner = 0;
    do {
        window = FindWindowExW(NULL, window, L"DeviceScanWndClassName", NULL);
        GetWindowThreadProcessId(window, &owner);
    } while (window != NULL && owner != GetCurrentProcessId());
    return window;
}

/* Z: is Wine's view of the Unix root: a local drive whose hot-plug probe fails. */
static void SendZ(HWND window, WPARAM change) {
    DEV_BROADCAST_VOLUME volume;
    memset(&volume, 0, sizeof(volume));
    volume.dbcv_size = sizeof(volume);
    volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
    volume.dbcv_unitmask = 1u << ('Z' - 'A');
    SendMessageW(window, WM_DEVICECHANGE, change, (LPARAM)&volume);
}

static HMODULE shippedModule;

/* Whether address lies in an executable section of the shipped module. */
static int IsModuleCode(const void* address) {
    const BYTE* base = (const BYTE*)shippedModule;
    const IMAGE_DOS_HEADER* dosHeader = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS* headers = (const IMAGE_NT_HEADERS*)(base + dosHeader->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers);
    for (WORD i = 0; i < headers->FileHeader.NumberOfSections; ++i, ++section) {
        const BYTE* start = base + section->VirtualAddress;
        if ((section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0 &&
            (const BYTE*)address >= start &&
            (const BYTE*)address < start + section->Misc.VirtualSize) {
            return 1;
        }
    }
    return 0;
}

/* The IDeviceScanSP table ends with the destructor: its three slots are code of the module, and
 * the word after them is not (a compiler's second destructor slot would be). */
static void CheckDeviceScanTableEnds(const DeviceScan* scan, int cycle) {
    const void* words[4];
    memcpy(words, scan->slots, sizeof(words));
    if (!IsModuleCode(words[0]) || !IsModuleCode(words[1]) || !IsModuleCode(words[2])) {
        Fail("a slot of IDeviceScanSP is not code of the module", cycle);
    }
    if (IsModuleCode(words[3])) {
        Fail("IDeviceScanSP has a slot after its destructor", cycle);
    }
}

/* The IServPlugin and IDeviceScanSP views: the same object, two tables, the first the root. */
static DeviceScan* CheckViews(ServPlugin* root, int cycle) {
    if (root->slots->QueryInterface(root, kBaseId) != root ||
        root->slots->QueryInterface(root, kServPluginId) != root) {
        Fail("QueryInterface (slot 0) does not give the root view", cycle);
    }
    InterfaceId unknown = kDeviceScanId;
    unknown.high ^= 1ull << 56;
    if (root->slots->QueryInterface(root, unknown) != NULL) {
        Fail("QueryInterface answers an unknown identity", cycle);
    }
    DeviceScan* scan = root->slots->QueryInterface(root, kDeviceScanId);
    if (scan == NULL || (void*)scan == (void*)root) {
        Fail("no IDeviceScanSP view of its own", cycle);
        return NULL;
    }
    CheckDeviceScanTableEnds(scan, cycle);
    return scan;
}

static void CheckRegistration(DeviceScan* scan, int cycle) {
    if (scan->slots->Register(scan, NULL) != 87 || scan->slots->Register(scan, &listener) != 0 ||
        scan->slots->Register(scan, &listener) != 1627) {
        Fail("Register (slot 0) answers 87, 0, 1627", cycle);
    }
}

static void CheckUnregistration(DeviceScan* scan, int cycle) {
    if (scan->slots->Unregister(scan, &listener) != 0 ||
        scan->slots->Unregister(scan, &listener) != 1627) {
        Fail("Unregister (slot 1) answers 0, 1627", cycle);
    }
}

/* Even cycles give the object back through the export, odd ones call the deleting destructor
 * (slot 2 of the IDeviceScanSP view) with bit 0 set: destroy and free, and answer the address
 * of the object. Only the no-growth check tells that the memory was freed. */
static void DestroyObject(DestroyFunction destroy, ServPlugin* root, DeviceScan* scan, int cycle) {
    if (cycle % 2 == 0) {
        destroy(kObjectName, root);
        return;
    }
    if (scan->slots->DeletingDestructor(scan, 1) != (void*)root) {
        Fail("the deleting destructor (slot 2) does not answer the object's address", cycle);
    }
}

static void RunCycle(CreateFunction create, DestroyFunction destroy, int cycle) {
    void* out = NULL;
    if (create(kObjectName, kServPluginId, &out) != 0 || out == NULL) {
        Fail("QvCreateObject fails", cycle);
        return;
    }
    ServPlugin* root = out;
    DeviceScan* scan = CheckViews(root, cycle);
    if (scan == NULL) {
        destroy(kObjectName, root);
        return;
    }
    if (root->slots->Init(root, &host) != 0) {
        Fail("Init (slot 1) fails", cycle);
    }
    ExpectCalls("GA", "Init", cycle);
    CheckRegistration(scan, cycle);
    if (root->slots->Start(root) != 0) {
        Fail("Start (slot 3) fails", cycle);
    }
    HWND window = OwnServiceWindow();
    if (window == NULL) {
        Fail("no service window after Start", cycle);
    }
    SendZ(window, DBT_DEVICEARRIVAL);
    ExpectCalls("mM", "arrival", cycle);
    SendZ(window, DBT_DEVICEREMOVECOMPLETE);
    ExpectCalls("uU", "removal", cycle);
    CheckUnregistration(scan, cycle);
    root->slots->Stop(root);
    root->slots->UnInit(root);
    ExpectCalls("R", "UnInit", cycle);
    if (OwnServiceWindow() != NULL) {
        Fail("the service window outlives UnInit", cycle);
    }
    DestroyObject(destroy, root, scan, cycle);
    if (recordFaults != 0) {
        Fail("a call from the module carried a wrong argument", cycle);
        recordFaults = 0;
    }
}

/* A shipped library: bin\<name> beside this program's folder. */
static HMODULE LoadShipped(const wchar_t* name) {
    wchar_t path[MAX_PATH + 32];
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    for (int separators = 0; length > 0 && separators < 2; --length) {
        separators += path[length - 1] == L'\\' ? 1 : 0;
    }
    wcscpy(path + length, L"\\bin\\");
    wcsncat(path, name, 24);
    HMODULE module = LoadLibraryW(path);
    if (module == NULL) {
        fwprintf(stderr, L"cannot load %ls: error %lu\n", path, GetLastError());
    }
    return module;
}

int main(void) {
    /* log.dll stays loaded for the whole run, although the module loads it for each object and
     * unloads it after. Each load of a DLL with the static C++ runtime allocates that runtime's
     * emergency exception pool (73 KB) and no unload frees it: a cost of the log binding's
     * load-per-user policy, which would hide anything this run is after. */
    HMODULE logLibrary = LoadShipped(L"log.dll");
    HMODULE module = shippedModule = LoadShipped(L"devicescan.dll");
    if (module == NULL || logLibrary == NULL) {
        return 1;
    }
    CreateFunction create =
        (CreateFunction)(void (*)(void))GetProcAddress(module, "QvCreateObject");
    DestroyFunction destroy =
        (DestroyFunction)(void (*)(void))GetProcAddress(module, "QvDestroyObject");
    if (create == NULL || destroy == NULL) {
        fprintf(stderr, "the module lacks its exports\n");
        return 1;
    }
    /* Warm up first: the module's log binding, the window class and the heap settle. */
    int cycle = 0;
    for (; cycle < 20; ++cycle) {
        RunCycle(create, destroy, cycle);
    }
    const long handles = ProcessHandleCount();
    const SIZE_T memory = HeapBytesInUse();
    for (; cycle < 1020; ++cycle) {
        RunCycle(create, destroy, cycle);
    }
    const long handlesAfter = ProcessHandleCount();
    const SIZE_T memoryAfter = HeapBytesInUse();
    if (handles <= 0 || handlesAfter > handles + 4) {
        fprintf(stderr, "handles: %ld before, %ld after\n", handles, handlesAfter);
        ++failures;
    }
    /* An object destroyed but not freed would leave about 500 bytes a cycle. */
    if (memoryAfter > memory + 16 * 1024) {
        fprintf(stderr, "heap bytes in use: %zu before, %zu after\n", (size_t)memory,
                (size_t)memoryAfter);
        ++failures;
    }
    FreeLibrary(module);
    FreeLibrary(logLibrary);
    printf("%d cycles, %d failures; handles %ld -> %ld, heap bytes %zu -> %zu\n", cycle, failures,
           handles, handlesAfter, (size_t)memory, (size_t)memoryAfter);
    return failures == 0 ? 0 : 1;
}
