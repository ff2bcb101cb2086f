#include "sdk/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "sdk/IDeviceScanSP.h"
#include "sdk/MemberFunction_1_args.h"
#include "tests/unit/TestThreads.h"

namespace {

using qv::rnsdk::FileScan::IDeviceScanSP;
using Device = IDeviceScanSP::Device;
using IEvents = IDeviceScanSP::IEvents;
using Listeners = qv::SynchronyzedObjectContainer<IEvents*>;
using Dispatcher = qv::MemberFunction_1_args<IEvents, int, const Device&>;
using MountedEvent = qv::Event<Dispatcher, &IEvents::OnDeviceMounted>;
using UnmountedEvent = qv::Event<Dispatcher, &IEvents::OnDeviceUnmounted>;
using Journal = std::vector<std::string>;
using testing_support::Actor;
using testing_support::WaitUntil;

// Notes each notification in the journal as "<name> mounted <path>". With a gate, it waits
// inside its mount notification until the gate opens.
class RecordingListener : public IEvents {
  public:
    RecordingListener(const char* name, Journal& journal, int result = 0,
                      const std::atomic<bool>* gate = nullptr)
        : name(name), journal(journal), result(result), gate(gate) {}
    std::atomic<bool> inside{false};

    int Reserved() override { return 0; }
    int OnDeviceMounted(const Device& device) override { return Note(" mounted ", device); }
    int OnDeviceUnmounted(const Device& device) override { return Note(" unmounted ", device); }

  private:
    int Note(const char* what, const Device& device) {
        inside = true;
        WaitUntil([this] { return gate == nullptr || gate->load(); });
        const std::wstring path = device.path.GetString();
        journal.push_back(name + what + std::string(path.begin(), path.end()));
        return result;
    }

    std::string name;
    Journal& journal;
    int result;
    const std::atomic<bool>* gate;
};

Device DeviceAt(const wchar_t* path) {
    Device device;
    device.path = path;
    return device;
}

// A listener's result, even a failure, does not stop the others from being told.
TEST(Event, ListenersAreCalledOnceEachInRegistrationOrder) {
    Journal journal;
    RecordingListener a("A", journal, 5);
    RecordingListener b("B", journal);
    RecordingListener c("C", journal, 7);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    UnmountedEvent unmounted{&listeners};
    EXPECT_TRUE(listeners.Add(&a));
    EXPECT_TRUE(listeners.Add(&b));
    EXPECT_TRUE(listeners.Add(&c));
    EXPECT_FALSE(listeners.Add(&b)) << "a listener is registered once";
    EXPECT_EQ(mounted.Raise(DeviceAt(L"E:\\")), 7) << "the last listener's result";

    EXPECT_TRUE(listeners.Remove(&b));
    EXPECT_FALSE(listeners.Remove(&b)) << "an unknown listener";
    unmounted.Raise(DeviceAt(L"E:\\"));
    EXPECT_TRUE(listeners.Add(&b));
    mounted.Raise(DeviceAt(L"F:\\"));
    EXPECT_EQ(journal,
              (Journal{"A mounted E:\\", "B mounted E:\\", "C mounted E:\\", "A unmounted E:\\",
                       "C unmounted E:\\", "A mounted F:\\", "C mounted F:\\", "B mounted F:\\"}));
}

TEST(Event, RegistrationFromAnotherThreadWaitsForTheFanOutInProgress) {
    Journal journal;
    std::atomic<bool> released{false};
    RecordingListener slow("A", journal, 0, &released);
    RecordingListener after("B", journal);
    RecordingListener late("C", journal);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    listeners.Add(&slow);
    listeners.Add(&after);

    Actor windowThread;
    Actor hostThread;
    windowThread.Start([&] { mounted.Raise(DeviceAt(L"E:\\")); });
    ASSERT_TRUE(WaitUntil([&] { return slow.inside.load(); }));
    hostThread.Start([&] {
        listeners.Add(&late);
        journal.push_back("C added");
    });
    ASSERT_TRUE(WaitUntil([&] { return listeners.GetCounters().waitingWriters == 1; }));
    released = true;
    ASSERT_TRUE(windowThread.Finished());
    ASSERT_TRUE(hostThread.Finished());
    EXPECT_EQ(journal, (Journal{"A mounted E:\\", "B mounted E:\\", "C added"}));
}

}  // namespace
