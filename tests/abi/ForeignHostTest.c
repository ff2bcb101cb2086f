// The module as a host built by another compiler sees it: plain C, every interface a table of
// function pointers called by slot number, every table of the host's side a C table that records
// its calls. Five hundred objects, each created, run twice through Init / Register / Start /
// arrival / removal / Stop / UnInit and destroyed, must call each slot as its interface has it
// and leave memory and handles flat.
//
// Loads the shipped module from bin/ beside its own tests/ folder. Exit code 0 when every check
// held.
#include <windows.h>
#include <dbt.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "sdk/ProcessCounters.h"
#include "sdk/ProgramDirectory.h"
#include "sdk/ServiceWindow.h"

// Every slot takes the object it is called on first; the host's objects here are single statics,
// so their slots have no use for it.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wunused-parameter"
#elif defined(_MSC_VER)
#pragma warning(disable : 4100)  // unreferenced formal parameter
#endif

typedef struct {
    uint64_t low, high;
} InterfaceId;

static const InterfaceId kBaseId = {0xbc90fca366551ab3ull, 0x514be292f7c5425full};
static const InterfaceId kServPluginId = {0x983304d0414e2323ull, 0xe952825d7c884176ull};
static const InterfaceId kDeviceScanId = {0xb4c1b4dc700debc8ull, 0x17b6daa73e6246e5ull};
static const InterfaceId kProducerId = {0x9ed23afd328b2bc6ull, 0x1e4908953a08425bull};

static const wchar_t kObjectName[] = L"FileScan.OnDemand.DeviceScanSP";
static const wchar_t kProducerName[] = L"FileScan.OnDemand.DeviceScanAL";

// The mounted-volume record: each string is one pointer to its characters (null when empty).
typedef struct {
    int32_t type;
    const wchar_t *path, *remote;
    uint64_t fullSize, storedSize;
    uint32_t sessionId;
} Device;

// The module's two views of the object, each a pointer to its table of slots.
typedef struct {
    void* (*QueryInterface)(void* self, InterfaceId id);
    uint32_t (*Init)(void* self, void* serviceHost);
    void (*UnInit)(void* self);
    uint32_t (*Start)(void* self);
    void (*Stop)(void* self);
} ServPluginSlots;

typedef struct {
    uint32_t (*Register)(void* self, void* listener);
    uint32_t (*Unregister)(void* self, void* listener);
    void* (*DeletingDestructor)(void* self, unsigned int flags);
} DeviceScanSlots;

// One letter per call the module makes, in order: G GetComponentManager, A AcquirePlugin,
// R ReleasePlugin, m NotifyDeviceMounted, u NotifyDeviceUnmounted, M OnDeviceMounted,
// U OnDeviceUnmounted, ? a slot the module must never call.
static char calls[64];
static int cycle, failures;

static int Check(int held, const char* what) {
    if (!held && failures++ < 20) {
        fprintf(stderr, "cycle %d: %s (calls: \"%s\")\n", cycle, what, calls);
    }
    return held;
}

// The calls since the last check must be exactly `expected`; the record starts afresh.
static void ExpectCalls(const char* expected, const char* what) {
    Check(strcmp(calls, expected) == 0, what);
    memset(calls, 0, sizeof(calls));
}

// Records a call and whether its arguments were right. Every announcement here is of Z:, a local
// drive under Wine, in the console's session; the last field checked tells that the record's
// layout is the one read here.
static uint32_t Heard(char call, const Device* device, int argumentsRight) {
    calls[strnlen(calls, sizeof(calls) - 2)] = call;  // zeros behind: a full record keeps its end
    Check(argumentsRight &&
              (device == NULL ||
               (device->type == 1 && device->path != NULL && wcscmp(device->path, L"Z:\\") == 0 &&
                (device->remote == NULL || device->remote[0] == L'\0') &&
                device->fullSize >= device->storedSize && device->fullSize > 0 &&
                device->sessionId == WTSGetActiveConsoleSessionId())),
          "a call from the module carried a wrong argument");
    return 0;
}

// The host's objects, each a pointer to its table of slots in the order the module calls them:
// the service host, the component manager, the producer plugin and the listener. The first slot
// of the service host and of the listener is reserved.
typedef void (*Slot)(void);

static uint32_t NeverCalled(void* self) {
    return Heard('?', NULL, 1);
}

static uint32_t NotifyDeviceMounted(void* self, const Device* device, uint32_t processId) {
    return Heard('m', device, processId == GetCurrentProcessId());
}

static uint32_t NotifyDeviceUnmounted(void* self, const Device* device, uint32_t marker) {
    return Heard('u', device, marker == 0xDEAD);
}

static const Slot* producer =
    (const Slot[]){(Slot)NotifyDeviceMounted, (Slot)NotifyDeviceUnmounted};

static uint32_t AcquirePlugin(void* self, const wchar_t* name, InterfaceId id, void** plugin) {
    *plugin = &producer;
    return Heard('A', NULL,
                 wcscmp(name, kProducerName) == 0 && id.low == kProducerId.low &&
                     id.high == kProducerId.high);
}

static uint32_t ReleasePlugin(void* self, const wchar_t* name) {
    return Heard('R', NULL, wcscmp(name, kProducerName) == 0);
}

static const Slot* manager = (const Slot[]){(Slot)AcquirePlugin, (Slot)ReleasePlugin};

static void* GetComponentManager(void* self) {
    Heard('G', NULL, 1);
    return &manager;
}

static const Slot* host = (const Slot[]){(Slot)NeverCalled, (Slot)GetComponentManager};

static int OnDeviceMounted(void* self, const Device* device) {
    return Heard('M', device, 1);
}

static int OnDeviceUnmounted(void* self, const Device* device) {
    return Heard('U', device, 1);
}

static const Slot* listener =
    (const Slot[]){(Slot)NeverCalled, (Slot)OnDeviceMounted, (Slot)OnDeviceUnmounted};

typedef uint32_t (*CreateFn)(const wchar_t* name, InterfaceId id, void** out);
typedef void (*DestroyFn)(const wchar_t* name, void* object);

static void RunCycle(CreateFn create, DestroyFn destroy) {
    void* out = NULL;
    if (!Check(create(kObjectName, kServPluginId, &out) == 0 && out != NULL,
               "QvCreateObject fails")) {
        return;
    }
    // The IServPlugin and IDeviceScanSP views: the same object, two tables, the first the root.
    const ServPluginSlots** root = out;
    const InterfaceId unknown = {kDeviceScanId.low, kDeviceScanId.high ^ (1ull << 56)};
    Check((*root)->QueryInterface(root, kBaseId) == root &&
              (*root)->QueryInterface(root, kServPluginId) == root &&
              (*root)->QueryInterface(root, unknown) == NULL,
          "QueryInterface (slot 0) does not give the root view, or answers an unknown identity");
    const DeviceScanSlots** scan = (*root)->QueryInterface(root, kDeviceScanId);
    if (!Check(scan != NULL && (void*)scan != (void*)root, "no IDeviceScanSP view of its own")) {
        destroy(kObjectName, root);
        return;
    }
    // Two life cycles of each object: a host may Init it again after UnInit.
    for (int life = 0; life < 2; ++life) {
        Check((*root)->Init(root, &host) == 0, "Init (slot 1) fails");
        ExpectCalls("GA", "Init calls other than GetComponentManager, AcquirePlugin");
        // Register's answers to a null or repeated listener are the service's unit tests'.
        Check((*scan)->Register(scan, &listener) == 0, "Register (slot 0) fails");
        Check((*root)->Start(root) == 0, "Start (slot 3) fails");
        // Z: is Wine's view of the Unix root: a local drive whose hot-plug probe fails.
        const HWND window = QvFindOwnServiceWindow();  // none: the calls below are missing
        QvSendVolumeChange(window, DBT_DEVICEARRIVAL, 1u << ('Z' - 'A'));
        ExpectCalls("mM", "an arrival calls other than NotifyDeviceMounted, OnDeviceMounted");
        QvSendVolumeChange(window, DBT_DEVICEREMOVECOMPLETE, 1u << ('Z' - 'A'));
        ExpectCalls("uU", "a removal calls other than NotifyDeviceUnmounted, OnDeviceUnmounted");
        Check((*scan)->Unregister(scan, &listener) == 0 &&
                  (*scan)->Unregister(scan, &listener) == 1627,
              "Unregister (slot 1) answers 0, 1627");
        (*root)->Stop(root);
        (*root)->UnInit(root);
        ExpectCalls("R", "UnInit calls other than ReleasePlugin");
        Check(QvFindOwnServiceWindow() == NULL, "the service window outlives UnInit");
    }

    // Even cycles give the object back through the export, odd ones call the deleting destructor
    // (slot 2 of the IDeviceScanSP view) with bit 0 set: destroy and free, and answer the address
    // of the object. Only the no-growth check tells that the memory was freed; with it, these two
    // checks also catch a compiler's pair of destructor slots in place of the one.
    if (cycle % 2 == 0) {
        destroy(kObjectName, root);
    } else {
        Check((*scan)->DeletingDestructor(scan, 1) == (void*)root,
              "the deleting destructor (slot 2) does not answer the object's address");
    }
}

// A shipped library: ..\bin\<name> from this program's folder.
static HMODULE LoadShipped(const wchar_t* name) {
    wchar_t path[MAX_PATH + 32] = L"";
    const DWORD length = QvProgramDirectory(path, MAX_PATH);
    swprintf(path + length, 32, L"..\\bin\\%ls", name);
    return LoadLibraryW(path);
}

int main(void) {
    // log.dll stays loaded for the whole run, although the module loads it for each object and
    // unloads it after. Each load of a DLL with the static C++ runtime allocates that runtime's
    // emergency exception pool (73 KB) and no unload frees it: a cost of the log binding's
    // load-per-user policy, which would hide anything this run is after.
    HMODULE logLibrary = LoadShipped(L"log.dll");
    HMODULE module = LoadShipped(L"devicescan.dll");
    CreateFn create = (CreateFn)(void (*)(void))GetProcAddress(module, "QvCreateObject");
    DestroyFn destroy = (DestroyFn)(void (*)(void))GetProcAddress(module, "QvDestroyObject");
    if (logLibrary == NULL || create == NULL || destroy == NULL) {
        fprintf(stderr, "bin\\log.dll, bin\\devicescan.dll or its exports are missing\n");
        return 1;
    }
    // Warm up first: the module's log binding, the window class and the heap settle.
    long handles = 0;
    SIZE_T memory = 0;
    for (; cycle < 520; ++cycle) {
        if (cycle == 20) {
            handles = QvProcessHandleCount();
            memory = QvHeapBytesInUse();
        }
        RunCycle(create, destroy);
    }
    const long handlesAfter = QvProcessHandleCount();
    const SIZE_T memoryAfter = QvHeapBytesInUse();
    // An object destroyed but not freed would leave about 500 bytes every other cycle.
    Check(handles > 0 && handlesAfter <= handles + 4, "handles grow");
    Check(memoryAfter <= memory + 16 * 1024, "heap bytes in use grow");
    FreeLibrary(module);
    FreeLibrary(logLibrary);
    printf("%d cycles, %d failures; handles %ld -> %ld, heap bytes %zu -> %zu\n", cycle, failures,
           handles, handlesAfter, (size_t)memory, (size_t)memoryAfter);
    return failures == 0 ? 0 : 1;
}
