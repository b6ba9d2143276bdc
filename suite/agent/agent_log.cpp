#include "suite/agent/agent_log.h"

#include <cstdio>

namespace cvagent {

bool agent_log_t::open(const std::wstring* file) {
  if (!file) {
    m_out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    return true;
  }
  m_file.reset(::CreateFileW(file->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  m_out = m_file.get();
  return static_cast<bool>(m_file);
}

void agent_log_t::line(std::string_view text) {
  if (!m_out || m_out == INVALID_HANDLE_VALUE)
    return;
  std::string out(text);
  out += '\n';
  DWORD written = 0;
  ::WriteFile(m_out, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
}

std::string hex_bytes(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const std::uint8_t b : bytes) {
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

std::string utf8(std::wstring_view text) {
  if (text.empty())
    return {};
  const int length = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length,
                        nullptr, nullptr);
  return out;
}

std::wstring wide(std::string_view utf8_text) {
  if (utf8_text.empty())
    return {};
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(),
                                           static_cast<int>(utf8_text.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8_text.data(), static_cast<int>(utf8_text.size()),
                        out.data(), length);
  return out;
}

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace cvagent
