#include <gtest/gtest.h>

#include "Severity.h"
#include "support/Announcements.h"
#include "support/ServiceFixture.h"

namespace {

using logging::LOG_INFO;
using support::EventsOf;
using Events = std::vector<std::wstring>;

constexpr wchar_t kRemoval[] = L"DeviceScanSP::OnDeviceRemoveComplete";

class RemovalTest : public support::ServiceFixture {
  protected:
    void SetUp() override {
        ServiceFixture::SetUp();
        ASSERT_EQ(service->Init(&host), 0u);
        Stick(L'E');
        recorder.Clear();
    }

    void Arrive(const wchar_t* path) { service->OnDeviceArrival(qv::String(path)); }
    void Remove(const wchar_t* path) { service->OnDeviceRemoveComplete(qv::String(path)); }
};

TEST_F(RemovalTest, MountedDriveIsAnnouncedWithItsStoredRecord) {
    Arrive(L"E:\\");
    Stick(L'E').totalBytes = 1;  // measured again it would differ; the removal does not measure
    recorder.Clear();
    Machine().ClearCalls();
    Remove(L"E:\\");

    EXPECT_TRUE(HasMessage(kRemoval, LOG_INFO, L"Device unMounted [path = E:\\]"));
    EXPECT_TRUE(HasMessage(kRemoval, LOG_INFO, L"removing device [path = E:\\] [type = 1]"));
    const auto produced = manager.producer.log.Entries();
    ASSERT_EQ(produced.size(), 2u);
    EXPECT_EQ(produced[1].event, L"unmounted");
    EXPECT_EQ(produced[1].argument, 0xDEADu);
    const auto heard = listener.log.Entries();
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].fullSize, 16000000000ull);
    EXPECT_EQ(heard[1].type, 1);
    EXPECT_LT(produced[1].sequence, heard[1].sequence);
    EXPECT_TRUE(Machine().Calls().empty()) << "a removal touches no drive";
}

TEST_F(RemovalTest, UnknownPathIsOnlyLogged) {
    Remove(L"F:\\");
    EXPECT_TRUE(HasMessage(kRemoval, LOG_INFO, L"Device unMounted [path = F:\\]"));
    EXPECT_EQ(recorder.Messages().size(), 1u);
    EXPECT_TRUE(listener.log.Entries().empty());
    EXPECT_TRUE(manager.producer.log.Entries().empty());
}

TEST_F(RemovalTest, PathsMatchCaseSensitively) {
    Arrive(L"E:\\");
    Remove(L"e:\\");
    EXPECT_EQ(EventsOf(listener.log), Events{L"mounted E:\\"});
    Remove(L"E:\\");
    Remove(L"E:\\");
    EXPECT_EQ(EventsOf(listener.log), (Events{L"mounted E:\\", L"unmounted E:\\"}))
        << "the second removal finds nothing";
}

TEST_F(RemovalTest, DriveComesBackAfterItsRemoval) {
    Arrive(L"E:\\");
    Remove(L"E:\\");
    Arrive(L"E:\\");
    EXPECT_EQ(EventsOf(listener.log),
              (Events{L"mounted E:\\", L"unmounted E:\\", L"mounted E:\\"}));
    EXPECT_EQ(EventsOf(manager.producer.log), EventsOf(listener.log));
}

TEST_F(RemovalTest, ListenersHearEvenWithoutAProducer) {
    Arrive(L"E:\\");
    service->UnInit();
    Remove(L"E:\\");
    EXPECT_EQ(EventsOf(listener.log), (Events{L"mounted E:\\", L"unmounted E:\\"}));
    EXPECT_EQ(EventsOf(manager.producer.log), Events{L"mounted E:\\"});
}

}  // namespace
