#include "sdk/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "sdk/IDeviceScanSP.h"
#include "sdk/MemberFunction_1_args.h"
#include "tests/support/TestThreads.h"

namespace {

using qv::rnsdk::FileScan::IDeviceScanSP;
using Device = IDeviceScanSP::Device;
using IEvents = IDeviceScanSP::IEvents;
using Listeners = qv::SynchronyzedObjectContainer<IEvents*>;
using Dispatcher = qv::MemberFunction_1_args<IEvents, int, const Device&>;
using MountedEvent = qv::Event<Dispatcher, &IEvents::OnDeviceMounted>;
using UnmountedEvent = qv::Event<Dispatcher, &IEvents::OnDeviceUnmounted>;
using Journal = std::vector<std::wstring>;
using test_support::WaitUntil;

// Notes each notification in the journal as "<name> mounted <path>" and answers result. While
// held, it waits inside the notification (bounded) until it is let go.
struct RecordingListener : IEvents {
    RecordingListener(const wchar_t* name, Journal& journal, int result = 0)
        : name(name), journal(journal), result(result) {}
    int Reserved() override { return 0; }
    int OnDeviceMounted(const Device& device) override { return Note(L" mounted ", device); }
    int OnDeviceUnmounted(const Device& device) override { return Note(L" unmounted ", device); }
    int Note(const wchar_t* what, const Device& device) {
        inside = true;
        WaitUntil([this] { return !held; });
        journal.push_back(name + what + device.path.GetString());
        return result;
    }

    std::wstring name;
    Journal& journal;
    int result;
    std::atomic<bool> held{false}, inside{false};
};

// A listener's result, even a failure, does not stop the others from being told. A registration
// from another thread waits for the fan-out in progress, which goes on without the newcomer.
TEST(Event, ListenersAreCalledOnceEachInRegistrationOrderAndRegistrationWaitsForTheFanOut) {
    const Device e{.path = qv::String(L"E:\\"), .remote = {}};
    Journal journal;
    RecordingListener a(L"A", journal, 5), b(L"B", journal), c(L"C", journal, 7);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    EXPECT_TRUE(listeners.Add(&a) && listeners.Add(&b) && listeners.Add(&c));
    EXPECT_FALSE(listeners.Add(&b)) << "a listener is registered once";
    EXPECT_EQ(mounted.Raise(e), 7) << "the last listener's result";

    EXPECT_TRUE(listeners.Remove(&b));
    EXPECT_FALSE(listeners.Remove(&b)) << "an unknown listener";
    UnmountedEvent{&listeners}.Raise(e);
    EXPECT_TRUE(listeners.Add(&b));
    mounted.Raise({.path = qv::String(L"F:\\"), .remote = {}});
    EXPECT_EQ(journal, (Journal{L"A mounted E:\\", L"B mounted E:\\", L"C mounted E:\\",
                                L"A unmounted E:\\", L"C unmounted E:\\", L"A mounted F:\\",
                                L"C mounted F:\\", L"B mounted F:\\"}));

    journal.clear();
    a.inside = false;
    a.held = true;
    RecordingListener late(L"D", journal);
    test_support::Actor windowThread, hostThread;
    windowThread.Start([&] { mounted.Raise(e); });
    ASSERT_TRUE(WaitUntil([&] { return a.inside.load(); }));
    hostThread.Start([&] { listeners.Add(&late); });
    ASSERT_TRUE(WaitUntil([&] { return listeners.GetCounters().waitingWriters == 1; }))
        << "the registration did not wait for the fan-out";
    a.held = false;
    ASSERT_TRUE(windowThread.Finished());
    ASSERT_TRUE(hostThread.Finished());
    EXPECT_EQ(journal, (Journal{L"A mounted E:\\", L"C mounted E:\\", L"B mounted E:\\"}));
}

}  // namespace
