#pragma once

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devicescan/DeviceScanSP.h"
#include "logging/LogRef.h"
#include "sdk/ProcAddress.h"
#include "sdk/ServiceWindow.h"
#include "tests/support/FakeHost.h"
#include "tests/support/FakePlatform.h"
#include "tests/support/TestThreads.h"

namespace test_support {

using devicescan::service::DeviceScanSP;

static_assert(std::wstring_view(QV_SERVICE_WINDOW_CLASS) == DeviceScanSP::kWindowClassName,
              "the class name the tests look for is the one the service registers");

// A service object on the scripted machine with the fake host and one listener registered, and
// the lines it writes to the recording log.dll beside the test program.
class ServiceFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        Machine().Reset();
        logReference.Acquire();  // keeps the library, and its lines, loaded
        ASSERT_EQ(service->Register(&listener), 0u);
        ClearLog();
    }
    void TearDown() override {
        if (service) {
            service->UnInit();
            service->Unregister(&listener);
        }
    }

    static test_support::FakePlatform& Machine() { return test_support::fakeMachine; }

    // Init and Start; the service window, or null.
    HWND StartService() {
        EXPECT_EQ(service->Init(&host), 0u);
        EXPECT_EQ(service->Start(), 0u);
        return QvFindOwnServiceWindow();
    }

    // The recording log.dll's exports are looked up at each use: the fault tests have another
    // log.dll, or none, and then there is nothing to clear and no line to read.
    void ClearLog() {
        if (const auto clear = qv::GetProcAddressAs<void (*)()>(GetModuleHandleW(L"log.dll"),
                                                                "RecordingLogClear")) {
            clear();
        }
    }

    // The records written since ClearLog, as "LogWrite|depth|severity|module|function|text".
    std::vector<std::wstring> Lines() const {
        const auto get = qv::GetProcAddressAs<int (*)(std::uint32_t, wchar_t*, std::uint32_t)>(
            GetModuleHandleW(L"log.dll"), "RecordingLogGet");
        std::vector<std::wstring> lines;
        wchar_t line[2048];
        for (std::uint32_t i = 0; get != nullptr && get(i, line, std::size(line)); ++i) {
            if (std::wstring_view(line).starts_with(L"LogWrite|")) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    // How often this message (not a trace line) was written.
    int Logged(const std::wstring& function, std::uint32_t severity,
               const std::wstring& text) const {
        const std::wstring head = L"LogWrite|0|" + std::to_wstring(severity) + L"|";
        return static_cast<int>(std::ranges::count_if(Lines(), [&](const std::wstring& line) {
            return line.starts_with(head) && line.ends_with(L"|" + function + L"|" + text);
        }));
    }

    test_support::FakeHost host;
    test_support::Recorder listener;
    std::unique_ptr<DeviceScanSP> service = std::make_unique<DeviceScanSP>();

  private:
    devicescan::logging::LogRef logReference;
};

// The same with the service started from the outset: its window, and the log cleared after the
// start's own lines.
class RunningServiceFixture : public ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        window = StartService();
        ASSERT_NE(window, nullptr);
        ClearLog();
    }

    HWND window = nullptr;
};

}  // namespace test_support

namespace devicescan::service {

// With the producer acquired, for the device handlers called directly, as the window procedure
// (the only caller in the module) calls them: the decisions need no window thread. Named as the
// friend that the service grants the tests, which also tells the lifecycle tests the id of the
// window thread that Init made.
class DeviceHandlerTestAccess : public test_support::ServiceFixture {
  public:
    static DWORD WindowThreadId(const DeviceScanSP& service) { return service.windowThreadId; }

  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_EQ(service->Init(&host), 0u);
    }

    void Arrive(const wchar_t* path) { service->OnDeviceArrival(qv::String(path)); }
    void Remove(const wchar_t* path) { service->OnDeviceRemoveComplete(qv::String(path)); }
};

}  // namespace devicescan::service
