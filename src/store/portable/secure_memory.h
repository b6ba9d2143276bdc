// Wiping of memory that may hold secrets (passwords, profile values) before it
// goes back to the heap, and a wide string type that does so by itself.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "support/portable/secure_wipe.h"

namespace serialization {

using support::secure_wipe;

// An allocator that wipes every block it frees (also the old buffer a growing
// container leaves behind).
template <typename T>
struct wiping_allocator {
  using value_type = T;
  wiping_allocator() noexcept = default;
  template <typename U>
  wiping_allocator(const wiping_allocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return std::allocator<T>().allocate(n); }
  void deallocate(T* p, std::size_t n) noexcept {
    secure_wipe(p, n * sizeof(T));
    std::allocator<T>().deallocate(p, n);
  }
  template <typename U>
  bool operator==(const wiping_allocator<U>&) const noexcept {
    return true;
  }
};

// A wide string for secret values. The characters always live on the heap (a
// standard string would keep short texts inside the object, where no allocator
// sees them), so every buffer it ever used is wiped when it is given back.
class secure_wstring {
 public:
  secure_wstring() noexcept = default;
  secure_wstring(std::wstring_view text) { assign(text); }
  secure_wstring(const wchar_t* text) {
    assign(text ? std::wstring_view(text) : std::wstring_view());
  }
  secure_wstring(const wchar_t* text, std::size_t length) {
    assign(text ? std::wstring_view(text, length) : std::wstring_view());
  }
  secure_wstring(const secure_wstring&) = default;
  secure_wstring& operator=(const secure_wstring&) = default;
  secure_wstring(secure_wstring&&) noexcept = default;
  secure_wstring& operator=(secure_wstring&&) noexcept = default;
  secure_wstring& operator=(std::wstring_view text) {
    assign(text);
    return *this;
  }
  secure_wstring& operator=(const wchar_t* text) {
    assign(text ? std::wstring_view(text) : std::wstring_view());
    return *this;
  }

  // Keeps the characters followed by a terminator; an empty text keeps nothing.
  void assign(std::wstring_view text) {
    clear();
    if (text.empty())
      return;
    m_chars.reserve(text.size() + 1);
    m_chars.assign(text.begin(), text.end());
    m_chars.push_back(L'\0');
  }
  // Makes the string length characters long (zeros, to be overwritten) and
  // returns them.
  wchar_t* allocate(std::size_t length) {
    clear();
    if (length == 0)
      return nullptr;
    m_chars.resize(length + 1, L'\0');
    return m_chars.data();
  }
  void clear() noexcept {
    secure_wipe(m_chars.data(), m_chars.size() * sizeof(wchar_t));
    m_chars.clear();
  }

  const wchar_t* c_str() const noexcept { return m_chars.empty() ? L"" : m_chars.data(); }
  std::size_t size() const noexcept { return m_chars.empty() ? 0 : m_chars.size() - 1; }
  bool empty() const noexcept { return m_chars.empty(); }
  std::wstring_view view() const noexcept { return std::wstring_view(c_str(), size()); }
  operator std::wstring_view() const noexcept { return view(); }

  friend bool operator==(const secure_wstring& a, const secure_wstring& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const secure_wstring& a, std::wstring_view b) noexcept {
    return a.view() == b;
  }

 private:
  // Empty, or the characters and a terminator. A moved-from vector is empty,
  // which is again the empty string.
  std::vector<wchar_t, wiping_allocator<wchar_t>> m_chars;
};

}  // namespace serialization
