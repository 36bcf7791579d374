// Owns one Windows handle and closes it exactly once, when the owner goes or is reset.
// Move-only. Windows only.
#ifndef KESTRO_WIN_SCOPED_HANDLE_H_
#define KESTRO_WIN_SCOPED_HANDLE_H_

#include <windows.h>

#include <utility>

namespace kestro {

template <typename Traits>
class GenericScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  GenericScopedHandle() = default;
  explicit GenericScopedHandle(Handle handle) : handle_(handle) {}
  ~GenericScopedHandle() { Close(); }
  GenericScopedHandle(GenericScopedHandle&& other) noexcept : handle_(other.Release()) {}
  GenericScopedHandle& operator=(GenericScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  GenericScopedHandle(const GenericScopedHandle&) = delete;
  GenericScopedHandle& operator=(const GenericScopedHandle&) = delete;

  bool IsValid() const { return Traits::IsValid(handle_); }
  Handle Get() const { return handle_; }

  // Closes the held handle, if valid, and takes `handle`.
  void Reset(Handle handle = Traits::Invalid()) {
    Close();
    handle_ = handle;
  }

  // Gives up ownership without closing.
  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }

 private:
  void Close() {
    if (Traits::IsValid(handle_)) Traits::Close(handle_);
    handle_ = Traits::Invalid();
  }

  Handle handle_ = Traits::Invalid();
};

// Kernel handles: files, mutexes, events, processes, threads. The API answers failure with null
// or INVALID_HANDLE_VALUE depending on the call, so both count as "no handle".
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsValid(Handle handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }
  static void Close(Handle handle) { ::CloseHandle(handle); }
};

using ScopedHandle = GenericScopedHandle<KernelHandleTraits>;

}  // namespace kestro

#endif  // KESTRO_WIN_SCOPED_HANDLE_H_
