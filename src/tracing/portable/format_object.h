// The tracing library's own format object: a printf-style format whose
// arguments are fed in one at a time, rendered to a wide string:
//   trace_text(tracecore::format_t(L"%-8s|%+05d") % "name" % 42);
// Understands the flags "-+0 #", width, precision and the length modifiers
// h, l, ll and L. A directive without an argument is rendered as written;
// surplus arguments are ignored. Narrow strings are read as UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tracecore {

class format_t {
 public:
  explicit format_t(std::wstring_view format);
  explicit format_t(std::string_view format);

  format_t& operator%(int v) { return push(static_cast<std::int64_t>(v)); }
  format_t& operator%(long v) { return push(static_cast<std::int64_t>(v)); }
  format_t& operator%(long long v) { return push(static_cast<std::int64_t>(v)); }
  format_t& operator%(short v) { return push(static_cast<std::int64_t>(v)); }
  format_t& operator%(unsigned v) { return push(static_cast<std::uint64_t>(v)); }
  format_t& operator%(unsigned long v) { return push(static_cast<std::uint64_t>(v)); }
  format_t& operator%(unsigned long long v) { return push(static_cast<std::uint64_t>(v)); }
  format_t& operator%(unsigned short v) { return push(static_cast<std::uint64_t>(v)); }
  format_t& operator%(double v) { return push(v); }
  format_t& operator%(char v) {
    return push(static_cast<std::int64_t>(static_cast<unsigned char>(v)));
  }
  format_t& operator%(wchar_t v) { return push(static_cast<std::int64_t>(v)); }
  format_t& operator%(const char* v) { return push(narrow_text(v)); }
  format_t& operator%(const wchar_t* v) { return push(wide_text(v)); }
  format_t& operator%(const std::string& v) { return push(narrow_text(v)); }
  format_t& operator%(const std::wstring& v) { return push(std::wstring(v)); }
  format_t& operator%(const void* v) {
    return push(pointer_t{reinterpret_cast<std::uintptr_t>(v)});
  }

  std::wstring str() const;

 private:
  struct pointer_t {
    std::uintptr_t value;
  };
  using argument_t = std::variant<std::int64_t, std::uint64_t, double, std::wstring, pointer_t>;

  static std::wstring narrow_text(std::string_view utf8);
  static std::wstring wide_text(const wchar_t* text) {
    return text ? std::wstring(text) : L"(null)";
  }
  static std::wstring narrow_text(const char* text) {
    return text ? narrow_text(std::string_view(text)) : std::wstring(L"(null)");
  }

  template <typename T>
  format_t& push(T&& value) {
    m_arguments.emplace_back(std::forward<T>(value));
    return *this;
  }

  std::wstring m_format;
  std::vector<argument_t> m_arguments;
};

}  // namespace tracecore
