#pragma once

#include <windows.h>

#include <utility>

namespace host {

// Owns one kernel handle (event, thread, file) and closes it. Null and INVALID_HANDLE_VALUE both
// mean "none". Movable, not copyable.
class UniqueHandle {
  public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(HANDLE handle) noexcept : handle(handle) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle(std::exchange(other.handle, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset(std::exchange(other.handle, nullptr));
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    HANDLE Get() const noexcept { return handle; }
    bool IsValid() const noexcept { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE replacement = nullptr) noexcept {
        if (IsValid()) {
            CloseHandle(handle);
        }
        handle = replacement;
    }

  private:
    HANDLE handle = nullptr;
};

}  // namespace host
