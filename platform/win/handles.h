#pragma once

#include <windows.h>

#include <memory>
#include <utility>

namespace platform {

// Owns one Win32 handle. Traits say which value means "none" (NULL for
// events and threads, INVALID_HANDLE_VALUE for files and ports) and how to
// close, so a failed create is never mistaken for a handle. Closing keeps
// the thread's last error: `h.reset(Create(...)); if (!h) GetLastError()`
// reports the create's failure, not the close's.
template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Value value) noexcept : value_(value) {}
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Value get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::None(); }
  Value release() noexcept { return std::exchange(value_, Traits::None()); }
  void reset(Value value = Traits::None()) noexcept {
    // Taken out first: closing may call back into the owner (a window's
    // WM_NCDESTROY releases its handle), which must find it gone.
    const Value old = std::exchange(value_, value);
    if (old == Traits::None()) return;
    const DWORD error = ::GetLastError();
    Traits::Close(old);
    ::SetLastError(error);
  }
  // For an out-parameter: what was held is closed, and the call writes the
  // new handle straight into this one.
  Value* put() noexcept {
    reset();
    return &value_;
  }

 private:
  Value value_ = Traits::None();
};

struct KernelHandleTraits {
  using Value = HANDLE;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::CloseHandle(value); }
};

struct FileHandleTraits {
  using Value = HANDLE;
  static Value None() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) noexcept { ::CloseHandle(value); }
};

struct RegistryKeyTraits {
  using Value = HKEY;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::RegCloseKey(value); }
};

// A wait registered with the thread pool. Its end waits for a callback
// that is running, so nothing the callback uses goes before it.
struct RegisteredWaitTraits {
  using Value = HANDLE;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::UnregisterWaitEx(value, INVALID_HANDLE_VALUE); }
};

struct EventSourceTraits {
  using Value = HANDLE;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::DeregisterEventSource(value); }
};

template <typename GdiObject>
struct GdiObjectTraits {
  using Value = GdiObject;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::DeleteObject(value); }
};

struct MenuTraits {
  using Value = HMENU;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::DestroyMenu(value); }
};

// A window this object made and must destroy, unless it went first: the
// window's WM_NCDESTROY handler then calls release().
struct WindowTraits {
  using Value = HWND;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::DestroyWindow(value); }
};

struct GlobalMemoryTraits {
  using Value = HGLOBAL;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::GlobalFree(value); }
};

struct EnhancedMetafileTraits {
  using Value = HENHMETAFILE;
  static Value None() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::DeleteEnhMetaFile(value); }
};

using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using UniqueHKey = UniqueHandle<RegistryKeyTraits>;
using RegisteredWait = UniqueHandle<RegisteredWaitTraits>;
using EventSource = UniqueHandle<EventSourceTraits>;
using UniqueFont = UniqueHandle<GdiObjectTraits<HFONT>>;
using UniqueBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using UniqueMenu = UniqueHandle<MenuTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;
// Memory from GlobalAlloc, until the clipboard takes it.
using UniqueGlobal = UniqueHandle<GlobalMemoryTraits>;
using UniqueEnhancedMetafile = UniqueHandle<EnhancedMetafileTraits>;

// Memory the system allocated for the caller with LocalAlloc
// (CommandLineToArgvW, FormatMessage with FORMAT_MESSAGE_ALLOCATE_BUFFER).
struct LocalMemoryDeleter {
  void operator()(void* memory) const noexcept { ::LocalFree(memory); }
};
template <typename Pointee>
using UniqueLocalMemory = std::unique_ptr<Pointee, LocalMemoryDeleter>;

// A window's (or, with none, the screen's) device context from GetDC, given
// back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ::ReleaseDC(window_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// An object selected into a device context for this scope; what was
// selected before goes back at its end.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
  ~SelectedObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace platform
