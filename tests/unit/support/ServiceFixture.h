#pragma once

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "devicescan/DeviceScanSP.h"
#include "logging/LogRef.h"
#include "sdk/ProcAddress.h"
#include "tests/unit/TestThreads.h"
#include "tests/unit/fakes/FakeHost.h"
#include "tests/unit/fakes/FakePlatform.h"

namespace support {

using devicescan::service::DeviceScanSP;

inline constexpr std::chrono::milliseconds kPatience{10000};

// Runs work on a native thread of its own and tells whether it finished within limit.
inline bool FinishesWithin(std::chrono::milliseconds limit, std::function<void()> work) {
    return testing_support::FinishesWithin(static_cast<DWORD>(limit.count()), std::move(work));
}

// The service window of this process: test processes share one desktop, so a window found by
// class and name alone may belong to another test.
inline HWND FindOwnServiceWindow() {
    HWND window = nullptr;
    DWORD processId = 0;
    do {
        window = FindWindowExW(nullptr, window, DeviceScanSP::kWindowClassName,
                               DeviceScanSP::kWindowName);
        GetWindowThreadProcessId(window, &processId);
    } while (window != nullptr && processId != GetCurrentProcessId());
    return window;
}

inline LRESULT SendVolume(HWND window, WPARAM change, DWORD unitMask) {
    DEV_BROADCAST_VOLUME volume{sizeof(volume), DBT_DEVTYP_VOLUME, 0, unitMask, 0};
    return SendMessageW(window, WM_DEVICECHANGE, change, reinterpret_cast<LPARAM>(&volume));
}

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

    static fakes::FakePlatform& Machine() { return fakes::FakePlatform::Get(); }

    // Init and Start; the service window, or null.
    HWND StartService() {
        EXPECT_EQ(service->Init(&host), 0u);
        EXPECT_EQ(service->Start(), 0u);
        return FindOwnServiceWindow();
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

    fakes::FakeHost host;
    fakes::Recorder listener;
    std::unique_ptr<DeviceScanSP> service = std::make_unique<DeviceScanSP>();

  private:
    devicescan::logging::LogRef logReference;
};

}  // namespace support

namespace devicescan::service {

// With the producer acquired, for the device handlers called directly, as the window procedure
// (the only caller in the module) calls them: the decisions need no window thread. Named as the
// friend that the service grants the tests.
class DeviceHandlerTestAccess : public support::ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_EQ(service->Init(&host), 0u);
    }

    void Arrive(const wchar_t* path) { service->OnDeviceArrival(qv::String(path)); }
    void Remove(const wchar_t* path) { service->OnDeviceRemoveComplete(qv::String(path)); }
};

}  // namespace devicescan::service
