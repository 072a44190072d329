#pragma once

#include <windows.h>

#include <utility>

namespace platform {

// Owns one Win32 handle. Traits say which value means "none" (NULL for
// events and threads, INVALID_HANDLE_VALUE for files and ports) and how to
// close, so a failed create is never mistaken for a handle.
template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() = default;
  explicit UniqueHandle(Value value) : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Value get() const { return value_; }
  explicit operator bool() const { return value_ != Traits::None(); }
  Value release() { return std::exchange(value_, Traits::None()); }
  void reset(Value value = Traits::None()) {
    if (*this) Traits::Close(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::None();
};

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value None() { return nullptr; }
  static void Close(Value value) { ::CloseHandle(value); }
};

struct FileHandleTraits {
  using Value = HANDLE;
  static Value None() { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) { ::CloseHandle(value); }
};

struct RegistryKeyTraits {
  using Value = HKEY;
  static Value None() { return nullptr; }
  static void Close(Value value) { ::RegCloseKey(value); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using UniqueHKey = UniqueHandle<RegistryKeyTraits>;

}  // namespace platform
