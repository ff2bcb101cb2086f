#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"
#include "sdk/ProcAddress.h"
#include "sdk/ResultCodes.h"
#include "tests/unit/support/HandleCount.h"
#include "tests/unit/support/PrivateBytes.h"

namespace {

using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
using DestroyFn = void (*)(const wchar_t*, void*);
using qv::InterfaceId;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using qv::rnsdk::FileScan::IDeviceScanSP;

constexpr wchar_t kServiceName[] = L"FileScan.OnDemand.DeviceScanSP";

// The shipped module lies in bin/, beside this program's tests/ folder.
std::filesystem::path ShippedModulePath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return std::filesystem::path(self).parent_path().parent_path() / "bin" / "devicescan.dll";
}

// The identities are published in GUID text form; the two halves must be the same 16 bytes, and
// every byte of both halves must take part in equality.
TEST(InterfaceIdentity, HalvesAreThePublishedGuidsAndEveryByteCounts) {
    const struct {
        InterfaceId id;
        const wchar_t* text;
    } published[] = {
        {qv::IQvBaseInterface::kId, L"{66551AB3-FCA3-BC90-5F42-C5F792E24B51}"},
        {qv::IServPlugin::kId, L"{414E2323-04D0-9833-7641-887C5D8252E9}"},
        {IDeviceScanSP::kId, L"{700DEBC8-B4DC-B4C1-E546-623EA7DAB617}"},
        {IDeviceScanEventProducer::kId, L"{328B2BC6-3AFD-9ED2-5B42-083A9508491E}"},
    };
    for (const auto& [id, text] : published) {
        GUID guid;
        ASSERT_EQ(IIDFromString(text, &guid), S_OK);
        EXPECT_EQ(std::memcmp(&id, &guid, sizeof(guid)), 0) << text;
        EXPECT_TRUE(id == id);
        for (std::size_t byte = 0; byte < sizeof(InterfaceId); ++byte) {
            InterfaceId changed = id;
            reinterpret_cast<unsigned char*>(&changed)[byte] ^= 0x01;
            EXPECT_FALSE(changed == id) << "byte " << byte;
        }
    }
}

class ModuleExports : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryW(ShippedModulePath().c_str());
        ASSERT_NE(module, nullptr) << "error " << GetLastError();
        create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
        destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
        ASSERT_TRUE(create != nullptr && destroy != nullptr);
    }
    void TearDown() override { FreeLibrary(module); }

    HMODULE module = nullptr;
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
};

TEST_F(ModuleExports, ServiceIsCreatedByItsExactNameAndKnownIdentitiesOnly) {
    void* plugin = nullptr;
    ASSERT_EQ(create(kServiceName, qv::IServPlugin::kId, &plugin), qv::kResultSuccess);
    EXPECT_NE(static_cast<qv::IServPlugin*>(plugin)->QueryInterface(IDeviceScanSP::kId), nullptr);
    destroy(kServiceName, nullptr);
    destroy(L"FileScan.OnDemand.Nothing", plugin);
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

TEST_F(ModuleExports, ThousandCreateAndDestroyCyclesLeakNoHandleNorMemory) {
    // Every object takes the shared log reference, so each cycle would load and unload log.dll.
    // Each load of a DLL with the static C++ runtime leaves that runtime's exception pool (about
    // 73 KB) behind in the process heap, whatever the DLL does; log.dll stays loaded here so
    // that the figure is the module's own.
    const HMODULE pinnedLog = LoadLibraryW((ShippedModulePath().parent_path() / "log.dll").c_str());
    ASSERT_NE(pinnedLog, nullptr);
    const auto cycles = [&](int count) {
        for (int i = 0; i < count; ++i) {
            void* plugin = nullptr;
            ASSERT_EQ(create(kServiceName, qv::IServPlugin::kId, &plugin), qv::kResultSuccess);
            destroy(kServiceName, plugin);
        }
    };
    cycles(10);
    const long handles = support::ProcessHandleCount();
    const SIZE_T memory = support::PrivateBytes();
    ASSERT_GT(handles, 0);
    cycles(1000);
    EXPECT_LE(support::ProcessHandleCount(), handles + support::kHandleNoise);
    EXPECT_LT(support::PrivateBytes(), memory + 1024 * 1024) << "grew from " << memory;
    FreeLibrary(pinnedLog);
}

}  // namespace
