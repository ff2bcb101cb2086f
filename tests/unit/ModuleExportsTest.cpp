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
