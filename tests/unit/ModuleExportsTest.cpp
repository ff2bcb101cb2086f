#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "IServPlugin.h"
#include "ProcAddress.h"
#include "ResultCodes.h"

namespace {

using CreateFn = std::uint32_t (*)(const wchar_t*, qv::InterfaceId, void**);
using DestroyFn = void (*)(const wchar_t*, void*);

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
    void TearDown() override {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }

    HMODULE module = nullptr;
    CreateFn create = nullptr;
    DestroyFn destroy = nullptr;
};

TEST_F(ModuleExports, UnknownNamesAreNotFound) {
    for (const wchar_t* name :
         {L"FileScan.OnDemand.Nothing", L"", L"filescan.ondemand.devicescansp"}) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(create(name, qv::IServPlugin::kId, &out), qv::kResultNotFound) << name;
        EXPECT_EQ(out, nullptr);
    }
    destroy(L"FileScan.OnDemand.Nothing", nullptr);
}

TEST_F(ModuleExports, ModuleUnloadsAndLoadsAgain) {
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(FreeLibrary(module));
        module = LoadLibraryW(ShippedModulePath().c_str());
        ASSERT_NE(module, nullptr);
    }
}

}  // namespace
