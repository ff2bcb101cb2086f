#include "Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "IDeviceScanSP.h"
#include "MemberFunction_1_args.h"
#include "TestThreads.h"

namespace {

std::atomic<bool> failNothrowNew{false};

}  // namespace

// The non-throwing allocation of this test program, which a test can make fail. Otherwise it
// takes the ordinary allocation, so delete pairs with it as usual.
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
    if (failNothrowNew) {
        return nullptr;
    }
    try {
        return ::operator new(bytes);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

namespace {

using qv::rnsdk::FileScan::IDeviceScanSP;
using Device = IDeviceScanSP::Device;
using IEvents = IDeviceScanSP::IEvents;
using Listeners = qv::SynchronyzedObjectContainer<IEvents*>;
using Dispatcher = qv::MemberFunction_1_args<IEvents, int, const Device&>;
using MountedEvent = qv::Event<Dispatcher, &IEvents::OnDeviceMounted>;
using UnmountedEvent = qv::Event<Dispatcher, &IEvents::OnDeviceUnmounted>;
using testing_support::Actor;
using testing_support::WaitUntil;

// What the listeners were told, in order: "<name> mounted <path>".
class Journal {
  public:
    void Add(const std::string& entry) {
        std::lock_guard hold(mutex);
        entries.push_back(entry);
    }
    std::vector<std::string> Entries() {
        std::lock_guard hold(mutex);
        return entries;
    }

  private:
    std::mutex mutex;
    std::vector<std::string> entries;
};

std::string Narrow(const wchar_t* text) {
    return std::string(text, text + std::wcslen(text));
}

class RecordingListener : public IEvents {
  public:
    RecordingListener(const char* name, Journal& journal, int result = 0)
        : name(name), journal(journal), result(result) {}

    int Reserved() override {
        journal.Add(name + " reserved");
        return 0;
    }
    int OnDeviceMounted(const Device& device) override {
        journal.Add(name + " mounted " + Narrow(device.path.GetString()));
        return result;
    }
    int OnDeviceUnmounted(const Device& device) override {
        journal.Add(name + " unmounted " + Narrow(device.path.GetString()));
        return result;
    }

  protected:
    std::string name;
    Journal& journal;
    int result;
};

Device DeviceAt(const wchar_t* path) {
    Device device;
    device.type = IDeviceScanSP::kDeviceTypeLocal;
    device.path = path;
    return device;
}

void ExpectLockFree(const Listeners& listeners) {
    const auto c = listeners.GetCounters();
    EXPECT_EQ(c.activeReaders, 0u);
    EXPECT_EQ(c.activeWriters, 0u);
    EXPECT_EQ(c.readerEntries, 0u);
}

TEST(Event, CallsEveryListenerInRegistrationOrder) {
    Journal journal;
    RecordingListener a("A", journal);
    RecordingListener b("B", journal);
    RecordingListener c("C", journal);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    UnmountedEvent unmounted{&listeners};
    listeners.Add(&a);
    listeners.Add(&b);
    listeners.Add(&c);

    mounted.Raise(DeviceAt(L"E:\\"));
    listeners.Remove(&b);
    unmounted.Raise(DeviceAt(L"E:\\"));
    EXPECT_EQ(journal.Entries(),
              (std::vector<std::string>{"A mounted E:\\", "B mounted E:\\", "C mounted E:\\",
                                        "A unmounted E:\\", "C unmounted E:\\"}));
    ExpectLockFree(listeners);
}

TEST(Event, DuplicateRegistrationIsCalledOnce) {
    Journal journal;
    RecordingListener a("A", journal);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    EXPECT_TRUE(listeners.Add(&a));
    EXPECT_FALSE(listeners.Add(&a));
    mounted.Raise(DeviceAt(L"F:\\"));
    EXPECT_EQ(journal.Entries(), (std::vector<std::string>{"A mounted F:\\"}));
}

TEST(Event, ListenerResultsDoNotStopTheFanOut) {
    Journal journal;
    RecordingListener failing("A", journal, 5);
    RecordingListener last("B", journal, 7);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    listeners.Add(&failing);
    listeners.Add(&last);
    EXPECT_EQ(mounted.Raise(DeviceAt(L"E:\\")), 7) << "the last listener's result";
    EXPECT_EQ(journal.Entries().size(), 2u);
}

TEST(Event, WithoutListenersNothingIsCalledAndTheLockIsFree) {
    Listeners listeners;
    MountedEvent mounted{&listeners};
    EXPECT_EQ(mounted.Raise(DeviceAt(L"E:\\")), 0);
    ExpectLockFree(listeners);
    EXPECT_EQ(mounted.Function(), &IEvents::OnDeviceMounted);
}

TEST(Event, FailedCursorAllocationCallsNobodyAndTakesNoLock) {
    Journal journal;
    RecordingListener a("A", journal);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    listeners.Add(&a);

    const Device device = DeviceAt(L"E:\\");
    failNothrowNew = true;
    const int result = mounted.Raise(device);
    failNothrowNew = false;
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(journal.Entries().empty());
    ExpectLockFree(listeners);
}

class ThrowingListener : public RecordingListener {
  public:
    using RecordingListener::RecordingListener;
    int OnDeviceMounted(const Device&) override { throw std::runtime_error("listener failed"); }
};

TEST(Event, ListenerLeavingByAnExceptionGivesTheHoldBack) {
    Journal journal;
    ThrowingListener throwing("A", journal);
    Listeners listeners;
    MountedEvent mounted{&listeners};
    listeners.Add(&throwing);
    EXPECT_THROW(mounted.Raise(DeviceAt(L"E:\\")), std::runtime_error);
    ExpectLockFree(listeners);
    EXPECT_TRUE(listeners.Remove(&throwing)) << "the container is usable again";
}

// Blocks inside its notification until the test lets it go.
class BlockingListener : public RecordingListener {
  public:
    using RecordingListener::RecordingListener;
    int OnDeviceMounted(const Device& device) override {
        inside = true;
        WaitUntil([this] { return released.load(); });
        return RecordingListener::OnDeviceMounted(device);
    }
    std::atomic<bool> inside{false};
    std::atomic<bool> released{false};
};

TEST(Event, RegistrationWaitsForTheFanOutInProgress) {
    Journal journal;
    BlockingListener slow("A", journal);
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
        journal.Add("C added");
    });
    ASSERT_TRUE(WaitUntil([&] { return listeners.GetCounters().waitingWriters == 1; }));
    slow.released = true;
    ASSERT_TRUE(windowThread.Finished());
    ASSERT_TRUE(hostThread.Finished());
    EXPECT_EQ(journal.Entries(),
              (std::vector<std::string>{"A mounted E:\\", "B mounted E:\\", "C added"}));
    ExpectLockFree(listeners);
}

}  // namespace
