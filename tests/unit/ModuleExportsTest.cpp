#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "sdk/IDeviceScanEventProducer.h"
#include "sdk/IDeviceScanSP.h"
#include "sdk/IServPlugin.h"
#include "sdk/ProcAddress.h"
#include "sdk/ResultCodes.h"

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

// Every byte of an identity takes part in equality. (Their values are pinned by the plain-C host,
// which asks for each one by its number.)
TEST(InterfaceIdentity, EveryByteCountsInEquality) {
    for (const InterfaceId& id : {qv::IQvBaseInterface::kId, qv::IServPlugin::kId,
                                  IDeviceScanSP::kId, IDeviceScanEventProducer::kId}) {
        EXPECT_TRUE(id == id);
        for (std::size_t byte = 0; byte < sizeof(InterfaceId); ++byte) {
            InterfaceId changed = id;
            reinterpret_cast<unsigned char*>(&changed)[byte] ^= 0x01;
            EXPECT_FALSE(changed == id) << "byte " << byte;
        }
    }
}

// The name is compared exactly: no case folding, no prefix, no trailing blank.
TEST(ModuleExports, ServiceIsCreatedByItsExactNameOnly) {
    const HMODULE module = LoadLibraryW(ShippedModulePath().c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    const auto create = qv::GetProcAddressAs<CreateFn>(module, "QvCreateObject");
    const auto destroy = qv::GetProcAddressAs<DestroyFn>(module, "QvDestroyObject");
    ASSERT_TRUE(create != nullptr && destroy != nullptr);
    void* plugin = nullptr;
    ASSERT_EQ(create(kServiceName, qv::IServPlugin::kId, &plugin), qv::kResultSuccess);
    destroy(kServiceName, plugin);
    for (const wchar_t* name :
         {L"filescan.ondemand.devicescansp", L"FileScan.OnDemand.DeviceScanSP ",
          L"FileScan.OnDemand.DeviceScanS", L""}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(create(name, qv::IServPlugin::kId, &out), qv::kResultNotFound) << name;
        EXPECT_EQ(out, nullptr);
    }
    FreeLibrary(module);
}

}  // namespace
