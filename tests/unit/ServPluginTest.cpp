#include <gtest/gtest.h>

#include "IDeviceScanEventProducer.h"
#include "ServPlugin.h"
#include "Severity.h"
#include "support/ServiceFixture.h"

namespace {

using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using Producer = ServPlugin<IDeviceScanEventProducer>;

constexpr wchar_t kGetPlugin[] =
    L"ServPlugin<struct qv::rnsdk::FileScan::IDeviceScanEventProducer>::GetPlugin";

class ServPluginTest : public support::ServiceFixture {};

TEST_F(ServPluginTest, AcquiresByNameAndIdentityWithoutLogging) {
    Producer producer(L"FileScan.OnDemand.DeviceScanAL");
    EXPECT_EQ(producer.GetPlugin(&manager), &manager.producer);
    ASSERT_EQ(manager.acquired.size(), 1u);
    EXPECT_EQ(manager.acquired[0], L"FileScan.OnDemand.DeviceScanAL");
    EXPECT_TRUE(manager.lastId == IDeviceScanEventProducer::kId);
    EXPECT_TRUE(recorder.Messages().empty());
}

TEST_F(ServPluginTest, AskingAgainGivesTheHeldPluginBackFirst) {
    Producer producer(L"FileScan.OnDemand.DeviceScanAL");
    producer.GetPlugin(&manager);
    producer.GetPlugin(&manager);
    EXPECT_EQ(manager.acquired.size(), 2u);
    EXPECT_EQ(manager.released.size(), 1u);
    producer.Release();
    producer.Release();
    EXPECT_EQ(manager.released.size(), 2u) << "a second release gives nothing back";
}

TEST_F(ServPluginTest, RefusalIsLoggedAndNothingIsGivenBack) {
    manager.refusal = ERROR_FILE_NOT_FOUND;
    {
        Producer producer(L"FileScan.OnDemand.DeviceScanAL");
        EXPECT_EQ(producer.GetPlugin(&manager), nullptr);
    }
    EXPECT_TRUE(HasMessage(kGetPlugin, logging::LOG_WARNING,
                           L"Error 2 getting plugin \"FileScan.OnDemand.DeviceScanAL\""));
    EXPECT_TRUE(manager.released.empty());
}

TEST_F(ServPluginTest, NullManagerIsLogged) {
    Producer producer(L"FileScan.OnDemand.DeviceScanAL");
    EXPECT_EQ(producer.GetPlugin(nullptr), nullptr);
    EXPECT_TRUE(HasMessage(kGetPlugin, logging::LOG_ERROR, L"Null component manager"));
}

TEST_F(ServPluginTest, DestructionGivesAHeldPluginBack) {
    {
        Producer producer(L"FileScan.OnDemand.DeviceScanAL");
        producer.GetPlugin(&manager);
    }
    ASSERT_EQ(manager.released.size(), 1u);
    EXPECT_EQ(manager.released[0], L"FileScan.OnDemand.DeviceScanAL");
}

}  // namespace
