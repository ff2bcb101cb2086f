#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "ComponentManager.h"
#include "IServPlugin.h"

namespace {

using host::ComponentManager;
using host::EventPrinter;
using qv::rnsdk::FileScan::IDeviceScanEventProducer;
using qv::rnsdk::FileScan::IDeviceScanSP;

class NullProducer final : public IDeviceScanEventProducer {
  public:
    std::uint32_t NotifyDeviceMounted(const IDeviceScanSP::Device&, std::uint32_t) override {
        return 0;
    }
    std::uint32_t NotifyDeviceUnmounted(const IDeviceScanSP::Device&, std::uint32_t) override {
        return 0;
    }
};

class ComponentManagerTest : public ::testing::Test {
  protected:
    NullProducer producer;
    ComponentManager manager{&producer, EventPrinter(std::make_shared<host::OutputQueue>(),
                                                     EventPrinter::Format::kText, false)};
    void* plugin = reinterpret_cast<void*>(1);
};

TEST_F(ComponentManagerTest, HandsOutTheProducerForItsNameAndIdentityOnly) {
    ASSERT_EQ(manager.AcquirePlugin(L"FileScan.OnDemand.DeviceScanAL",
                                    IDeviceScanEventProducer::kId, &plugin),
              0u);
    EXPECT_EQ(plugin, static_cast<IDeviceScanEventProducer*>(&producer));
    EXPECT_EQ(manager.HeldCount(), 1);

    const struct {
        const wchar_t* name;
        qv::InterfaceId id;
        std::uint32_t code;
    } refusals[] = {
        {L"FileScan.OnDemand.DeviceScanal", IDeviceScanEventProducer::kId, ERROR_NOT_FOUND},
        {L"FileScan.OnDemand.DeviceScanAL ", IDeviceScanEventProducer::kId, ERROR_NOT_FOUND},
        {L"", IDeviceScanEventProducer::kId, ERROR_NOT_FOUND},
        {L"FileScan.OnDemand.DeviceScanAL", qv::IServPlugin::kId, ERROR_NOT_SUPPORTED},
        {L"FileScan.OnDemand.DeviceScanAL",
         {IDeviceScanEventProducer::kId.low, IDeviceScanEventProducer::kId.high ^ (1ull << 63)},
         ERROR_NOT_SUPPORTED},
        {nullptr, IDeviceScanEventProducer::kId, ERROR_INVALID_PARAMETER},
    };
    for (const auto& refusal : refusals) {
        plugin = reinterpret_cast<void*>(1);
        EXPECT_EQ(manager.AcquirePlugin(refusal.name, refusal.id, &plugin), refusal.code);
        EXPECT_EQ(plugin, nullptr) << "a refusal leaves no stale pointer behind";
    }
    EXPECT_EQ(manager.AcquirePlugin(L"FileScan.OnDemand.DeviceScanAL",
                                    IDeviceScanEventProducer::kId, nullptr),
              static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(manager.HeldCount(), 1);
}

TEST_F(ComponentManagerTest, CountsAcquisitionsAndRefusesReleasesOfWhatIsNotHeld) {
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.DeviceScanAL"),
              static_cast<std::uint32_t>(ERROR_NOT_FOUND));
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(manager.AcquirePlugin(L"FileScan.OnDemand.DeviceScanAL",
                                        IDeviceScanEventProducer::kId, &plugin),
                  0u);
    }
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.Other"),
              static_cast<std::uint32_t>(ERROR_NOT_FOUND));
    EXPECT_EQ(manager.ReleasePlugin(nullptr), static_cast<std::uint32_t>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(manager.HeldCount(), 2);
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.DeviceScanAL"), 0u);
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.DeviceScanAL"), 0u);
    EXPECT_EQ(manager.HeldCount(), 0);
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.DeviceScanAL"),
              static_cast<std::uint32_t>(ERROR_NOT_FOUND));
    EXPECT_EQ(manager.HeldCount(), 0);
}

}  // namespace
