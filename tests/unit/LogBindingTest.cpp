#include <windows.h>

#include <gtest/gtest.h>

#include <cwchar>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "sdk/ProcAddress.h"
#include "sdk/ProgramDirectory.h"

namespace {

using Records = std::vector<std::wstring>;

// Never destroyed: a stand-in may still report while the program ends.
Records* const recordedCalls = new Records();

// build/tests/logbinding/<variant>: a copy of logprobe.dll beside that variant of log.dll.
std::wstring BindingFolder(const wchar_t* variant) {
    return qv::ProgramDirectory() + L"logbinding\\" + variant;
}

Records Loaded(const std::wstring& variant) {
    return {variant + L":attach", variant + L":LogInit"};
}

Records Unloaded(const std::wstring& variant) {
    return {variant + L":LogDeinit", variant + L":LogUninitTelemetry",
            variant + L":LogRemoveModule|logging::CLogDLL::~CLogDLL", variant + L":detach"};
}

// Exit lines with their milliseconds ("... [15]") replaced by "ms".
Records WithoutElapsed(Records records) {
    for (std::wstring& record : records) {
        record = std::regex_replace(record, std::wregex(L"(\\|<- .*) \\[\\d+\\]$"), L"$1 [ms]");
    }
    return records;
}

// Loads logprobe.dll, the logging code under test, from one variant's folder; it has two
// references, 0 and 1, that the test takes and gives back.
class LogBinding : public ::testing::Test {
  protected:
    static Records TakeRecords() { return std::exchange(*recordedCalls, {}); }

    void SetUp() override { TakeRecords(); }
    void TearDown() override {
        if (probe != nullptr) {
            Release(0);
            Release(1);
            FreeLibrary(probe);
        }
        EXPECT_EQ(GetModuleHandleW(L"log.dll"), nullptr) << "a log.dll is still loaded";
    }

    void Load(const wchar_t* variant) {
        probe = LoadLibraryW((BindingFolder(variant) + L"\\logprobe.dll").c_str());
        ASSERT_NE(probe, nullptr) << "cannot load logprobe.dll beside " << variant;
        Acquire = qv::GetProcAddressAs<void (*)(int)>(probe, "ProbeAcquire");
        Release = qv::GetProcAddressAs<void (*)(int)>(probe, "ProbeRelease");
        Operation = qv::GetProcAddressAs<decltype(Operation)>(probe, "ProbeOperation");
        Message = qv::GetProcAddressAs<void (*)(const wchar_t*)>(probe, "ProbeMessage");
        ASSERT_TRUE(Acquire && Release && Operation && Message);
    }

    HMODULE probe = nullptr;
    void (*Acquire)(int) = nullptr;
    void (*Release)(int) = nullptr;
    void (*Operation)(const wchar_t* name, const wchar_t* message, DWORD throwAfterMs) = nullptr;
    void (*Message)(const wchar_t*) = nullptr;
};

// The library is loaded for the first reference of the module and unloaded with the last one;
// a LogRef gives back every reference it holds at once.
TEST_F(LogBinding, LoadWriteAndUnloadCallTheLibraryInOrder) {
    Load(L"full");
    Message(L"dropped");
    EXPECT_TRUE(TakeRecords().empty()) << "a message without a reference loaded the library";

    Acquire(0);
    Acquire(0);
    Acquire(1);
    EXPECT_EQ(TakeRecords(), Loaded(L"full"));
    Operation(L"DeviceScanSP::Init", L"cannot create event", 0);
    EXPECT_EQ(WithoutElapsed(TakeRecords()),
              (Records{
                  L"full:LogWrite|1|32|logprobe.dll|DeviceScanSP::Init|-> DeviceScanSP::Init()",
                  L"full:LogWrite|0|8|logprobe.dll|DeviceScanSP::Init|cannot create event "
                  L"[error = 5]",
                  L"full:LogWrite|65535|32|logprobe.dll|DeviceScanSP::Init|<- "
                  L"DeviceScanSP::Init() [ms]",
              }));

    // Names are cut to fit the library's buffers; an operation left by an exception still writes
    // its exit line, with the time spent before the throw.
    const std::wstring name = std::wstring(257, L'a') + L"bc" + std::wstring(41, L'z');
    Operation(name.c_str(), nullptr, 30);
    const Records records = TakeRecords();
    const std::wstring function = L"|logprobe.dll|" + name.substr(0, 259);
    const std::wstring display = name.substr(0, 257) + L"()";
    EXPECT_EQ(WithoutElapsed(records),
              (Records{L"full:LogWrite|1|32" + function + L"|-> " + display,
                       L"full:LogWrite|65535|32" + function + L"|<- " + display + L" [ms]"}));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_GE(std::wcstol(records[1].c_str() + records[1].rfind(L" [") + 2, nullptr, 10), 25);

    Release(0);
    EXPECT_TRUE(TakeRecords().empty()) << "unloaded while reference 1 was held";
    Release(1);
    EXPECT_EQ(TakeRecords(), Unloaded(L"full"));

    // The next reference loads the library again and initialises it again.
    Acquire(0);
    EXPECT_EQ(TakeRecords(), Loaded(L"full"));
}

TEST_F(LogBinding, LibraryAlreadyLoadedUnderTheNameIsSharedAndCountedOnce) {
    // The probe sits beside the variant without teardown exports; the calls go to "full".
    const HMODULE preloaded = LoadLibraryW((BindingFolder(L"full") + L"\\log.dll").c_str());
    ASSERT_NE(preloaded, nullptr);
    Load(L"noteardown");
    Acquire(0);
    EXPECT_EQ(TakeRecords(), Loaded(L"full")) << "attached once, when it was loaded first";

    // The binding raised the count by one: giving back ours leaves the library loaded, and
    // the binding lowering it by one unloads it.
    FreeLibrary(preloaded);
    EXPECT_EQ(GetModuleHandleW(L"log.dll"), preloaded);
    Release(0);
    EXPECT_EQ(TakeRecords(), Unloaded(L"full"));
}

TEST_F(LogBinding, MissingLibraryIsNotSearchedForAndWritingCostsNothing) {
    // A log.dll on every search path; not restored, as this process runs this one test.
    const std::wstring planted = BindingFolder(L"full");
    SetCurrentDirectoryW(planted.c_str());
    SetDllDirectoryW(planted.c_str());
    SetEnvironmentVariableW(L"PATH", planted.c_str());
    Load(L"missing");
    Acquire(0);
    Operation(L"DeviceScanSP::Init", L"cannot create event", 0);
    Message(L"cannot get current sessionId");
    Release(0);
    EXPECT_TRUE(TakeRecords().empty());
}

// A library without LogWrite is still set up and torn down; one without the teardown exports
// is only unloaded.
TEST_F(LogBinding, LibraryWithoutSomeExportsIsUsedForWhatItHas) {
    for (const wchar_t* variant : {L"nowrite", L"noteardown"}) {
        SCOPED_TRACE(variant);
        FreeLibrary(std::exchange(probe, nullptr));
        Load(variant);
        Acquire(0);
        Message(L"text");
        Release(0);
        Records expected = Loaded(variant);
        const Records rest =
            variant == std::wstring(L"nowrite")
                ? Unloaded(variant)
                : Records{L"noteardown:LogWrite|0|4|logprobe.dll|Probe|text", L"noteardown:detach"};
        expected.insert(expected.end(), rest.begin(), rest.end());
        EXPECT_EQ(TakeRecords(), expected);
    }
}

}  // namespace

// The stand-ins for log.dll report every call here; all run on the test's thread.
extern "C" __declspec(dllexport) void RecordLogCall(const wchar_t* call) {
    recordedCalls->emplace_back(call);
}
