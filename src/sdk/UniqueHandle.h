#pragma once

#include <windows.h>

namespace qv {

// Owns a kernel handle (file, device, process, thread, mutex) and closes it once. Moved, never
// copied. INVALID_HANDLE_VALUE and null both mean "no handle".
class UniqueHandle {
  public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(HANDLE owned) noexcept : handle(owned) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }

    bool IsValid() const noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const noexcept { return handle; }
    HANDLE Release() noexcept {
        HANDLE released = handle;
        handle = nullptr;
        return released;
    }
    void Reset(HANDLE owned = nullptr) noexcept {
        if (IsValid()) {
            CloseHandle(handle);
        }
        handle = owned;
    }

  private:
    HANDLE handle = nullptr;
};

}  // namespace qv
