// COM without ATL: RAII for BSTR, VARIANT and interface pointers, and a small
// base for reference-counted objects with a one-line-per-interface QI table.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <utility>

#include "support/hresult.h"

namespace support {

class unique_bstr {
 public:
  unique_bstr() noexcept = default;
  explicit unique_bstr(BSTR b) noexcept : m_b(b) {}
  // Allocates a copy; throws E_OUTOFMEMORY.
  static unique_bstr from(const wchar_t* text, std::size_t length) {
    BSTR b = ::SysAllocStringLen(text, static_cast<UINT>(length));
    if (b == nullptr)
      THROW_HR(E_OUTOFMEMORY);
    return unique_bstr(b);
  }
  static unique_bstr from(const std::wstring& text) { return from(text.c_str(), text.size()); }
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  unique_bstr(unique_bstr&& o) noexcept : m_b(o.release()) {}
  unique_bstr& operator=(unique_bstr&& o) noexcept {
    if (this != &o)
      reset(o.release());
    return *this;
  }
  ~unique_bstr() { reset(); }
  BSTR get() const noexcept { return m_b; }
  BSTR release() noexcept { return std::exchange(m_b, nullptr); }
  void reset(BSTR b = nullptr) noexcept { ::SysFreeString(std::exchange(m_b, b)); }
  BSTR* put() noexcept {
    reset();
    return &m_b;
  }
  std::wstring str() const { return m_b ? std::wstring(m_b, ::SysStringLen(m_b)) : std::wstring(); }

 private:
  BSTR m_b = nullptr;
};

class unique_variant {
 public:
  unique_variant() noexcept { ::VariantInit(&m_v); }
  ~unique_variant() { ::VariantClear(&m_v); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  VARIANT* get() noexcept { return &m_v; }
  const VARIANT* get() const noexcept { return &m_v; }
  VARIANT* operator->() noexcept { return &m_v; }

 private:
  VARIANT m_v;
};

template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  explicit com_ptr(T* p) noexcept : m_p(p) {}  // takes ownership of one reference
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  com_ptr(com_ptr&& o) noexcept : m_p(std::exchange(o.m_p, nullptr)) {}
  ~com_ptr() { reset(); }
  T* get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }
  void reset() noexcept {
    if (T* p = std::exchange(m_p, nullptr))
      p->Release();
  }
  T** put() noexcept {
    reset();
    return &m_p;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

 private:
  T* m_p = nullptr;
};

// One entry of a QueryInterface table: the interface id and the offset of the
// interface's vtable pointer inside the object.
struct qi_entry {
  const IID* iid;
  std::ptrdiff_t offset;
};

// Looks iid up in a table ending with {nullptr, 0}; IUnknown is the first entry.
HRESULT query_interface_from_table(void* object, const qi_entry* table, REFIID iid, void** out);

template <typename Interface, typename Class>
std::ptrdiff_t interface_offset() {
  // Offset of the Interface base inside Class, found by converting a fake address.
  alignas(Class) static char probe[sizeof(Class)];
  Class* object = reinterpret_cast<Class*>(probe);
  return reinterpret_cast<char*>(static_cast<Interface*>(object)) - probe;
}

}  // namespace support

#define QI_ENTRY(Class, Interface, iid) \
  { &(iid), ::support::interface_offset<Interface, Class>() }
