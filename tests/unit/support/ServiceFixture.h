#pragma once

#include <windows.h>
#include <dbt.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "DeviceScanSP.h"
#include "fakes/FakeHost.h"
#include "fakes/FakePlatform.h"
#include "support/LogRecorder.h"
#include "support/ServiceWindow.h"

namespace support {

// A service object with a scripted machine (the fake platform), a fake host that hands out a
// recording producer, one recording listener, and the log it writes.
class ServiceFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        fakes::FakePlatform::Get().Reset();
        host.manager = &manager;
        ASSERT_TRUE(recorder.Loaded()) << "the recording log.dll must lie beside the tests";
        ASSERT_EQ(service->Register(&listener), 0u);
    }
    void TearDown() override {
        if (service) {
            service->UnInit();
            service->Unregister(&listener);
        }
    }

    static fakes::FakePlatform& Machine() { return fakes::FakePlatform::Get(); }

    // A drive that is announced as it stands: removable media, 16 GB with 6 GB free.
    static fakes::FakeDrive& Stick(wchar_t letter) { return Machine().Drive(letter); }

    bool HasMessage(const std::wstring& function, std::uint32_t severity,
                    const std::wstring& text) const {
        const auto messages = recorder.Messages();
        const std::wstring wanted = function + L"|" + std::to_wstring(severity) + L"|" + text;
        return std::find(messages.begin(), messages.end(), wanted) != messages.end();
    }

    // Position of the first line with this text, or -1.
    int IndexOf(const std::wstring& text) const {
        const auto texts = recorder.Texts();
        const auto found = std::find(texts.begin(), texts.end(), text);
        return found == texts.end() ? -1 : static_cast<int>(found - texts.begin());
    }

    LogRecorder recorder;
    fakes::FakeComponentManager manager;
    fakes::FakeServiceHost host;
    fakes::RecordingListener listener;
    std::unique_ptr<DeviceScanSP> service = std::make_unique<DeviceScanSP>();
};

}  // namespace support
