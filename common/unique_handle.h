// A kernel handle that closes itself, so no early return or exception can leak it.
#pragma once

#include <windows.h>

namespace nimbo {

class UniqueHandle {
  public:
    UniqueHandle() = default;
    // Takes either failure value (CreateFileW gives INVALID_HANDLE_VALUE, OpenProcess null).
    explicit UniqueHandle(HANDLE handle)
        : handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.handle_) {
        other.handle_ = nullptr;
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = other.handle_;
            other.handle_ = nullptr;
        }
        return *this;
    }

    explicit operator bool() const { return handle_ != nullptr; }
    HANDLE get() const { return handle_; }
    void reset() {
        if (handle_) CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    HANDLE handle_ = nullptr;
};

}  // namespace nimbo
