// Owners for the COM values the host exchanges with a plug-in: interface
// pointers, BSTRs, VARIANTs and SAFEARRAYs.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace cvhost {

// Holds one reference to an interface.
template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(const com_ptr&) = delete;
  com_ptr& operator=(const com_ptr&) = delete;
  com_ptr(com_ptr&& other) noexcept : m_p(std::exchange(other.m_p, nullptr)) {}
  com_ptr& operator=(com_ptr&& other) noexcept {
    if (this != &other)
      reset(std::exchange(other.m_p, nullptr));
    return *this;
  }
  ~com_ptr() { reset(); }

  // Takes over a reference the caller already owns.
  static com_ptr attach(T* p) noexcept {
    com_ptr result;
    result.m_p = p;
    return result;
  }

  T* get() const noexcept { return m_p; }
  T* operator->() const noexcept { return m_p; }
  explicit operator bool() const noexcept { return m_p != nullptr; }
  // The remaining reference count as Release reports it, or 0 when empty.
  ULONG reset(T* p = nullptr) noexcept {
    T* const old = std::exchange(m_p, p);
    return old ? old->Release() : 0;
  }
  // For out-parameters of QueryInterface and creation functions.
  void** put_void() noexcept {
    reset();
    return reinterpret_cast<void**>(&m_p);
  }

  template <typename U>
  HRESULT query(REFIID iid, com_ptr<U>& result) const noexcept {
    return m_p->QueryInterface(iid, result.put_void());
  }

 private:
  T* m_p = nullptr;
};

class unique_bstr {
 public:
  unique_bstr() noexcept = default;
  explicit unique_bstr(BSTR value) noexcept : m_value(value) {}
  unique_bstr(const unique_bstr&) = delete;
  unique_bstr& operator=(const unique_bstr&) = delete;
  ~unique_bstr() { ::SysFreeString(m_value); }

  BSTR get() const noexcept { return m_value; }
  BSTR* put() noexcept {
    ::SysFreeString(std::exchange(m_value, nullptr));
    return &m_value;
  }
  // A null BSTR stands for the empty string.
  const wchar_t* text() const noexcept { return m_value ? m_value : L""; }

 private:
  BSTR m_value = nullptr;
};

class unique_variant {
 public:
  unique_variant() noexcept { ::VariantInit(&m_value); }
  unique_variant(const unique_variant&) = delete;
  unique_variant& operator=(const unique_variant&) = delete;
  ~unique_variant() { ::VariantClear(&m_value); }

  VARIANT* get() noexcept { return &m_value; }
  const VARIANT& operator*() const noexcept { return m_value; }
  VARTYPE type() const noexcept { return m_value.vt; }

 private:
  VARIANT m_value;
};

class unique_safearray {
 public:
  unique_safearray() noexcept = default;
  explicit unique_safearray(SAFEARRAY* value) noexcept : m_value(value) {}
  unique_safearray(const unique_safearray&) = delete;
  unique_safearray& operator=(const unique_safearray&) = delete;
  ~unique_safearray() {
    if (m_value)
      ::SafeArrayDestroy(m_value);
  }

  SAFEARRAY* get() const noexcept { return m_value; }
  explicit operator bool() const noexcept { return m_value != nullptr; }
  SAFEARRAY* release() noexcept { return std::exchange(m_value, nullptr); }

 private:
  SAFEARRAY* m_value = nullptr;
};

// Access to the elements of a SAFEARRAY for the lifetime of the object.
class safearray_data {
 public:
  explicit safearray_data(SAFEARRAY* array) noexcept : m_array(array) {
    m_status = ::SafeArrayAccessData(m_array, &m_data);
  }
  safearray_data(const safearray_data&) = delete;
  safearray_data& operator=(const safearray_data&) = delete;
  ~safearray_data() {
    if (SUCCEEDED(m_status))
      ::SafeArrayUnaccessData(m_array);
  }

  HRESULT status() const noexcept { return m_status; }
  void* data() const noexcept { return m_data; }

 private:
  SAFEARRAY* m_array;
  void* m_data = nullptr;
  HRESULT m_status;
};

}  // namespace cvhost
