#include <windows.h>

#include <gtest/gtest.h>

#include <memory>

#include "host/ComponentManager.h"
#include "host/ProducerPlugin.h"
#include "sdk/IServPlugin.h"

namespace {

namespace host = devicescan::host;

using qv::rnsdk::FileScan::IDeviceScanEventProducer;

constexpr const wchar_t* kName = L"FileScan.OnDemand.DeviceScanAL";

TEST(ComponentManager, HandsOutTheProducerForItsExactNameAndIdentityOnly) {
    const host::EventPrinter printer(std::make_shared<host::OutputQueue>(),
                                     host::EventPrinter::Format::kText, false);
    host::ProducerPlugin producer(printer, nullptr);
    host::ComponentManager manager(&producer, printer);
    void* plugin = nullptr;
    ASSERT_EQ(manager.AcquirePlugin(kName, IDeviceScanEventProducer::kId, &plugin), 0u);
    EXPECT_EQ(plugin, static_cast<IDeviceScanEventProducer*>(&producer));

    const struct {
        const wchar_t* name;
        qv::InterfaceId id;
    } refusals[] = {
        {L"FileScan.OnDemand.DeviceScanal", IDeviceScanEventProducer::kId},
        {L"FileScan.OnDemand.DeviceScanAL ", IDeviceScanEventProducer::kId},
        {kName, qv::IServPlugin::kId},
        {kName, {IDeviceScanEventProducer::kId.low, IDeviceScanEventProducer::kId.high ^ 1}},
        {nullptr, IDeviceScanEventProducer::kId},
    };
    for (const auto& refusal : refusals) {
        plugin = reinterpret_cast<void*>(1);
        EXPECT_NE(manager.AcquirePlugin(refusal.name, refusal.id, &plugin), 0u);
        EXPECT_EQ(plugin, nullptr) << "a refusal leaves no stale pointer behind";
    }

    // Releases are counted against acquisitions, by exact name too.
    EXPECT_EQ(manager.ReleasePlugin(L"FileScan.OnDemand.Other"), 1168u);
    EXPECT_EQ(manager.HeldCount(), 1);
    EXPECT_EQ(manager.ReleasePlugin(kName), 0u);
    EXPECT_EQ(manager.ReleasePlugin(kName), 1168u);
    EXPECT_EQ(manager.HeldCount(), 0);
}

}  // namespace
