// The agent stand-in's record of what it received and did: one UTF-8 line per
// event, written at once, so a test can read it while the agent runs.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "support/unique_any.h"

namespace cvagent {

class agent_log_t {
 public:
  // Appends to `file`; with no file, lines go to standard output.
  bool open(const std::wstring* file);
  void line(std::string_view text);

 private:
  support::unique_file m_file;
  HANDLE m_out = nullptr;
};

std::string hex_bytes(std::span<const std::uint8_t> bytes);
std::string utf8(std::wstring_view text);
std::wstring wide(std::string_view utf8_text);
std::string hex32(std::uint32_t value);  // "0x0000ABCD"

}  // namespace cvagent
