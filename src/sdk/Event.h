#pragma once

#include <new>

#include "sdk/MemberFunction_1_args.h"
#include "sdk/SynchronyzedObjectContainer.h"

namespace qv {

// A dispatcher bound at compile time to one member of its targets: Raise calls kMember (a virtual
// call) on every element of a container, in the container's order, while holding the container
// shared for the whole fan-out. Owns neither the container nor the targets.
//
// Threads: any thread may raise. Add and Remove on the container wait until a fan-out in progress
// has ended, and a raise that starts while one of them waits queues behind it. A target must not
// Add to or Remove from the container while it is being called.
template <typename BaseT, typename BaseT::MemberEntry kMember>
class Event final : public BaseT {
    using Target = typename BaseT::Target;
    using Cursor = typename BaseT::Cursor;
    using MemberEntry = typename BaseT::MemberEntry;

  public:
    explicit Event(SynchronyzedObjectContainer<Target*>* container) noexcept
        : container(container) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // A cursor that cannot be allocated leaves *cursor null: the raise then takes no lock and
    // calls nobody.
    bool Begin(Cursor** cursor) override {
        *cursor = new (std::nothrow) Cursor{nullptr, container};
        if (*cursor == nullptr) {
            return true;
        }
        container->AcquireShared(0);
        (*cursor)->position = container->Items().data();
        return true;
    }

    bool Next(Cursor* cursor, Target** target, MemberEntry* function) override {
        if (cursor == nullptr) {
            return false;
        }
        const auto& items = cursor->container->Items();
        if (cursor->position == items.data() + items.size()) {
            return false;
        }
        *target = *cursor->position++;
        *function = kMember;
        return true;
    }

    void End(Cursor** cursor) noexcept override {
        if (*cursor != nullptr) {
            (*cursor)->container->ReleaseShared(0);
            delete *cursor;
        }
        *cursor = nullptr;
    }

    MemberEntry Function() override { return kMember; }

  private:
    SynchronyzedObjectContainer<Target*>* container;
};

}  // namespace qv
