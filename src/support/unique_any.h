// One RAII owner for every kind of Win32 handle: a one-line alias per kind.
#pragma once

#include <windows.h>

#include <utility>

namespace support {

template <typename T, typename CloseFn, CloseFn Close, T Invalid = T{}>
class unique_any {
 public:
  unique_any() noexcept = default;
  explicit unique_any(T value) noexcept : m_value(value) {}
  unique_any(const unique_any&) = delete;
  unique_any& operator=(const unique_any&) = delete;
  unique_any(unique_any&& other) noexcept : m_value(other.release()) {}
  unique_any& operator=(unique_any&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  ~unique_any() { reset(); }

  T get() const noexcept { return m_value; }
  explicit operator bool() const noexcept { return m_value != Invalid; }
  T release() noexcept { return std::exchange(m_value, Invalid); }
  void reset(T value = Invalid) noexcept {
    const T old = std::exchange(m_value, value);
    if (old != Invalid) {
      // Closing must not disturb the caller's last error.
      const DWORD last_error = ::GetLastError();
      Close(old);
      ::SetLastError(last_error);
    }
  }
  // For out-parameters of creation functions: releases the current value first.
  T* put() noexcept {
    reset();
    return &m_value;
  }

 private:
  T m_value = Invalid;
};

using unique_handle = unique_any<HANDLE, decltype(&::CloseHandle), ::CloseHandle>;
using unique_hkey = unique_any<HKEY, decltype(&::RegCloseKey), ::RegCloseKey>;
using unique_hmodule = unique_any<HMODULE, decltype(&::FreeLibrary), ::FreeLibrary>;
using unique_local = unique_any<HLOCAL, decltype(&::LocalFree), ::LocalFree>;
using unique_hicon = unique_any<HICON, decltype(&::DestroyIcon), ::DestroyIcon>;
using unique_hmenu = unique_any<HMENU, decltype(&::DestroyMenu), ::DestroyMenu>;

// File handles use INVALID_HANDLE_VALUE, which is not a constant expression.
class unique_file {
 public:
  unique_file() noexcept = default;
  explicit unique_file(HANDLE h) noexcept : m_h(h) {}
  unique_file(const unique_file&) = delete;
  unique_file& operator=(const unique_file&) = delete;
  unique_file(unique_file&& o) noexcept : m_h(o.release()) {}
  unique_file& operator=(unique_file&& o) noexcept {
    if (this != &o)
      reset(o.release());
    return *this;
  }
  ~unique_file() { reset(); }
  HANDLE get() const noexcept { return m_h; }
  explicit operator bool() const noexcept { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }
  HANDLE release() noexcept { return std::exchange(m_h, INVALID_HANDLE_VALUE); }
  void reset(HANDLE h = INVALID_HANDLE_VALUE) noexcept {
    const HANDLE old = std::exchange(m_h, h);
    if (old != INVALID_HANDLE_VALUE && old != nullptr) {
      const DWORD last_error = ::GetLastError();
      ::CloseHandle(old);
      ::SetLastError(last_error);
    }
  }

 private:
  HANDLE m_h = INVALID_HANDLE_VALUE;
};

// A critical section that lives as long as its owner; scoped_lock below takes it.
class critical_section {
 public:
  critical_section() noexcept { ::InitializeCriticalSection(&m_cs); }
  ~critical_section() { ::DeleteCriticalSection(&m_cs); }
  critical_section(const critical_section&) = delete;
  critical_section& operator=(const critical_section&) = delete;
  void lock() noexcept { ::EnterCriticalSection(&m_cs); }
  void unlock() noexcept { ::LeaveCriticalSection(&m_cs); }

 private:
  CRITICAL_SECTION m_cs;
};

template <typename Lock>
class scoped_lock {
 public:
  explicit scoped_lock(Lock& lock) noexcept : m_lock(lock) { m_lock.lock(); }
  ~scoped_lock() { m_lock.unlock(); }
  scoped_lock(const scoped_lock&) = delete;
  scoped_lock& operator=(const scoped_lock&) = delete;

 private:
  Lock& m_lock;
};

// Runs a callable when the scope ends (also during unwinding).
template <typename F>
class scope_exit {
 public:
  explicit scope_exit(F f) noexcept : m_f(std::move(f)) {}
  ~scope_exit() {
    if (m_active)
      m_f();
  }
  void release() noexcept { m_active = false; }
  scope_exit(const scope_exit&) = delete;
  scope_exit& operator=(const scope_exit&) = delete;

 private:
  F m_f;
  bool m_active = true;
};

}  // namespace support
