#include "output.h"

#include <cstdio>

#include "support/unique_any.h"

namespace cvhost {

std::string utf8(std::wstring_view text) {
  if (text.empty())
    return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string result(length > 0 ? length : 0, '\0');
  if (length > 0)
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          length, nullptr, nullptr);
  return result;
}

std::wstring wide(std::string_view text) {
  if (text.empty())
    return {};
  const int length =
      ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(length > 0 ? length : 0, L'\0');
  if (length > 0)
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          length);
  return result;
}

std::string hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

namespace {

std::string system_text(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  const support::unique_local owner(buffer);
  if (length == 0 || buffer == nullptr)
    return {};
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' '))
    text.remove_suffix(1);
  return utf8(text);
}

}  // namespace

std::string error_text(DWORD code) {
  std::string text = system_text(code);
  return text.empty() ? "unknown error" : text;
}

std::string hresult_text(HRESULT hr) {
  std::string text = system_text(static_cast<DWORD>(hr));
  // Not every system carries the texts of Win32 codes in HRESULT form.
  if (text.empty() && HRESULT_FACILITY(hr) == FACILITY_WIN32)
    text = system_text(HRESULT_CODE(hr));
  return text.empty() ? "unknown error" : text;
}

void print_result(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void print_message(const std::string& line) {
  std::fputs("cvhost: ", stderr);
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace cvhost
