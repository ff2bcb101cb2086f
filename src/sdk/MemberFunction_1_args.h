#pragma once

#include "sdk/EnumerationCursor.h"

namespace qv {

// The base of a dispatcher that calls one member of TargetT, taking one argument, on every target
// of an enumeration. Slot order is part of the contract; Raise drives the four slots.
template <typename TargetT, typename ResultT, typename ArgT>
class MemberFunction_1_args {
  public:
    using Target = TargetT;
    using MemberEntry = ResultT (TargetT::*)(ArgT);
    using Cursor = EnumerationCursor<TargetT*>;

    // Starts an enumeration in *cursor; false to call nothing at all.
    virtual bool Begin(Cursor** cursor) = 0;
    // The next target and the member to call on it; false when there is none (or no cursor).
    virtual bool Next(Cursor* cursor, TargetT** target, MemberEntry* function) = 0;
    // Ends the enumeration and sets *cursor to null.
    virtual void End(Cursor** cursor) noexcept = 0;
    // The member called on each target.
    virtual MemberEntry Function() = 0;

    // Calls the member with argument on every target in turn; a target's result does not stop the
    // walk. Returns the result of the last target called (ResultT{} when none was). The
    // enumeration ends also when a target leaves by an exception.
    ResultT Raise(ArgT argument) {
        Cursor* cursor = nullptr;
        if (!Begin(&cursor)) {
            return ResultT{};
        }
        const EndGuard end{this, &cursor};
        ResultT result{};
        TargetT* target = nullptr;
        MemberEntry function = nullptr;
        while (Next(cursor, &target, &function)) {
            result = (target->*function)(argument);
        }
        return result;
    }

  protected:
    ~MemberFunction_1_args() = default;

  private:
    struct EndGuard {
        MemberFunction_1_args* dispatcher;
        Cursor** cursor;
        ~EndGuard() { dispatcher->End(cursor); }
    };
};

}  // namespace qv
