#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <string>

#include "IDeviceScanSP.h"
#include "IServPlugin.h"
#include "ProcAddress.h"
#include "ResultCodes.h"
#include "support/HandleCount.h"

namespace {

using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
using DestroyFn = void (*)(const wchar_t*, void*);
using qv::rnsdk::FileScan::IDeviceScanSP;

constexpr wchar_t kServiceName[] = L"FileScan.OnDemand.DeviceScanSP";

// The shipped module lies in bin/, beside this program's tests/ folder.
std::wstring ShippedModulePath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self);
    path.resize(path.find_last_of(L'\\'));
    path.resize(path.find_last_of(L'\\'));
    return path + L"\\bin\\devicescan.dll";
}

class ModuleExports : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryW(ShippedModulePath().c_str());
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
        destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
        ASSERT_NE(create, nullptr);
        ASSERT_NE(destroy, nullptr);
    }
    void TearDown() override { FreeLibrary(module); }

    HMODULE module = nullptr;
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
};

TEST_F(ModuleExports, ServiceIsCreatedByItsExactNameAndKnownIdentitiesOnly) {
    void* plugin = nullptr;
    ASSERT_EQ(create(kServiceName, qv::IServPlugin::kId, &plugin), qv::kResultSuccess);
    auto* root = static_cast<qv::IServPlugin*>(plugin);
    auto* view = static_cast<IDeviceScanSP*>(root->QueryInterface(IDeviceScanSP::kId));
    ASSERT_NE(view, nullptr);
    const std::ptrdiff_t viewOffset = reinterpret_cast<char*>(view) - static_cast<char*>(plugin);

    // Asked for the device-scan view directly, the export answers the same view of a new object.
    void* other = nullptr;
    ASSERT_EQ(create(kServiceName, IDeviceScanSP::kId, &other), qv::kResultSuccess);
    void* otherRoot = static_cast<char*>(other) - viewOffset;
    EXPECT_EQ(static_cast<qv::IServPlugin*>(otherRoot)->QueryInterface(IDeviceScanSP::kId), other);
    destroy(kServiceName, nullptr);
    destroy(L"FileScan.OnDemand.Nothing", plugin);
    destroy(kServiceName, otherRoot);
    destroy(kServiceName, plugin);

    for (const wchar_t* name :
         {L"filescan.ondemand.devicescansp", L"FileScan.OnDemand.DeviceScanSP ",
          L"FileScan.OnDemand.DeviceScanS", L""}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(create(name, qv::IServPlugin::kId, &out), qv::kResultNotFound) << name;
        EXPECT_EQ(out, nullptr);
    }
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(create(kServiceName, qv::InterfaceId{1, 2}, &none), qv::kResultNotFound);
    EXPECT_EQ(none, nullptr);
}

SIZE_T PrivateBytes() {
    PROCESS_MEMORY_COUNTERS_EX counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage;
}

TEST_F(ModuleExports, ThousandCreateAndDestroyCyclesLeakNoHandleNorMemory) {
    const auto cycles = [&](int count) {
        for (int i = 0; i < count; ++i) {
            void* plugin = nullptr;
            ASSERT_EQ(create(kServiceName, qv::IServPlugin::kId, &plugin), qv::kResultSuccess);
            destroy(kServiceName, plugin);
        }
    };
    cycles(10);
    const long handles = support::ProcessHandleCount();
    const SIZE_T memory = PrivateBytes();
    ASSERT_GT(handles, 0);
    cycles(1000);
    EXPECT_LE(support::ProcessHandleCount(), handles + support::kHandleNoise);
    EXPECT_LT(PrivateBytes(), memory + 1024 * 1024) << "grew from " << memory;
}

}  // namespace
