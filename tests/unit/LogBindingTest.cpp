#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "CriticalSection.h"
#include "ProcAddress.h"
#include "ThreadsTogether.h"

// The stand-ins for log.dll report every call here. Never destroyed: a stand-in may still
// report while the program ends.
namespace {

using Records = std::vector<std::wstring>;

qv::CriticalSection& RecordsLock() {
    static auto* lock = new qv::CriticalSection();
    return *lock;
}

Records& RecordedCalls() {
    static auto* records = new Records();
    return *records;
}

}  // namespace

extern "C" __declspec(dllexport) void RecordLogCall(const wchar_t* call) {
    std::lock_guard<qv::CriticalSection> lock(RecordsLock());
    RecordedCalls().emplace_back(call);
}

namespace {

constexpr std::int32_t kNoInterface = static_cast<std::int32_t>(0x80004002);
constexpr std::uint32_t kError = 0x4;

Records TakeRecords() {
    std::lock_guard<qv::CriticalSection> lock(RecordsLock());
    Records taken;
    taken.swap(RecordedCalls());
    return taken;
}

std::wstring TestDirectory() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L'\\'));
}

// build/tests/logbinding/<variant>: a copy of logprobe.dll beside that variant of log.dll.
std::wstring BindingFolder(const wchar_t* variant) {
    return TestDirectory() + L"\\logbinding\\" + variant;
}

// logprobe.dll, the logging code under test, loaded from one folder.
class Probe {
  public:
    explicit Probe(const std::wstring& folder)
        : module(LoadLibraryW((folder + L"\\logprobe.dll").c_str())) {
        if (module == nullptr) {
            return;
        }
        Resolve(NewRef, "ProbeNewRef");
        Resolve(DeleteRef, "ProbeDeleteRef");
        Resolve(Acquire, "ProbeAcquire");
        Resolve(Release, "ProbeRelease");
        Resolve(Get, "ProbeGet");
        Resolve(UserCount, "ProbeUserCount");
        Resolve(Library, "ProbeLibrary");
        Resolve(WriteResult, "ProbeWriteResult");
        Resolve(Operation, "ProbeOperation");
        Resolve(Message, "ProbeMessage");
    }
    ~Probe() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    bool Loaded() const { return module != nullptr && Message != nullptr; }

    void* (*NewRef)() = nullptr;
    void (*DeleteRef)(void*) = nullptr;
    void (*Acquire)(void*) = nullptr;
    void (*Release)(void*) = nullptr;
    void (*Get)(void*) = nullptr;
    std::int32_t (*UserCount)() = nullptr;
    HMODULE (*Library)(void*) = nullptr;
    std::int32_t (*WriteResult)(void*) = nullptr;
    void (*Operation)(const wchar_t*, const wchar_t*, DWORD, BOOL) = nullptr;
    void (*Message)(std::uint32_t, const wchar_t*, const wchar_t*) = nullptr;

  private:
    template <typename Function>
    void Resolve(Function& function, const char* name) {
        function = qv::GetProcAddressAs<Function>(module, name);
    }

    HMODULE module;
};

Records Join(std::initializer_list<Records> parts) {
    Records joined;
    for (const Records& part : parts) {
        joined.insert(joined.end(), part.begin(), part.end());
    }
    return joined;
}

Records Loaded(const std::wstring& variant) {
    return {variant + L":attach", variant + L":LogInit"};
}

Records Unloaded(const std::wstring& variant) {
    return {variant + L":LogDeinit", variant + L":LogUninitTelemetry",
            variant + L":LogRemoveModule|logging::CLogDLL::~CLogDLL", variant + L":detach"};
}

// The milliseconds of an exit line ("... [15]"), or -1.
long ElapsedOf(const std::wstring& record) {
    const std::size_t open = record.rfind(L" [");
    if (open == std::wstring::npos || record.back() != L']') {
        return -1;
    }
    return std::wcstol(record.c_str() + open + 2, nullptr, 10);
}

// Exit lines with their milliseconds replaced by "ms", for comparing whole sequences.
Records WithoutElapsed(Records records) {
    for (std::wstring& record : records) {
        if (record.find(L"|<- ") != std::wstring::npos && ElapsedOf(record) >= 0) {
            record.replace(record.rfind(L" [") + 2, std::wstring::npos, L"ms]");
        }
    }
    return records;
}

class LogBinding : public ::testing::Test {
  protected:
    void SetUp() override { TakeRecords(); }
    void TearDown() override {
        for (void* ref : refs) {
            probe->DeleteRef(ref);
        }
        probe.reset();
        EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "a log.dll is still loaded";
    }

    void Load(const wchar_t* variant) {
        probe = std::make_unique<Probe>(BindingFolder(variant));
        ASSERT_TRUE(probe->Loaded()) << "cannot load logprobe.dll from " << variant;
    }
    void* NewRef() {
        refs.push_back(probe->NewRef());
        return refs.back();
    }

    std::unique_ptr<Probe> probe;
    std::vector<void*> refs;
};

TEST_F(LogBinding, LoadWriteAndUnloadCallTheLibraryInOrder) {
    Load(L"full");
    void* ref = NewRef();
    probe->Acquire(ref);
    EXPECT_EQ(TakeRecords(), Loaded(L"full"));
    EXPECT_NE(probe->Library(ref), nullptr);

    probe->Operation(L"DeviceScanSP::Init", L"cannot create event", 0, FALSE);
    EXPECT_EQ(WithoutElapsed(TakeRecords()),
              (Records{
                  L"full:LogWrite|1|32|logprobe.dll|DeviceScanSP::Init|-> DeviceScanSP::Init()",
                  L"full:LogWrite|0|8|logprobe.dll|DeviceScanSP::Init|cannot create event "
                  L"[error = 5]",
                  L"full:LogWrite|65535|32|logprobe.dll|DeviceScanSP::Init|<- "
                  L"DeviceScanSP::Init() [ms]",
              }));

    probe->Release(ref);
    EXPECT_EQ(TakeRecords(), Unloaded(L"full"));
    EXPECT_EQ(probe->UserCount(), 0);

    // The next reference loads the library again and initialises it again.
    probe->Acquire(ref);
    EXPECT_EQ(TakeRecords(), Loaded(L"full"));
    probe->Release(ref);
    EXPECT_EQ(TakeRecords(), Unloaded(L"full"));
}

TEST_F(LogBinding, WithoutHeldReferenceEachTraceLineLoadsTheLibraryAndMessagesAreDropped) {
    Load(L"full");
    probe->Operation(L"DeviceScanSP::Start", L"cannot start", 0, FALSE);
    EXPECT_EQ(WithoutElapsed(TakeRecords()),
              Join({Loaded(L"full"),
                    {L"full:LogWrite|1|32|logprobe.dll|DeviceScanSP::Start|-> "
                     L"DeviceScanSP::Start()"},
                    Unloaded(L"full"),
                    Loaded(L"full"),
                    {L"full:LogWrite|65535|32|logprobe.dll|DeviceScanSP::Start|<- "
                     L"DeviceScanSP::Start() [ms]"},
                    Unloaded(L"full")}));
    EXPECT_EQ(probe->UserCount(), 0);
}

TEST_F(LogBinding, MessagesAreWrittenOnlyWhileAReferenceIsHeld) {
    Load(L"full");
    probe->Message(kError, L"DeviceScanSP::Init", L"cannot get current sessionId");
    EXPECT_TRUE(TakeRecords().empty());
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "a message loaded the library";

    void* ref = NewRef();
    probe->Acquire(ref);
    TakeRecords();
    probe->Message(kError, L"DeviceScanSP::Init", L"cannot get current sessionId");
    EXPECT_EQ(TakeRecords(),
              (Records{L"full:LogWrite|0|4|logprobe.dll|DeviceScanSP::Init|cannot get current "
                       L"sessionId"}));

    probe->Release(ref);
    TakeRecords();
    probe->Message(kError, L"DeviceScanSP::Init", L"cannot get current sessionId");
    EXPECT_TRUE(TakeRecords().empty());
}

TEST_F(LogBinding, LibraryAlreadyLoadedUnderTheNameIsSharedAndCountedOnce) {
    // The probe sits beside the variant without teardown exports; the calls go to "full".
    const HMODULE preloaded = LoadLibraryW((BindingFolder(L"full") + L"\\log.dll").c_str());
    ASSERT_NE(preloaded, nullptr);
    Load(L"noteardown");
    TakeRecords();

    void* ref = NewRef();
    probe->Acquire(ref);
    EXPECT_EQ(probe->Library(ref), preloaded);
    EXPECT_EQ(TakeRecords(), (Records{L"full:LogInit"}));

    // The binding raised the count by one: giving back ours leaves the library loaded...
    FreeLibrary(preloaded);
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), preloaded);
    // ...and lowering it by one unloads it.
    probe->Release(ref);
    EXPECT_EQ(TakeRecords(), Unloaded(L"full"));
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr);
}

// Restores the current directory, the DLL directory and PATH when it goes out of scope.
class SearchPathChange {
  public:
    explicit SearchPathChange(const std::wstring& directory) {
        GetCurrentDirectoryW(MAX_PATH, oldDirectory);
        oldPath.resize(32767);
        oldPath.resize(GetEnvironmentVariableW(L"PATH", oldPath.data(), 32767));
        SetCurrentDirectoryW(directory.c_str());
        SetDllDirectoryW(directory.c_str());
        SetEnvironmentVariableW(L"PATH", (directory + L";" + oldPath).c_str());
    }
    ~SearchPathChange() {
        SetCurrentDirectoryW(oldDirectory);
        SetDllDirectoryW(nullptr);
        SetEnvironmentVariableW(L"PATH", oldPath.c_str());
    }
    SearchPathChange(const SearchPathChange&) = delete;
    SearchPathChange& operator=(const SearchPathChange&) = delete;

  private:
    wchar_t oldDirectory[MAX_PATH];
    std::wstring oldPath;
};

TEST_F(LogBinding, MissingLibraryIsNotSearchedForAndWritingCostsNothing) {
    // A log.dll in the current directory, the DLL directory and PATH: none may be loaded.
    const SearchPathChange planted(BindingFolder(L"full"));
    Load(L"missing");
    void* ref = NewRef();
    probe->Acquire(ref);
    EXPECT_EQ(probe->Library(ref), nullptr);
    EXPECT_EQ(probe->WriteResult(ref), kNoInterface);

    probe->Operation(L"DeviceScanSP::Init", L"cannot create event", 0, FALSE);
    probe->Message(kError, L"DeviceScanSP::Init", L"cannot get current sessionId");
    EXPECT_EQ(probe->UserCount(), 1);
    probe->Release(ref);
    EXPECT_TRUE(TakeRecords().empty());
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr);
}

TEST_F(LogBinding, LibraryWithoutLogWriteGetsTheFallbackAndIsStillTornDown) {
    Load(L"nowrite");
    void* ref = NewRef();
    probe->Acquire(ref);
    EXPECT_EQ(TakeRecords(), Loaded(L"nowrite"));
    EXPECT_EQ(probe->WriteResult(ref), kNoInterface);
    probe->Operation(L"DeviceScanSP::Init", L"cannot create event", 0, FALSE);
    EXPECT_TRUE(TakeRecords().empty());
    probe->Release(ref);
    EXPECT_EQ(TakeRecords(), Unloaded(L"nowrite"));
}

TEST_F(LogBinding, LibraryWithoutTeardownExportsIsOnlyUnloaded) {
    Load(L"noteardown");
    void* ref = NewRef();
    probe->Acquire(ref);
    EXPECT_EQ(probe->WriteResult(ref), 0);
    EXPECT_EQ(TakeRecords(),
              (Records{L"noteardown:attach", L"noteardown:LogInit",
                       L"noteardown:LogWrite|0|32|logprobe.dll|ProbeWriteResult|text"}));
    probe->Release(ref);
    EXPECT_EQ(TakeRecords(), (Records{L"noteardown:detach"}));
}

TEST_F(LogBinding, LogRefsCountEveryReferenceTheyHold) {
    Load(L"full");
    void* first = NewRef();
    void* second = NewRef();

    probe->Acquire(first);
    probe->Acquire(first);
    EXPECT_EQ(probe->UserCount(), 2);
    probe->Release(first);
    EXPECT_EQ(probe->UserCount(), 0);
    EXPECT_EQ(TakeRecords(), Join({Loaded(L"full"), Unloaded(L"full")}));

    probe->Release(first);
    EXPECT_EQ(probe->UserCount(), 0);

    probe->Get(second);
    EXPECT_EQ(probe->UserCount(), 1);
    EXPECT_EQ(TakeRecords(), Loaded(L"full"));

    // While second holds its reference, first comes and goes without loading or unloading.
    probe->Acquire(first);
    EXPECT_EQ(probe->UserCount(), 2);
    probe->Release(first);
    EXPECT_EQ(probe->UserCount(), 1);
    EXPECT_TRUE(TakeRecords().empty());

    probe->Release(second);
    EXPECT_EQ(TakeRecords(), Unloaded(L"full"));
}

TEST_F(LogBinding, LongNamesAreTruncatedAndEmptyNamesStillTraced) {
    Load(L"full");
    void* ref = NewRef();
    probe->Acquire(ref);
    TakeRecords();

    std::wstring name;
    for (int i = 0; i < 300; ++i) {
        name += static_cast<wchar_t>(L'a' + i % 26);
    }
    probe->Operation(name.c_str(), nullptr, 0, FALSE);
    const std::wstring prefix = L"full:LogWrite|";
    const std::wstring function = name.substr(0, 259);
    const std::wstring display = name.substr(0, 257) + L"()";
    EXPECT_EQ(
        WithoutElapsed(TakeRecords()),
        (Records{prefix + L"1|32|logprobe.dll|" + function + L"|-> " + display,
                 prefix + L"65535|32|logprobe.dll|" + function + L"|<- " + display + L" [ms]"}));

    probe->Operation(L"", nullptr, 0, FALSE);
    EXPECT_EQ(WithoutElapsed(TakeRecords()),
              (Records{prefix + L"1|32|logprobe.dll||-> ()",
                       prefix + L"65535|32|logprobe.dll||<- () [ms]"}));
}

TEST_F(LogBinding, OperationThatThrowsStillWritesItsExitLine) {
    Load(L"full");
    void* ref = NewRef();
    probe->Acquire(ref);
    TakeRecords();

    probe->Operation(L"DeviceScanSP::Stop", nullptr, 30, TRUE);
    const Records records = TakeRecords();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(WithoutElapsed(records)[1],
              L"full:LogWrite|65535|32|logprobe.dll|DeviceScanSP::Stop|<- DeviceScanSP::Stop() "
              L"[ms]");
    // The time spent includes the 30 ms before the throw.
    EXPECT_GE(ElapsedOf(records[1]), 25);
}

TEST_F(LogBinding, ConcurrentReferencesLoadAndUnloadInPairs) {
    Load(L"full");
    constexpr int kThreads = 4;
    constexpr int kCycles = 100;
    testing_support::RunThreadsTogether(
        kThreads,
        [&](int) {
            for (int i = 0; i < kCycles; ++i) {
                void* ref = probe->NewRef();
                probe->Acquire(ref);
                probe->Message(kError, L"Worker", L"held");
                probe->DeleteRef(ref);
            }
        },
        60000);
    EXPECT_EQ(probe->UserCount(), 0);
    const Records records = TakeRecords();
    const auto count = [&](const std::wstring& call) {
        return std::count(records.begin(), records.end(), call);
    };
    EXPECT_GE(count(L"full:attach"), 1);
    EXPECT_EQ(count(L"full:attach"), count(L"full:detach"));
    EXPECT_EQ(count(L"full:LogInit"), count(L"full:attach"));
    EXPECT_EQ(count(L"full:LogDeinit"), count(L"full:attach"));
    // Every message was written while its thread held a reference.
    EXPECT_EQ(count(L"full:LogWrite|0|4|logprobe.dll|Worker|held"), kThreads * kCycles);
}

}  // namespace
